// Stands in for a DBGHELP.DLL of the wrong kind: it loads, but has no MiniDumpWriteDump.
extern "C" int ZELNothingToDumpWith()
{
    return 0;
}
