#include "zel/foundation/ZELMessageBox.h"

#include "zel/foundation/CZELCommandLine.h"
#include "zel/platform/ZELNativeMessageBox.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex& BackendLock()
{
    static std::mutex lock;
    return lock;
}

ZELMessageBoxBackend& Backend()
{
    static ZELMessageBoxBackend backend;
    return backend;
}

int DefaultButton(unsigned int style)
{
    switch (style & 0x0F) {
    case ZEL_MB_YESNO: return ZEL_IDYES;
    default: return ZEL_IDOK;
    }
}

// Without a registered host and without a box of the system the message goes to standard error:
// there is nobody else to show it to.
int ShowOnStandardError(const std::string& text, const std::string& caption, unsigned int style)
{
    const std::string icon = ZELMessageBoxIconName(style);
    std::string out = caption;
    if (!icon.empty())
        out += " [" + icon + "]";
    out += "\n" + text + "\n";
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
    return DefaultButton(style);
}

} // namespace

void ZELSetMessageBoxBackend(ZELMessageBoxBackend backend)
{
    std::lock_guard lock(BackendLock());
    Backend() = std::move(backend);
}

int ZELShowMessageBox(const std::string& text, const std::string& caption, unsigned int style)
{
    ZELMessageBoxBackend backend;
    {
        std::lock_guard lock(BackendLock());
        backend = Backend();
    }
    if (backend)
        return backend(text, caption, style);
    int button = 0;
    if (ZELPlatform::ShowNativeMessageBox(text, caption, style, button))
        return button;
    return ShowOnStandardError(text, caption, style);
}

std::string ZELMessageBoxIconName(unsigned int style)
{
    switch (style & 0xF0) {
    case ZEL_MB_ICONERROR: return "error";
    case ZEL_MB_ICONQUESTION: return "question";
    case ZEL_MB_ICONWARNING: return "warning";
    case ZEL_MB_ICONINFORMATION: return "information";
    default: return "";
    }
}

extern "C" void ShowMessageBox()
{
    CZELCommandLine& commandLine = GetZELCommandLine();
    std::string text;
    std::string caption;
    std::string style;
    commandLine.GetArgument(2, text);
    commandLine.GetArgument(3, caption);
    commandLine.GetArgument(4, style);
    if (text.empty())
        text = "Unspecified text.";
    if (caption.empty())
        caption = "Unspecified caption.";
    ZELShowMessageBox(text, caption, static_cast<unsigned int>(std::atoi(style.c_str())));
}
