#include "zel/platform/CZELDynamicLibrary.h"

#include <cstdio>
#include <string>

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
    using Entry = void (*)();
    reinterpret_cast<Entry>(symbol)();
    return 0;
}
