#pragma once

namespace ZELPlatform {

enum class HeapState
{
    Valid,
    Corrupted,   // the allocator found a damaged block
    CheckFailed, // the check could not run; the errno is in `error`
};

// Lets glibc's allocator walk and consolidate every arena of the process, with its own consistency
// checks, in a copy of the process (a forked child), so that a damaged heap ends the copy instead
// of this process and can be reported. Builds with a sanitizer allocator see only glibc's unused
// arenas and always find them valid.
HeapState CheckHeapInChild(int& error);

// Damages the allocator's bookkeeping as a stray write does: the header of a freed block is
// overwritten. The block lies in the arena of a short-lived thread, so the rest of the process can
// still allocate (the crash report does) until the check finds it.
void DamageHeap();

} // namespace ZELPlatform
