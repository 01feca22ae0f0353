#include "zel/platform/windows/ZELWindows.h"

#include "zel/platform/ZELThreadName.h"
#include "zel/platform/windows/ZELWideText.h"

#include <pthread.h>

namespace ZELPlatform {

namespace {

using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);

// Found at run time: systems before Windows 10 1607 do not have them.
template <typename Function>
Function Kernel32Function(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

// The debugger's naming convention: exception 0x406D1388 with the name, raised only while a
// debugger is attached (without one, nobody would handle it).
#pragma pack(push, 8)
struct ThreadNameInfo
{
    DWORD type = 0x1000;
    LPCSTR name = nullptr;
    DWORD threadId = 0;
    DWORD flags = 0;
};
#pragma pack(pop)

LONG WINAPI IgnoreNameException(EXCEPTION_POINTERS* exception)
{
    return exception->ExceptionRecord->ExceptionCode == 0x406D1388 ? EXCEPTION_CONTINUE_EXECUTION
                                                                    : EXCEPTION_CONTINUE_SEARCH;
}

void TellDebugger(DWORD threadId, const std::string& name)
{
    if (!::IsDebuggerPresent())
        return;
    ThreadNameInfo info;
    info.name = name.c_str();
    info.threadId = threadId;
    // MinGW has no __try: a first vectored handler continues after the debugger has seen it.
    void* handler = ::AddVectoredExceptionHandler(1, &IgnoreNameException);
    ::RaiseException(0x406D1388, 0, sizeof info / sizeof(ULONG_PTR), reinterpret_cast<const ULONG_PTR*>(&info));
    if (handler != nullptr)
        ::RemoveVectoredExceptionHandler(handler);
}

} // namespace

unsigned long GetCurrentThreadId()
{
    return ::GetCurrentThreadId();
}

namespace {

void NameThread(HANDLE thread, DWORD threadId, const std::string& name)
{
    if (const auto set = Kernel32Function<SetDescription>("SetThreadDescription"))
        set(thread, ToWide(name).c_str());
    TellDebugger(threadId, name);
}

} // namespace

void SetThreadName(std::thread::native_handle_type thread, unsigned long threadId, const std::string& name)
{
    // The C++ threads of this runtime are POSIX threads over Win32 ones.
    NameThread(reinterpret_cast<HANDLE>(::pthread_gethandle(thread)), threadId, name);
}

void SetCurrentThreadName(const std::string& name)
{
    NameThread(::GetCurrentThread(), ::GetCurrentThreadId(), name);
}

std::string GetCurrentThreadName()
{
    const auto get = Kernel32Function<GetDescription>("GetThreadDescription");
    PWSTR description = nullptr;
    if (get == nullptr || FAILED(get(::GetCurrentThread(), &description)) || description == nullptr)
        return {};
    std::string name = FromWide(description);
    ::LocalFree(description);
    return name;
}

} // namespace ZELPlatform
