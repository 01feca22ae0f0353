#include "zel/platform/CZELDynamicLibrary.h"

#ifdef ZEL_RUN_GRAPHICAL_BOX
#include "tools/ZELRunGraphicalBox.h"
#include "zel/foundation/ZELMessageBox.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef ZEL_RUN_GRAPHICAL_BOX
namespace {

// A graphical session gives its programs the display to show windows on.
bool InGraphicalSession()
{
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

} // namespace
#endif

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zel-run LIBRARY,ENTRY [ARGUMENTS...]\n");
        return 2;
    }
    const std::string target = argv[1];
    const auto comma = target.rfind(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == target.size()) {
        std::fprintf(stderr, "zel-run: '%s' is not of the form LIBRARY,ENTRY\n", target.c_str());
        return 2;
    }
    const std::string libraryPath = target.substr(0, comma);
    const std::string entryName = target.substr(comma + 1);

    CZELDynamicLibrary library;
    if (!library.Load(libraryPath)) {
        std::fprintf(stderr, "zel-run: cannot load %s: %s\n", libraryPath.c_str(), library.LastError().c_str());
        return 1;
    }
    void* symbol = library.Symbol(entryName);
    if (symbol == nullptr) {
        std::fprintf(stderr, "zel-run: %s has no entry %s\n", libraryPath.c_str(), entryName.c_str());
        return 1;
    }
#ifdef ZEL_RUN_GRAPHICAL_BOX
    // Nobody may be looking at a terminal: the dialog's user sees a window.
    if (InGraphicalSession())
        ZELSetMessageBoxBackend(&ZELRunShowGraphicalBox);
#endif
    using Entry = void (*)();
    reinterpret_cast<Entry>(symbol)();
    return 0;
}
