#include "zel/firmware/CZELFileHeader.h"

#include "zel/firmware/ZELFirmwareKey.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

// Slice 0 is the byte-wise table of the reflected polynomial 0xEDB88320; slices 1 to 7 are derived
// from it so that eight bytes are folded in per step (same result, several times the speed of
// the byte-wise loop, whose every step waits for the one before).
constexpr CrcTables MakeCrcTables()
{
    CrcTables tables {};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t slice = 1; slice < tables.size(); ++slice)
        for (std::uint32_t n = 0; n < 256; ++n)
            tables[slice][n] = (tables[slice - 1][n] >> 8) ^ tables[0][tables[slice - 1][n] & 0xFFu];
    return tables;
}

constexpr CrcTables g_crcTables = MakeCrcTables();

// Payloads are read in pieces of this size, so a size field larger than the file never leads to
// an allocation of that size.
constexpr std::size_t kReadPiece = 1u << 20;

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t LoadLE32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8
        | static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void StoreLE32(unsigned char* bytes, std::uint32_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

void DecodeHeader(const unsigned char* bytes, _FILE_HEADER* header)
{
    header->magic = LoadLE32(bytes);
    header->crc = LoadLE32(bytes + 4);
    header->payloadSize = LoadLE32(bytes + 8);
    header->fileType = LoadLE32(bytes + 12);
    std::memcpy(header->version, bytes + 16, sizeof header->version);
    std::memcpy(header->info1, bytes + 48, sizeof header->info1);
    std::memcpy(header->info2, bytes + 64, sizeof header->info2);
}

std::array<unsigned char, ZEL_FILE_HEADER_SIZE> EncodeHeader(const _FILE_HEADER& header)
{
    std::array<unsigned char, ZEL_FILE_HEADER_SIZE> bytes {};
    StoreLE32(bytes.data(), header.magic);
    StoreLE32(bytes.data() + 4, header.crc);
    StoreLE32(bytes.data() + 8, header.payloadSize);
    StoreLE32(bytes.data() + 12, header.fileType);
    std::memcpy(bytes.data() + 16, header.version, sizeof header.version);
    std::memcpy(bytes.data() + 48, header.info1, sizeof header.info1);
    std::memcpy(bytes.data() + 64, header.info2, sizeof header.info2);
    return bytes;
}

// Reads exactly `size` bytes, growing the buffer only as data really arrives.
long ReadPayload(std::FILE* file, std::uint32_t size, std::vector<unsigned char>& payload)
{
    try {
        payload.clear();
        while (payload.size() < size) {
            const std::size_t piece = std::min<std::size_t>(kReadPiece, size - payload.size());
            const std::size_t offset = payload.size();
            payload.resize(offset + piece);
            const std::size_t got = std::fread(payload.data() + offset, 1, piece, file);
            if (got != piece) {
                payload.clear();
                return ZEL_STATUS_OPERATION_BROKEN;
            }
        }
    } catch (const std::bad_alloc&) {
        payload.clear();
        return ZEL_STATUS_NO_MEMORY;
    }
    return ZEL_STATUS_SUCCESS;
}

// Reads the first 80 bytes; `hasHeader` when they begin with the magic, else the file is put back
// to its start. False when it cannot be put back.
bool ProbeHeader(std::FILE* file, bool& hasHeader)
{
    std::array<unsigned char, ZEL_FILE_HEADER_SIZE> bytes {};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    hasHeader = got == bytes.size() && LoadLE32(bytes.data()) == ZEL_FILE_HEADER_MAGIC;
    if (hasHeader)
        return true;
    std::clearerr(file);
    return std::fseek(file, 0, SEEK_SET) == 0;
}

// Bytes from the current position to the end; -1 when the file cannot be measured.
long long RemainingBytes(std::FILE* file)
{
    const long position = std::ftell(file);
    if (position < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, position, SEEK_SET) != 0)
        return -1;
    return static_cast<long long>(end) - position;
}

// The payload of a file that may or may not begin with a header: everything after the header, or
// the whole file. Sets the header's magic and payload size.
long TakePayload(std::FILE* file, _FILE_HEADER* header, bool& hasHeader, std::vector<unsigned char>& payload)
{
    if (!ProbeHeader(file, hasHeader))
        return ZEL_STATUS_FILE_ERROR;
    const long long size = RemainingBytes(file);
    if (size < 0)
        return ZEL_STATUS_FILE_ERROR;
    if (size > 0xFFFFFFFFll)
        return ZEL_STATUS_INVALID_DATA; // the size field cannot hold it
    header->magic = ZEL_FILE_HEADER_MAGIC;
    header->payloadSize = static_cast<std::uint32_t>(size);
    return ReadPayload(file, header->payloadSize, payload);
}

bool WriteAll(std::FILE* file, const void* data, std::size_t length)
{
    return length == 0 || std::fwrite(data, 1, length, file) == length;
}

// Writes header and payload into a file created anew; a destination that could not be written
// whole is removed rather than left half written.
long WriteNewFile(
    const std::string& destination, const unsigned char* header, const std::vector<unsigned char>& payload)
{
    std::FILE* file = ZELPlatform::CreateFileAnew(destination);
    if (file == nullptr)
        return ZEL_STATUS_FILE_ERROR;
    bool written = (header == nullptr || WriteAll(file, header, ZEL_FILE_HEADER_SIZE))
        && WriteAll(file, payload.data(), payload.size());
    written = std::fclose(file) == 0 && written;
    if (!written) {
        std::remove(destination.c_str());
        return ZEL_STATUS_FILE_ERROR;
    }
    return ZEL_STATUS_SUCCESS;
}

// Index into the start positions, or -1 for a variant stored plain.
int StartIndex(unsigned char variant)
{
    if (variant == 1 || variant == 2)
        return 0;
    if (variant >= 3 && variant <= 9)
        return variant - 2;
    return -1;
}

// One two-character group read like atoi: leading digits count, nothing past the text's end.
long TwoDigits(const char* text, std::size_t length, std::size_t position)
{
    long value = 0;
    for (std::size_t i = position; i < position + 2 && i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            break;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

long CZELFileHeader::ReadFileHeader(const std::string& path, _FILE_HEADER* header)
{
    // Only a regular file: a FIFO under the name would block the open and the read.
    FilePointer file(ZELPlatform::OpenRegularFileForReading(path));
    if (!file)
        return ZEL_STATUS_FILE_ERROR;
    return ReadFileHeader(file.get(), header);
}

long CZELFileHeader::ReadFileHeader(std::FILE* file, _FILE_HEADER* header)
{
    if (file == nullptr)
        return ZEL_STATUS_FILE_ERROR;
    if (header == nullptr)
        return ZEL_STATUS_INVALID_PARAMETER;

    std::array<unsigned char, ZEL_FILE_HEADER_SIZE> bytes {};
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::memset(header, 0, sizeof *header);
    DecodeHeader(bytes.data(), header);
    if (got != bytes.size() || header->magic != ZEL_FILE_HEADER_MAGIC)
        return ZEL_STATUS_NOT_FOUND;

    // The CRC runs piece by piece: the size field is only trusted as far as the file bears it.
    std::vector<unsigned char> piece;
    try {
        piece.resize(std::min<std::size_t>(kReadPiece, header->payloadSize));
    } catch (const std::bad_alloc&) {
        return ZEL_STATUS_NO_MEMORY;
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    std::uint32_t left = header->payloadSize;
    while (left > 0) {
        const std::size_t want = std::min<std::size_t>(piece.size(), left);
        if (std::fread(piece.data(), 1, want, file) != want)
            return ZEL_STATUS_OPERATION_BROKEN;
        crc = CRC32Calculate(piece.data(), static_cast<std::uint32_t>(want), crc);
        left -= static_cast<std::uint32_t>(want);
    }
    return crc == header->crc ? ZEL_STATUS_SUCCESS : ZEL_STATUS_INVALID_CRC;
}

long CZELFileHeader::CreateNewFile(const std::string& source, const std::string& destination, _FILE_HEADER* header)
{
    if (header == nullptr)
        return ZEL_STATUS_INVALID_PARAMETER;
    FilePointer input(std::fopen(source.c_str(), "rb"));
    if (!input)
        return ZEL_STATUS_FILE_ERROR;

    bool hasHeader = false;
    std::vector<unsigned char> payload;
    if (const long status = TakePayload(input.get(), header, hasHeader, payload); status != ZEL_STATUS_SUCCESS)
        return status;
    input.reset();

    EncryptFile(static_cast<unsigned char>(header->fileType), payload.data(), header->payloadSize);
    header->crc = CRC32Calculate(payload.data(), header->payloadSize, 0xFFFFFFFFu);
    const auto bytes = EncodeHeader(*header);
    return WriteNewFile(destination, bytes.data(), payload);
}

long CZELFileHeader::UpdateExistingFile(const std::string& path, _FILE_HEADER* header)
{
    if (header == nullptr)
        return ZEL_STATUS_INVALID_PARAMETER;
    FilePointer file(std::fopen(path.c_str(), "r+b"));
    if (!file)
        return ZEL_STATUS_FILE_ERROR;

    bool hasHeader = false;
    std::vector<unsigned char> payload;
    if (const long status = TakePayload(file.get(), header, hasHeader, payload); status != ZEL_STATUS_SUCCESS)
        return status;
    header->crc = CRC32Calculate(payload.data(), header->payloadSize, 0xFFFFFFFFu);

    const auto bytes = EncodeHeader(*header);
    bool written = std::fseek(file.get(), 0, SEEK_SET) == 0 && WriteAll(file.get(), bytes.data(), bytes.size());
    if (written && !hasHeader)
        written = WriteAll(file.get(), payload.data(), payload.size());
    written = std::fclose(file.release()) == 0 && written;
    return written ? ZEL_STATUS_SUCCESS : ZEL_STATUS_FILE_ERROR;
}

long CZELFileHeader::DecryptFile(const std::string& source, const std::string& destination)
{
    std::vector<unsigned char> payload;
    if (const long status = DecryptToMemory(source, payload); status != ZEL_STATUS_SUCCESS)
        return status;
    return WriteNewFile(destination, nullptr, payload);
}

long CZELFileHeader::DecryptToMemory(const std::string& source, std::vector<unsigned char>& image)
{
    image.clear();
    FilePointer input(std::fopen(source.c_str(), "rb"));
    if (!input)
        return ZEL_STATUS_FILE_ERROR;
    _FILE_HEADER header {};
    if (const long status = ReadFileHeader(input.get(), &header); status != ZEL_STATUS_SUCCESS)
        return status;
    if (std::fseek(input.get(), ZEL_FILE_HEADER_SIZE, SEEK_SET) != 0)
        return ZEL_STATUS_FILE_ERROR;
    if (const long status = ReadPayload(input.get(), header.payloadSize, image); status != ZEL_STATUS_SUCCESS) {
        image.clear();
        return status;
    }
    DecryptFile(static_cast<unsigned char>(header.fileType), image.data(), header.payloadSize);
    return ZEL_STATUS_SUCCESS;
}

long CZELFileHeader::DecryptFile(unsigned char variant, unsigned char* buffer, std::uint32_t length)
{
    const int index = StartIndex(variant);
    if (index < 0 || buffer == nullptr)
        return ZEL_STATUS_SUCCESS;
    // Contiguous runs up to the table's end, so the inner loop has no modulo in it.
    std::uint32_t key = g_ZELFirmwareKeyStart[index] % ZEL_FIRMWARE_KEY_SIZE;
    std::uint32_t done = 0;
    while (done < length) {
        const std::uint32_t run = std::min(length - done, ZEL_FIRMWARE_KEY_SIZE - key);
        unsigned char* out = buffer + done;
        const unsigned char* stream = g_ZELFirmwareKeyTable + key;
        for (std::uint32_t i = 0; i < run; ++i)
            out[i] ^= stream[i];
        done += run;
        key = 0;
    }
    return ZEL_STATUS_SUCCESS;
}

long CZELFileHeader::EncryptFile(unsigned char variant, unsigned char* buffer, std::uint32_t length)
{
    return DecryptFile(variant, buffer, length);
}

std::uint32_t CZELFileHeader::CRC32Calculate(const void* data, std::uint32_t length, std::uint32_t initial)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    const auto& t = g_crcTables;
    std::uint32_t crc = initial;
    std::uint32_t i = 0;
    for (; length - i >= 8; i += 8) {
        const std::uint32_t low = LoadLE32(bytes + i) ^ crc;
        const std::uint32_t high = LoadLE32(bytes + i + 4);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^ t[4][low >> 24]
            ^ t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^ t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
    }
    for (; i < length; ++i)
        crc = (crc >> 8) ^ t[0][(crc ^ bytes[i]) & 0xFFu];
    return crc;
}

std::string CZELFileHeader::GetFileTypeAsString(std::uint32_t type)
{
    switch (type) {
    case 1: return "QTR T001 CCPU";
    case 2: return "VHX T001 CCPU";
    case 3: return "KCPU";
    case 4: return "LCPU";
    case 5: return "MCPU";
    case 6: return "ECPU";
    case 7: return "RCPU";
    case 8: return "Veltrix Box";
    case 9: return "QTR T002 CCPU";
    case 10: return "MCPU CAN Driver";
    case 129: return "QTR CCPU (U18)";
    case 130: return "QTR (U38)";
    case 131: return "QTR HW Info (U39)";
    case 132: return "VHX MCPU (U9)";
    case 133: return "VHX CCPU (U18)";
    case 134: return "VHX MCPU Backup (U20)";
    case 135: return "VHXA HW Info (U1)";
    default: return "";
    }
}

long CZELFileHeader::GetVersionAsInteger(const char* version)
{
    if (version == nullptr)
        return 0;
    const std::size_t length = std::strlen(version);
    if (length < 7)
        return 0;
    std::size_t p = 0;
    while (p < length && (version[p] < '0' || version[p] > '9'))
        ++p;
    if (p == length)
        return 0;
    const long major = TwoDigits(version, length, p);
    const long minor = TwoDigits(version, length, p + 3);
    const long build = length >= 10 ? TwoDigits(version, length, p + 6) : 0;
    return major * 65536 + minor * 256 + build;
}

long CZELFileHeader::DeleteFile(const std::string& path)
{
    return std::remove(path.c_str()) == 0 ? ZEL_STATUS_SUCCESS : ZEL_STATUS_EXCEPTION_CAUGHT;
}
