#include <windows.h>

#include <dbghelp.h>

#include "zel/platform/ZELCrashReport.h"

#include <atomic>
#include <cstring>

namespace ZELPlatform {

namespace {

using WriteDumpFunction = BOOL(WINAPI*)(HANDLE process, DWORD processId, HANDLE file, MINIDUMP_TYPE type,
    PMINIDUMP_EXCEPTION_INFORMATION exception, PMINIDUMP_USER_STREAM_INFORMATION userStreams,
    PMINIDUMP_CALLBACK_INFORMATION callback);

std::atomic<WriteDumpFunction> g_writeDump{nullptr};

// DBGHELP.DLL beside the program first: a newer one shipped with it takes the place of the system's.
HMODULE LoadDumpLibrary()
{
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length > 0 && length < sizeof path) {
        char* name = std::strrchr(path, '\\');
        constexpr char kName[] = "DBGHELP.DLL";
        if (name != nullptr && static_cast<std::size_t>(name + 1 - path) + sizeof kName <= sizeof path) {
            std::memcpy(name + 1, kName, sizeof kName);
            if (const HMODULE module = ::LoadLibraryA(path))
                return module;
        }
    }
    return ::LoadLibraryA("DBGHELP.DLL");
}

} // namespace

CrashReportWriter FindCrashReportWriter()
{
    if (g_writeDump.load() != nullptr)
        return CrashReportWriter::Available;
    const HMODULE module = LoadDumpLibrary();
    if (module == nullptr)
        return CrashReportWriter::Missing;
    const auto writeDump =
        reinterpret_cast<WriteDumpFunction>(reinterpret_cast<void*>(::GetProcAddress(module, "MiniDumpWriteDump")));
    if (writeDump == nullptr) {
        ::FreeLibrary(module);
        return CrashReportWriter::Incompatible;
    }
    // Stays loaded for the rest of the process.
    g_writeDump.store(writeDump);
    return CrashReportWriter::Available;
}

int WriteCrashReport(int fd, const CrashInfo& info, const CrashReportContext& context)
{
    const WriteDumpFunction writeDump = g_writeDump.load();
    if (writeDump == nullptr)
        return ERROR_MOD_NOT_FOUND;
    // The exception belongs to the faulting thread, which may not be the one writing the dump (a
    // stack overflow's is written by a thread of its own).
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = static_cast<DWORD>(info.threadId);
    exception.ExceptionPointers = static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(info.machineContext));
    exception.ClientPointers = FALSE;
    ::SetLastError(0);
    if (writeDump(::GetCurrentProcess(), ::GetCurrentProcessId(), ::LongToHandle(fd),
            static_cast<MINIDUMP_TYPE>(context.dumpType), info.machineContext != nullptr ? &exception : nullptr, nullptr,
            nullptr))
        return 0;
    const DWORD error = ::GetLastError();
    // The writer reports an HRESULT; E_FAIL where it left none.
    return error != 0 ? static_cast<int>(error) : static_cast<int>(0x80004005);
}

} // namespace ZELPlatform
