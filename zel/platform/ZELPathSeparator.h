#pragma once

namespace ZELPlatform {

// The separator of the paths this system shows its users (Windows also takes '/').
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

} // namespace ZELPlatform
