#pragma once

#include <string>

// The one way into the process's fatal end (hung thread, heap corruption, runtime errors). The
// crash handling installs the handler that writes the dump and ends the process; until it has,
// a fatal condition is only logged by whoever found it and the process keeps running.
using ZELFatalHandler = void (*)(const std::string& reason);

// Installs `handler` (null removes it) and returns the previous one.
ZELFatalHandler ZELSetFatalHandler(ZELFatalHandler handler);

// Hands `reason` to the installed handler, which is not expected to return. False when no handler
// is installed, so the caller carries on.
bool ZELRaiseFatal(const std::string& reason);
