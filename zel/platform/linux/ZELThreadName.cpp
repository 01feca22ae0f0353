#include "zel/platform/ZELThreadName.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ZELPlatform {

unsigned long GetCurrentThreadId()
{
    return static_cast<unsigned long>(::syscall(SYS_gettid));
}

void SetCurrentThreadName(const std::string& name)
{
    constexpr std::size_t kKernelLimit = 15;
    const std::string cut = name.substr(0, kKernelLimit);
    ::pthread_setname_np(::pthread_self(), cut.c_str());
}

void SetThreadName(std::thread::native_handle_type thread, unsigned long, const std::string& name)
{
    constexpr std::size_t kKernelLimit = 15;
    const std::string cut = name.substr(0, kKernelLimit);
    ::pthread_setname_np(thread, cut.c_str());
}

std::string GetCurrentThreadName()
{
    char name[16] = {};
    if (::pthread_getname_np(::pthread_self(), name, sizeof name) != 0)
        return {};
    return name;
}

} // namespace ZELPlatform
