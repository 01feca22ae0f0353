#include <windows.h>

#include "zel/platform/ZELNativeMessageBox.h"

namespace ZELPlatform {

bool ShowNativeMessageBox(const std::string& text, const std::string& caption, unsigned int style, int& button)
{
    const int result = ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
    // 0 when the box could not be shown; Wine without a display gives -1.
    if (result <= 0)
        return false;
    button = result;
    return true;
}

} // namespace ZELPlatform
