#include "zel/platform/ZELHeapCheck.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace ZELPlatform {

namespace {

constexpr int kChildSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// Runs in the forked child only.
[[noreturn]] void WalkHeapAndExit()
{
    // The child must die of the allocator's abort, not write a crash report of its own.
    for (const int signal : kChildSignals)
        ::signal(signal, SIG_DFL);
    // glibc names the damage on standard error; the parent logs its own text instead.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0)
        ::dup2(null, STDERR_FILENO);
    // Consolidation checks every free fast block and its neighbours in every arena; the statistics
    // walk every free list.
    ::malloc_trim(0);
    const struct mallinfo2 info = ::mallinfo2();
    (void)info;
    ::_exit(0);
}

} // namespace

HeapState CheckHeaps()
{
    const pid_t child = ::fork();
    if (child < 0)
        return errno == ENOMEM || errno == EAGAIN ? HeapState::OutOfMemory : HeapState::CheckFailed;
    if (child == 0)
        WalkHeapAndExit();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return HeapState::CheckFailed;
    }
    if (WIFSIGNALED(status))
        return HeapState::Corrupted;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return HeapState::Valid;
    return HeapState::CheckFailed;
}

void DamageHeap()
{
    std::thread damaging([] {
        // Seven freed blocks fill this thread's cache for their size, so the eighth goes to the
        // arena's fast list, where consolidation checks its size field.
        constexpr int kCacheEntries = 7;
        void* fillers[kCacheEntries];
        for (void*& filler : fillers)
            filler = std::malloc(24);
        void* victim = std::malloc(24);
        const auto victimAddress = reinterpret_cast<std::uintptr_t>(victim);
        for (void* filler : fillers)
            std::free(filler);
        std::free(victim);
        // The size field sits just before the block: a size of another class with the in-use bit.
        const std::uintptr_t wrongSize = 0x61;
        std::memcpy(reinterpret_cast<char*>(victimAddress - sizeof wrongSize), &wrongSize, sizeof wrongSize);
    });
    damaging.join();
}

bool EnableTerminationOnHeapCorruption()
{
    return true;
}

} // namespace ZELPlatform
