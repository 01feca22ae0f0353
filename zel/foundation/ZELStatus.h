#pragma once

#include <string>

// Result of nearly every library operation: 0 for success, negative for a failure.
// -13 is unassigned; -27 (no name) means a reply's payload length does not fit its command.
inline constexpr long ZEL_STATUS_SUCCESS = 0;
inline constexpr long ZEL_STATUS_UNSPECIFIC_ERROR = -1;
inline constexpr long ZEL_STATUS_TIMEOUT = -2;
inline constexpr long ZEL_STATUS_INVALID_PARAMETER = -3;
inline constexpr long ZEL_STATUS_NO_MEMORY = -4;
inline constexpr long ZEL_STATUS_OPERATION_BROKEN = -5;
inline constexpr long ZEL_STATUS_INVALID_HANDLE = -6;
inline constexpr long ZEL_STATUS_BUSY = -7;
inline constexpr long ZEL_STATUS_SOCKET_ERROR = -8;
inline constexpr long ZEL_STATUS_FORBIDDEN = -9;
inline constexpr long ZEL_STATUS_NOT_INITIALIZED = -10;
inline constexpr long ZEL_STATUS_INVALID_OPERATION = -11;
inline constexpr long ZEL_STATUS_NOT_FOUND = -12;
inline constexpr long ZEL_STATUS_INVALID_DATA = -14;
inline constexpr long ZEL_STATUS_FILE_ERROR = -15;
inline constexpr long ZEL_STATUS_WRONG_FORMAT = -16;
inline constexpr long ZEL_STATUS_INVALID_END_DELIMITER = -17;
inline constexpr long ZEL_STATUS_NOT_IMPLEMENTED = -18;
inline constexpr long ZEL_STATUS_NOT_UNIQUE = -19;
inline constexpr long ZEL_STATUS_EXCEPTION_CAUGHT = -20;
inline constexpr long ZEL_STATUS_INVALID_BUFFER = -21;
inline constexpr long ZEL_STATUS_BUFFER_TOO_SMALL = -22;
inline constexpr long ZEL_STATUS_ASSERT = -23;
inline constexpr long ZEL_STATUS_NO_CONNECTION = -24;
inline constexpr long ZEL_STATUS_DISABLED = -25;
inline constexpr long ZEL_STATUS_INVALID_CRC = -26;
// Reply payload length does not match the command; deliberately without a name.
inline constexpr long ZEL_STATUS_WRONG_LENGTH = -27;

std::string GetZELStatusAsString(long status);
