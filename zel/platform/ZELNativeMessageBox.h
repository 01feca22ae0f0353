#pragma once

#include <string>

namespace ZELPlatform {

// Shows a modal message box of the system without an owner window and returns true with the
// button pressed; false when the system has no such box (Linux) or cannot show it (Windows without
// a desktop to show it on), and the caller shows the message another way.
bool ShowNativeMessageBox(const std::string& text, const std::string& caption, unsigned int style, int& button);

} // namespace ZELPlatform
