#include "app/core/CSerialPortLink.h"
#include "app/win32/CWin32UpdaterWindow.h"
#include "zel/foundation/ZELMessageBox.h"

#include "app/win32/Win32CommonControls.h"

#include <cstdio>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    const INITCOMMONCONTROLSEX controls { sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES };
    InitCommonControlsEx(&controls);

    CSerialPortLink link;
    CWin32UpdaterWindow window(link);
    // The library's own boxes appear as the dialog's.
    ZELSetMessageBoxBackend([&window](const std::string& text, const std::string& caption, unsigned int style) {
        return window.ShowMessageBox(text, caption, style);
    });
    const INT_PTR result = window.Run(instance);
    ZELSetMessageBoxBackend(nullptr);
    if (result == -1) {
        // No dialog, so no box either: a console that started the program still learns why.
        std::fprintf(stderr, "tarn-update: the dialog could not be created (error %lu). Is a desktop running?\n",
            GetLastError());
        return 1;
    }
    return 0;
}
