#include "zel/crash/ZELFatal.h"

#include <atomic>

namespace {

std::atomic<ZELFatalHandler> g_fatalHandler{nullptr};

} // namespace

ZELFatalHandler ZELSetFatalHandler(ZELFatalHandler handler)
{
    return g_fatalHandler.exchange(handler);
}

bool ZELRaiseFatal(const std::string& reason)
{
    const ZELFatalHandler handler = g_fatalHandler.load();
    if (handler == nullptr)
        return false;
    handler(reason);
    return true;
}
