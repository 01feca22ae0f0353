#pragma once

namespace ZELPlatform {

enum class HeapState
{
    Valid,
    Corrupted,   // a damaged heap was found
    OutOfMemory, // the check could not run for want of memory (or of a process, on Linux)
    CheckFailed, // the check could not run for another reason
};

// Checks every heap of the process.
// Linux: lets glibc's allocator walk and consolidate every arena of the process, with its own
// consistency checks, in a copy of the process (a forked child), so that a damaged heap ends the
// copy instead of this process and can be reported. Builds with a sanitizer allocator see only
// glibc's unused arenas and always find them valid.
// Windows: validates each heap of GetProcessHeaps in order and stops at the first damaged one;
// CheckFailed when the number of heaps changes between the two calls that list them.
HeapState CheckHeaps();

// Damages the allocator's bookkeeping as a stray write does, so that CheckHeaps finds it while the
// rest of the process can still allocate (the crash report does).
// Linux: the header of a freed block is overwritten, in the arena of a short-lived thread.
// Windows: the header of a block of a private heap is overwritten.
void DamageHeap();

// Asks the platform to end the process when its allocator finds a damaged heap; cannot be undone.
// Linux: glibc's allocator always aborts on a damaged block, and the abort ends in a crash report:
// true. Windows: HeapSetInformation with HeapEnableTerminationOnCorruption for every heap.
bool EnableTerminationOnHeapCorruption();

} // namespace ZELPlatform
