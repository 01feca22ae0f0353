#pragma once

// windows.h for the Windows platform files, without the macros that would rename the library's own
// functions of the same names (ZELPlatform::CreateDirectory, CZELLog::DeleteFile, ...). Use the
// wide Win32 calls by their W names. The system's SYSTEMTIME is known as ZELWin32SYSTEMTIME: the
// library has a record of that name of its own.
#define SYSTEMTIME ZELWin32SYSTEMTIME
#include <windows.h>
#undef SYSTEMTIME

#undef CreateDirectory
#undef DecryptFile
#undef DeleteFile
#undef EncryptFile
#undef GetCurrentDirectory
#undef GetWindowText
#undef SetWindowText
#undef interface
