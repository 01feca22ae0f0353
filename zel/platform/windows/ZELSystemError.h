#pragma once

// The library reports failures as errno values on every platform (callers compare them with EBUSY,
// ENOENT, ... and render them with strerror); the Windows files map GetLastError() codes onto them.
namespace ZELPlatform {

int ErrnoFromSystemError(unsigned long error);
// errno := the mapping of GetLastError(); returns it.
int SetErrnoFromLastError();

} // namespace ZELPlatform
