#pragma once

#include <string>

// The library speaks UTF-8; Windows' own calls take UTF-16. Both directions, for the Windows files.
namespace ZELPlatform {

std::wstring ToWide(const std::string& text);
std::string FromWide(const std::wstring& text);
std::string FromWide(const wchar_t* text);

} // namespace ZELPlatform
