#pragma once

#include <string>
#include <thread>

namespace ZELPlatform {

// The system's id of the calling thread (what tools like top, gdb or a debugger show).
unsigned long GetCurrentThreadId();

// Names the calling thread for debuggers and the system's tools (Linux keeps 15 characters).
void SetCurrentThreadName(const std::string& name);
// The same for another thread, given by its handle and id.
void SetThreadName(std::thread::native_handle_type thread, unsigned long threadId, const std::string& name);

// Name of the calling thread as the system holds it.
std::string GetCurrentThreadName();

} // namespace ZELPlatform
