#include "zel/platform/ZELCrashReport.h"

#include "zel/platform/CZELFixedText.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#define BACKWARD_HAS_DW 1
#include <backward.hpp>

#include <cstdint>
#include <string>

namespace ZELPlatform {

namespace {

constexpr int kMostFrames = 64;

// The report file; keeps the first write error.
struct Output
{
    int fd = -1;
    int error = 0;

    void Write(const char* data, std::size_t length)
    {
        const int result = WriteBytes(fd, data, length);
        if (error == 0)
            error = result;
    }
    void Write(const char* text)
    {
        const int result = WriteText(fd, text);
        if (error == 0)
            error = result;
    }
};

struct Frame
{
    std::uintptr_t address = 0; // as the unwinder reports it
    std::uintptr_t lookup = 0;  // inside the calling instruction: return addresses point past it
};

struct FrameList
{
    Frame frames[kMostFrames];
    int count = 0;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* data)
{
    auto* list = static_cast<FrameList*>(data);
    if (list->count >= kMostFrames)
        return _URC_END_OF_STACK;
    int beforeInstruction = 0;
    const std::uintptr_t address = _Unwind_GetIPInfo(context, &beforeInstruction);
    if (address == 0)
        return _URC_END_OF_STACK;
    Frame& frame = list->frames[list->count++];
    frame.address = address;
    frame.lookup = beforeInstruction != 0 ? address : address - 1;
    return _URC_NO_REASON;
}

// The frames from the fault on: the handler's own frames above it are left out.
int FirstFaultFrame(const FrameList& list, std::uintptr_t faultAddress)
{
    for (int i = 0; i < list.count; ++i) {
        if (list.frames[i].address == faultAddress)
            return i;
    }
    return 0;
}

void WriteLine(Output& out, CZELFixedText& text)
{
    text.Append('\n');
    out.Write(text.Text(), text.Length());
    text.Clear();
}

void AppendThreadName(CZELFixedText& text, long threadId)
{
    CZELFixedText path;
    path.Append("/proc/self/task/").AppendUnsigned(static_cast<std::uint64_t>(threadId)).Append("/comm");
    char name[64] = {};
    const int fd = ::open(path.Text(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t got = ::read(fd, name, sizeof name - 1);
        ::close(fd);
        if (got > 0)
            name[got] = '\0';
    }
    for (char& c : name) {
        if (c == '\n')
            c = '\0';
    }
    text.Append('"').Append(name).Append('"');
}

void WriteFault(Output& out, const CrashInfo& info)
{
    CZELFixedText text;
    text.Append("Fault");
    WriteLine(out, text);
    if (info.signal != 0) {
        text.Append("Signal: ").Append(SignalName(info.signal)).Append(" (").AppendSigned(info.signal).Append(')');
        WriteLine(out, text);
        text.Append("Code: ").Append(SignalCodeName(info.signal, info.code)).Append(" (").AppendSigned(info.code).Append(')');
        WriteLine(out, text);
        text.Append("Address: ").AppendHex(info.address);
        WriteLine(out, text);
        text.Append("Instruction: ").AppendHex(info.faultAddress);
    } else {
        text.Append("Fatal condition: ").Append(info.reason != nullptr ? info.reason : "");
        WriteLine(out, text);
        text.Append("Raised at: ").AppendHex(info.faultAddress);
    }
    WriteLine(out, text);
    text.Append("Thread: ").AppendUnsigned(info.threadId).Append(' ');
    AppendThreadName(text, static_cast<long>(info.threadId));
    WriteLine(out, text);
    if (info.nesting > 1) {
        text.Append("Raised while this thread was writing the report of an earlier fault");
        WriteLine(out, text);
    }
}

void WriteRegisters(Output& out, const CrashInfo& info)
{
    CZELFixedText text;
    text.Append("\nRegisters");
    WriteLine(out, text);
    if (info.machineContext == nullptr)
        return;
    const auto* context = static_cast<const ucontext_t*>(info.machineContext);
#if defined(__x86_64__)
    struct Register
    {
        const char* name;
        int index;
    };
    static constexpr Register kRegisters[] = {{"rip", REG_RIP}, {"rsp", REG_RSP}, {"rbp", REG_RBP},
        {"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rsi", REG_RSI},
        {"rdi", REG_RDI}, {"r8", REG_R8}, {"r9", REG_R9}, {"r10", REG_R10}, {"r11", REG_R11},
        {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14}, {"r15", REG_R15}, {"eflags", REG_EFL},
        {"err", REG_ERR}, {"trapno", REG_TRAPNO}};
    int inLine = 0;
    for (const Register& reg : kRegisters) {
        text.Append(reg.name).Append(' ').AppendHex(static_cast<std::uint64_t>(context->uc_mcontext.gregs[reg.index]));
        if (++inLine == 4) {
            WriteLine(out, text);
            inLine = 0;
        } else {
            text.Append("  ");
        }
    }
    if (inLine != 0)
        WriteLine(out, text);
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        text.Append('x').AppendUnsigned(static_cast<std::uint64_t>(i)).Append(' ').AppendHex(context->uc_mcontext.regs[i]);
        WriteLine(out, text);
    }
    text.Append("sp ").AppendHex(context->uc_mcontext.sp).Append("  pc ").AppendHex(context->uc_mcontext.pc);
    text.Append("  pstate ").AppendHex(context->uc_mcontext.pstate);
    WriteLine(out, text);
#else
    (void)context;
    text.Append("(not known for this processor)");
    WriteLine(out, text);
#endif
}

void WriteFrameAddresses(Output& out, const FrameList& list, int first)
{
    CZELFixedText text;
    text.Append("\nBack-trace addresses");
    WriteLine(out, text);
    for (int i = first; i < list.count; ++i) {
        text.Append('#').AppendUnsigned(static_cast<std::uint64_t>(i - first)).Append(' ').AppendHex(list.frames[i].address);
        WriteLine(out, text);
    }
}

struct LinuxDirent64
{
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

void WriteThreads(Output& out)
{
    CZELFixedText text;
    text.Append("\nThreads");
    WriteLine(out, text);
    const int directory = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return;
    alignas(8) char buffer[4096];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, directory, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (long offset = 0; offset < got;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
            offset += entry->length;
            if (entry->name[0] < '0' || entry->name[0] > '9')
                continue;
            long threadId = 0;
            for (const char* c = entry->name; *c >= '0' && *c <= '9'; ++c)
                threadId = threadId * 10 + (*c - '0');
            text.AppendUnsigned(static_cast<std::uint64_t>(threadId)).Append(' ');
            AppendThreadName(text, threadId);
            WriteLine(out, text);
        }
    }
    ::close(directory);
}

void WriteMemoryMap(Output& out)
{
    out.Write("\nMemory map\n");
    const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(maps, buffer, sizeof buffer);
        if (got <= 0)
            break;
        out.Write(buffer, static_cast<std::size_t>(got));
    }
    ::close(maps);
}

void WriteSymbolisedFrames(Output& out, const FrameList& list, int first)
{
    out.Write("\nBack-trace\n");
    backward::TraceResolver resolver;
    for (int i = first; i < list.count; ++i) {
        const backward::ResolvedTrace resolved = resolver.resolve(backward::ResolvedTrace(
            backward::Trace(reinterpret_cast<void*>(list.frames[i].lookup), static_cast<std::size_t>(i - first))));
        CZELFixedText address;
        address.AppendHex(list.frames[i].address);
        std::string line = "#" + std::to_string(i - first) + " " + address.Text();
        // Functions inlined at this address, innermost first, each on its own line.
        for (auto inliner = resolved.inliners.rbegin(); inliner != resolved.inliners.rend(); ++inliner) {
            line += " in " + inliner->function + " at " + inliner->filename + ":" + std::to_string(inliner->line);
            line += " (inlined)\n#" + std::to_string(i - first) + " " + address.Text();
        }
        // The symbol names the function with its class and namespace; the debug information only by name.
        const std::string& function = !resolved.object_function.empty() ? resolved.object_function : resolved.source.function;
        line += " in " + (function.empty() ? std::string("??") : function);
        if (!resolved.source.filename.empty())
            line += " at " + resolved.source.filename + ":" + std::to_string(resolved.source.line);
        if (!resolved.object_filename.empty())
            line += " (" + resolved.object_filename + ")";
        line += "\n";
        out.Write(line.c_str());
    }
}

} // namespace

CrashReportWriter FindCrashReportWriter()
{
    return CrashReportWriter::Available; // the report is written here
}

int WriteCrashReport(int fd, const CrashInfo& info, const CrashReportContext& context)
{
    Output out;
    out.fd = fd;
    CZELFixedText header;
    header.Append(context.applicationName).Append(" crash report\nCrash count: ");
    header.AppendUnsigned(static_cast<std::uint64_t>(context.crashCount)).Append("\nDump type: ");
    header.AppendHex(static_cast<std::uint32_t>(context.dumpType), 8).Append("\n\n");
    out.Write(header.Text(), header.Length());
    FrameList frames;
    _Unwind_Backtrace(&CollectFrame, &frames);
    const int first = FirstFaultFrame(frames, info.faultAddress);
    WriteFault(out, info);
    WriteRegisters(out, info);
    WriteFrameAddresses(out, frames, first);
    WriteThreads(out);
    WriteMemoryMap(out);
    if (context.symbolise)
        WriteSymbolisedFrames(out, frames, first);
    return out.error;
}

} // namespace ZELPlatform
