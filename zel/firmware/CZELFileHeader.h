#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr std::uint32_t ZEL_FILE_HEADER_MAGIC = 0x19860322;
inline constexpr std::uint32_t ZEL_FILE_HEADER_SIZE = 80;

// The first 80 bytes of a firmware file; on disk every integer is little-endian.
struct _FILE_HEADER
{
    std::uint32_t magic; // always ZEL_FILE_HEADER_MAGIC
    std::uint32_t crc; // CRC32Calculate over the payload as stored, initial 0xFFFFFFFF
    std::uint32_t payloadSize; // payload bytes that follow the header
    std::uint32_t fileType; // its low byte selects the encryption variant
    char version[32]; // "V MM.mm.bb", zero-terminated when shorter than the field
    char info1[16];
    char info2[16];
};
static_assert(sizeof(_FILE_HEADER) == ZEL_FILE_HEADER_SIZE, "the header is stored as one 80-byte record");

// A text field of the header as a string: up to its terminator, never past the field's end.
template <std::size_t N> std::string ZELHeaderText(const char (&field)[N])
{
    std::size_t length = 0;
    while (length < N && field[length] != '\0')
        ++length;
    return std::string(field, length);
}

// Reads, checks, writes and decrypts firmware files. Stateless: every operation may run on any
// thread. Nothing is logged here; the callers report.
class CZELFileHeader
{
public:
    CZELFileHeader() = default;
    virtual ~CZELFileHeader() = default;

    // Fills the header and checks the payload's CRC; the header stays filled on a CRC failure.
    long ReadFileHeader(const std::string& path, _FILE_HEADER* header);
    // The file must stand at its start; it is left after the payload.
    long ReadFileHeader(std::FILE* file, _FILE_HEADER* header);

    // Writes a firmware file from a plain image (or from the payload of a firmware file), with
    // the caller's type, version and info texts; magic, size and CRC are filled in here.
    long CreateNewFile(const std::string& source, const std::string& destination, _FILE_HEADER* header);
    // Re-stamps the header in place; a file without header gets one in front of it.
    long UpdateExistingFile(const std::string& path, _FILE_HEADER* header);

    // Writes the plain image of a sound firmware file; a damaged file is never decrypted.
    long DecryptFile(const std::string& source, const std::string& destination);
    // The plain image of a sound firmware file, in memory; a damaged file is never decrypted.
    long DecryptToMemory(const std::string& source, std::vector<unsigned char>& image);
    // XOR with the key stream of the variant; its own inverse.
    long DecryptFile(unsigned char variant, unsigned char* buffer, std::uint32_t length);

    // Empty for an unknown type.
    std::string GetFileTypeAsString(std::uint32_t type);
    // "V MM.mm.bb" as MM * 65536 + mm * 256 + bb; 0 for a text shorter than 7 characters or
    // without a digit.
    long GetVersionAsInteger(const char* version);

    long DeleteFile(const std::string& path);

protected:
    long EncryptFile(unsigned char variant, unsigned char* buffer, std::uint32_t length);
    // Reflected CRC-32 (0xEDB88320) without final complement.
    std::uint32_t CRC32Calculate(const void* data, std::uint32_t length, std::uint32_t initial);
};

CZELFileHeader& GetZELFileHeader();
