#pragma once

#include "zel/platform/ZELCrashSignals.h"

namespace ZELPlatform {

// Whether the writer of crash reports can be used. Linux writes its own text report: always
// Available. Windows needs MiniDumpWriteDump of DBGHELP.DLL, loaded from the program's folder first
// and then by plain name: Missing when neither loads, Incompatible when it lacks the function.
enum class CrashReportWriter
{
    Available,
    Missing,
    Incompatible,
};

// Finds the writer; once it has been found it stays loaded, so a later call (the one in a crash)
// needs neither the loader nor its lock.
CrashReportWriter FindCrashReportWriter();

struct CrashReportContext
{
    const char* applicationName = "";
    int crashCount = 1;
    int dumpType = 0;       // minidump type flags
    bool symbolise = false; // Linux: add the back-trace with names, files and lines
};

// Writes the whole crash report of `info` to `fd` (a file of CreateReportFile); call it only after
// FindCrashReportWriter said Available.
// Linux: a text header (application, crash count, dump type), the fault, the registers and the
// back-trace of the faulting thread as addresses, every thread of the process with its name and
// the memory map, all without allocating; with `symbolise`, last, the back-trace with function
// names, files and lines (that step allocates and reads debug information, so it comes after
// everything else is on disk).
// Windows: a minidump of the process of the context's dump type, with the exception of `info`.
// Returns 0 or the platform's error code of the first step that failed (never 0 on failure).
int WriteCrashReport(int fd, const CrashInfo& info, const CrashReportContext& context);

} // namespace ZELPlatform
