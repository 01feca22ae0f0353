#pragma once

// Ids of the update program's own texts (German and English).
inline constexpr unsigned long APP_TEXT_DEVICE_UNKNOWN = 0x13000002;
inline constexpr unsigned long APP_TEXT_UPDATES_POSSIBLE = 0x13000003;
inline constexpr unsigned long APP_TEXT_NEWEST_INSTALLED = 0x13000004;
inline constexpr unsigned long APP_TEXT_INSTALL_NOW = 0x13000005;
inline constexpr unsigned long APP_TEXT_FILE_NOT_READ = 0x13000014;
inline constexpr unsigned long APP_TEXT_DETECTED_ERROR = 0x13000015;
inline constexpr unsigned long APP_TEXT_HEADER_NOT_SUPPORTED = 0x13000016;
inline constexpr unsigned long APP_TEXT_FILE_FOUND = 0x13000017;

// The text in the library's current language, asked at every call; "???" for language 2 and for
// an id without text.
const char* GetUpdateText(unsigned long id);
