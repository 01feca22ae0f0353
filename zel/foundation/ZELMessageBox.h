#pragma once

#include <functional>
#include <string>

// Message-box styles as the crash handling and the update program pass them.
inline constexpr unsigned int ZEL_MB_OK = 0x00;
inline constexpr unsigned int ZEL_MB_OKCANCEL = 0x01;
inline constexpr unsigned int ZEL_MB_YESNO = 0x04;
inline constexpr unsigned int ZEL_MB_ICONERROR = 0x10;
inline constexpr unsigned int ZEL_MB_ICONQUESTION = 0x20;
inline constexpr unsigned int ZEL_MB_ICONWARNING = 0x30;
inline constexpr unsigned int ZEL_MB_ICONINFORMATION = 0x40;

// Answers of a box.
inline constexpr int ZEL_IDOK = 1;
inline constexpr int ZEL_IDCANCEL = 2;
inline constexpr int ZEL_IDYES = 6;
inline constexpr int ZEL_IDNO = 7;

// Shows a box and returns the button pressed. A host (the Qt program, the command line) registers
// its own; without one the system's box is shown (Windows), and where there is none the box is
// written to standard error and answered with its default button.
using ZELMessageBoxBackend = std::function<int(const std::string& text, const std::string& caption, unsigned int style)>;

void ZELSetMessageBoxBackend(ZELMessageBoxBackend backend);
int ZELShowMessageBox(const std::string& text, const std::string& caption, unsigned int style);

// Name of the icon a style asks for ("error", "question", "warning", "information" or "").
std::string ZELMessageBoxIconName(unsigned int style);

// The entry the launcher (`zel-run`, on Windows rundll32.exe) calls by name: arguments 2, 3 and 4
// of the process are the text, the caption and the style.
extern "C" void ShowMessageBox();
