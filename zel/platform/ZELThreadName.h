#pragma once

#include <string>

namespace ZELPlatform {

// Kernel thread id of the calling thread (what tools like top and gdb show).
unsigned long GetCurrentThreadId();

// Names the calling thread for debuggers and /proc; the kernel keeps 15 characters.
void SetCurrentThreadName(const std::string& name);

// Name of the calling thread as the kernel holds it.
std::string GetCurrentThreadName();

} // namespace ZELPlatform
