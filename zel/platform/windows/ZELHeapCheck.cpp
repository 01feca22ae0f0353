#include <windows.h>

#include "zel/platform/ZELHeapCheck.h"

#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace ZELPlatform {

HeapState CheckHeaps()
{
    try {
        const DWORD count = ::GetProcessHeaps(0, nullptr);
        if (count == 0)
            return HeapState::Valid;
        std::vector<HANDLE> heaps(count);
        if (::GetProcessHeaps(count, heaps.data()) != count)
            return HeapState::CheckFailed; // a heap was made or destroyed in between
        for (const HANDLE heap : heaps) {
            if (!::HeapValidate(heap, 0, nullptr))
                return HeapState::Corrupted;
        }
        return HeapState::Valid;
    } catch (const std::bad_alloc&) {
        return HeapState::OutOfMemory;
    } catch (const std::exception&) {
        return HeapState::CheckFailed;
    }
}

void DamageHeap()
{
    // A heap of its own, never used again, so that nothing else in the process trips over the
    // damage before the check finds it. The block's header lies just before the block; the 16
    // bytes cover it on every heap layout.
    const HANDLE heap = ::HeapCreate(0, 0, 0);
    if (heap == nullptr)
        return;
    auto* block = static_cast<unsigned char*>(::HeapAlloc(heap, 0, 24));
    if (block == nullptr)
        return;
    volatile unsigned char* header = block - 16;
    for (int i = 0; i < 16; ++i)
        header[i] = 0x5A;
}

bool EnableTerminationOnHeapCorruption()
{
    return ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0) != FALSE;
}

} // namespace ZELPlatform
