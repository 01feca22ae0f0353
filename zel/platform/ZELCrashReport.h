#pragma once

#include "zel/platform/ZELCrashSignals.h"

namespace ZELPlatform {

// Writes the crash report of `info` to `fd`: the fault, the registers and the back-trace of the
// faulting thread as addresses, every thread of the process with its name and the memory map, all
// without allocating; with `symbolise`, last, the back-trace with function names, files and lines
// (that step allocates and reads debug information, so it comes after everything else is on disk).
// Returns 0 or the errno of the first write that failed.
int WriteCrashReport(int fd, const CrashInfo& info, bool symbolise);

} // namespace ZELPlatform
