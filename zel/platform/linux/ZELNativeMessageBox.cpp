#include "zel/platform/ZELNativeMessageBox.h"

namespace ZELPlatform {

bool ShowNativeMessageBox(const std::string&, const std::string&, unsigned int, int&)
{
    // The graphical box is the host's (the Qt dialog, zel-run in a graphical session).
    return false;
}

} // namespace ZELPlatform
