#include "zel/firmware/CZELFileHeader.h"
#include "zel/firmware/ZELFirmwareKey.h"
#include "zel/foundation/ZELStatus.h"

#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

class FileHeader : public CZELFileHeader
{
public:
    using CZELFileHeader::CRC32Calculate;
    using CZELFileHeader::EncryptFile;
};

std::string Bytes(std::uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    return bytes;
}

// An 80-byte header as stored, followed by `payload`.
std::string RawFile(std::uint32_t magic, std::uint32_t crc, std::uint32_t size, std::uint32_t type,
    const std::string& version, const std::string& payload)
{
    std::string file = Bytes(magic) + Bytes(crc) + Bytes(size) + Bytes(type);
    std::string text(64, '\0');
    text.replace(0, version.size(), version);
    return file + text + payload;
}

std::uint32_t StandardCrc(const std::string& data)
{
    return static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string RandomImage(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string image(size, '\0');
    for (auto& byte : image)
        byte = static_cast<char>(random());
    return image;
}

_FILE_HEADER Header(std::uint32_t type, const char* version, const char* info1 = "", const char* info2 = "")
{
    _FILE_HEADER header {};
    header.fileType = type;
    std::strncpy(header.version, version, sizeof header.version - 1);
    std::strncpy(header.info1, info1, sizeof header.info1 - 1);
    std::strncpy(header.info2, info2, sizeof header.info2 - 1);
    return header;
}

} // namespace

TEST(CZELFileHeader, HeaderCrcHasNoFinalComplement)
{
    FileHeader files;
    EXPECT_EQ(files.CRC32Calculate("123456789", 9, 0xFFFFFFFFu), 0x340BC6D9u);
    EXPECT_EQ(files.CRC32Calculate("", 0, 0xFFFFFFFFu), 0xFFFFFFFFu);
    const std::string data = RandomImage(10000, 3);
    // Every length around the eight-byte steps, so the tail handling is covered too.
    for (std::uint32_t length : { 1u, 7u, 8u, 15u, 16u, 17u, 10000u }) {
        const std::string part = data.substr(0, length);
        EXPECT_EQ(files.CRC32Calculate(part.data(), length, 0xFFFFFFFFu), ~StandardCrc(part)) << length;
    }
    // Feeding in two parts continues the accumulator.
    const std::uint32_t first = files.CRC32Calculate(data.data(), 4001, 0xFFFFFFFFu);
    EXPECT_EQ(files.CRC32Calculate(data.data() + 4001, 5999, first), ~StandardCrc(data));
}

TEST(CZELFileHeader, ReadsSoundFilesAndRefusesDamagedOnes)
{
    const std::string payload = "123456789";
    struct Case
    {
        const char* name;
        std::string content;
        long status;
    };
    const Case cases[] = {
        { "empty payload", RawFile(ZEL_FILE_HEADER_MAGIC, 0xFFFFFFFFu, 0, 3, "V 01.00.00", ""), ZEL_STATUS_SUCCESS },
        { "sound payload", RawFile(ZEL_FILE_HEADER_MAGIC, 0x340BC6D9u, 9, 3, "V 01.00.00", payload),
            ZEL_STATUS_SUCCESS },
        { "empty file", "", ZEL_STATUS_NOT_FOUND },
        { "shorter than the header", RawFile(ZEL_FILE_HEADER_MAGIC, 0xFFFFFFFFu, 0, 3, "V", "").substr(0, 79),
            ZEL_STATUS_NOT_FOUND },
        { "foreign magic", RawFile(0x19860323u, 0x340BC6D9u, 9, 3, "V 01.00.00", payload), ZEL_STATUS_NOT_FOUND },
        { "payload shorter than announced", RawFile(ZEL_FILE_HEADER_MAGIC, 0x340BC6D9u, 10, 3, "V", payload),
            ZEL_STATUS_OPERATION_BROKEN },
        { "size far beyond the file", RawFile(ZEL_FILE_HEADER_MAGIC, 0x340BC6D9u, 0xFFFFFFFFu, 3, "V", payload),
            ZEL_STATUS_OPERATION_BROKEN },
        { "one payload byte changed", RawFile(ZEL_FILE_HEADER_MAGIC, 0x340BC6D9u, 9, 3, "V", "123456788"),
            ZEL_STATUS_INVALID_CRC },
        { "empty payload, CRC not the empty accumulator", RawFile(ZEL_FILE_HEADER_MAGIC, 0, 0, 3, "V", ""),
            ZEL_STATUS_INVALID_CRC },
    };
    ZELTest::TemporaryDirectory folder;
    CZELFileHeader files;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File("case.tarn");
        ZELTest::WriteFile(path, c.content);
        _FILE_HEADER header {};
        EXPECT_EQ(files.ReadFileHeader(path, &header), c.status);
        // A damaged file must never be decrypted.
        const std::string plain = folder.File("plain.bin");
        std::filesystem::remove(plain);
        EXPECT_EQ(files.DecryptFile(path, plain), c.status);
        EXPECT_EQ(std::filesystem::exists(plain), c.status == ZEL_STATUS_SUCCESS);
    }
}

// A FIFO that holds a sound file is still no file: it is refused without waiting for a writer.
TEST(CZELFileHeader, ReadsOnlyRegularFiles)
{
    if (!ZELTest::FilledFifo::Supported())
        GTEST_SKIP() << "needs FIFOs and symbolic links";
    ZELTest::TemporaryDirectory folder;
    const std::string sound = RawFile(ZEL_FILE_HEADER_MAGIC, 0x340BC6D9u, 9, 3, "V 01.00.00", "123456789");
    ZELTest::WriteFile(folder.File("sound.tarn"), sound);
    std::filesystem::create_symlink(folder.File("sound.tarn"), folder.File("link.tarn"));
    ZELTest::FilledFifo fifo(folder.File("fifo.tarn"), sound);
    std::filesystem::create_directory(folder.File("folder.tarn"));
    struct Case
    {
        const char* name;
        long status;
    };
    const Case cases[] = {
        { "sound.tarn", ZEL_STATUS_SUCCESS },
        { "link.tarn", ZEL_STATUS_SUCCESS },
        { "fifo.tarn", ZEL_STATUS_FILE_ERROR },
        { "folder.tarn", ZEL_STATUS_FILE_ERROR },
    };
    CZELFileHeader files;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        _FILE_HEADER header {};
        EXPECT_EQ(files.ReadFileHeader(folder.File(c.name), &header), c.status);
    }
}

TEST(CZELFileHeader, KeepsTheHeaderOnACrcFailureAndStopsAfterThePayload)
{
    ZELTest::TemporaryDirectory folder;
    const std::string path = folder.File("f.tarn");
    ZELTest::WriteFile(path, RawFile(ZEL_FILE_HEADER_MAGIC, 1234, 9, 7, "V 02.09.28", "123456789") + "trailing");
    CZELFileHeader files;
    _FILE_HEADER header {};
    EXPECT_EQ(files.ReadFileHeader(path, &header), ZEL_STATUS_INVALID_CRC);
    EXPECT_EQ(header.crc, 1234u);
    EXPECT_EQ(header.fileType, 7u);
    EXPECT_EQ(ZELHeaderText(header.version), "V 02.09.28");

    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(files.ReadFileHeader(file, &header), ZEL_STATUS_INVALID_CRC);
    EXPECT_EQ(std::ftell(file), 89);
    EXPECT_EQ(files.ReadFileHeader(file, nullptr), ZEL_STATUS_INVALID_PARAMETER);
    std::fclose(file);
    EXPECT_EQ(files.ReadFileHeader(static_cast<std::FILE*>(nullptr), &header), ZEL_STATUS_FILE_ERROR);
    EXPECT_EQ(files.ReadFileHeader(folder.File("missing.tarn"), &header), ZEL_STATUS_FILE_ERROR);
}

TEST(CZELFileHeader, PackThenUnpackReturnsTheImageForEveryType)
{
    const std::uint32_t types[] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 129, 130, 131, 132, 133, 134, 135 };
    ZELTest::TemporaryDirectory folder;
    CZELFileHeader files;
    const std::string image = RandomImage(40000, 11); // longer than the key table: the stream wraps
    ZELTest::WriteFile(folder.File("image.bin"), image);
    for (std::uint32_t type : types) {
        SCOPED_TRACE(type);
        _FILE_HEADER header = Header(type, "V 01.02.03", "first", "second");
        ASSERT_EQ(files.CreateNewFile(folder.File("image.bin"), folder.File("fw.tarn"), &header), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(header.magic, ZEL_FILE_HEADER_MAGIC);
        EXPECT_EQ(header.payloadSize, image.size());

        const std::string stored = ZELTest::ReadFile(folder.File("fw.tarn"));
        ASSERT_EQ(stored.size(), 80 + image.size());
        EXPECT_EQ(stored.substr(0, 16), Bytes(ZEL_FILE_HEADER_MAGIC) + Bytes(header.crc) + Bytes(40000) + Bytes(type));
        EXPECT_EQ(stored.substr(16, 10), "V 01.02.03");
        EXPECT_EQ(stored.substr(48, 5), "first");
        EXPECT_EQ(stored.substr(64, 6), "second");
        const std::string payload = stored.substr(80);
        EXPECT_EQ(header.crc, ~StandardCrc(payload));
        const bool plain = type == 10 || type >= 129;
        EXPECT_EQ(payload == image, plain);

        _FILE_HEADER read {};
        EXPECT_EQ(files.ReadFileHeader(folder.File("fw.tarn"), &read), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(std::memcmp(&read, &header, sizeof header), 0);
        ASSERT_EQ(files.DecryptFile(folder.File("fw.tarn"), folder.File("out.bin")), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(ZELTest::ReadFile(folder.File("out.bin")), image);
    }
}

TEST(CZELFileHeader, KeyStreamWrapsAtTheTableSizeAndDiffersPerVariant)
{
    FileHeader files;
    const std::uint32_t length = ZEL_FIRMWARE_KEY_SIZE + 64;
    std::vector<std::vector<unsigned char>> streams;
    for (unsigned variant = 0; variant <= 11; ++variant) {
        std::vector<unsigned char> stream(length, 0);
        EXPECT_EQ(files.EncryptFile(static_cast<unsigned char>(variant), stream.data(), length), ZEL_STATUS_SUCCESS);
        streams.push_back(stream);
    }
    for (std::uint32_t i = 0; i < 64; ++i)
        ASSERT_EQ(streams[3][ZEL_FIRMWARE_KEY_SIZE + i], streams[3][i]) << i;
    EXPECT_EQ(streams[3][0], g_ZELFirmwareKeyTable[g_ZELFirmwareKeyStart[1]]);
    const std::vector<unsigned char> zeros(length, 0);
    EXPECT_EQ(streams[0], zeros);
    EXPECT_EQ(streams[10], zeros);
    EXPECT_EQ(streams[11], zeros);
    EXPECT_EQ(streams[1], streams[2]) << "variants 1 and 2 share their start";
    for (unsigned a = 2; a <= 9; ++a)
        for (unsigned b = a + 1; b <= 9; ++b)
            EXPECT_NE(streams[a], streams[b]) << a << " " << b;

    // XOR is its own inverse: the second pass restores the buffer.
    std::vector<unsigned char> twice(length, 0x5A);
    files.DecryptFile(5, twice.data(), length);
    files.DecryptFile(5, twice.data(), length);
    EXPECT_EQ(twice, std::vector<unsigned char>(length, 0x5A));
}

TEST(CZELFileHeader, PackingAFirmwareFileTakesOnlyItsPayload)
{
    ZELTest::TemporaryDirectory folder;
    CZELFileHeader files;
    const std::string image = RandomImage(1000, 5);
    ZELTest::WriteFile(folder.File("image.bin"), image);
    _FILE_HEADER first = Header(4, "V 01.00.00");
    ASSERT_EQ(files.CreateNewFile(folder.File("image.bin"), folder.File("a.tarn"), &first), ZEL_STATUS_SUCCESS);

    // The encryption is applied once more, which returns the stored bytes to plain.
    _FILE_HEADER second = Header(4, "V 02.00.00");
    ASSERT_EQ(files.CreateNewFile(folder.File("a.tarn"), folder.File("b.tarn"), &second), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(second.payloadSize, 1000u);
    const std::string stored = ZELTest::ReadFile(folder.File("b.tarn"));
    EXPECT_EQ(stored.substr(80), image);
    EXPECT_EQ(stored.substr(16, 10), "V 02.00.00");
}

TEST(CZELFileHeader, UpdateExistingFileStampsInPlace)
{
    ZELTest::TemporaryDirectory folder;
    CZELFileHeader files;
    const std::string image = RandomImage(500, 9);
    const std::string path = folder.File("f.bin");
    ZELTest::WriteFile(path, image);

    _FILE_HEADER header = Header(6, "V 01.01.01");
    ASSERT_EQ(files.UpdateExistingFile(path, &header), ZEL_STATUS_SUCCESS);
    std::string stored = ZELTest::ReadFile(path);
    ASSERT_EQ(stored.size(), 580u) << "a file without header grows by 80 bytes";
    EXPECT_EQ(stored.substr(80), image) << "the payload is taken as it stands, not encrypted";
    EXPECT_EQ(header.crc, ~StandardCrc(image));
    _FILE_HEADER read {};
    EXPECT_EQ(files.ReadFileHeader(path, &read), ZEL_STATUS_SUCCESS);

    _FILE_HEADER restamped = Header(6, "V 09.09.09");
    ASSERT_EQ(files.UpdateExistingFile(path, &restamped), ZEL_STATUS_SUCCESS);
    stored = ZELTest::ReadFile(path);
    ASSERT_EQ(stored.size(), 580u);
    EXPECT_EQ(stored.substr(80), image);
    EXPECT_EQ(stored.substr(16, 10), "V 09.09.09");
    EXPECT_EQ(files.UpdateExistingFile(folder.File("missing"), &restamped), ZEL_STATUS_FILE_ERROR);
}

TEST(CZELFileHeader, OutputIsCreatedAnewWithoutFollowingALink)
{
    if (!ZELTest::SymbolicLinksSupported())
        GTEST_SKIP() << "needs symbolic links";
    ZELTest::TemporaryDirectory folder;
    CZELFileHeader files;
    ZELTest::WriteFile(folder.File("image.bin"), "plain image");
    _FILE_HEADER header = Header(3, "V 01.00.00");
    ASSERT_EQ(files.CreateNewFile(folder.File("image.bin"), folder.File("fw.tarn"), &header), ZEL_STATUS_SUCCESS);

    ZELTest::WriteFile(folder.File("victim"), "must stay");
    std::filesystem::create_symlink(folder.File("victim"), folder.File("temp.bin"));
    ASSERT_EQ(files.DecryptFile(folder.File("fw.tarn"), folder.File("temp.bin")), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(std::filesystem::is_symlink(folder.File("temp.bin")));
    EXPECT_EQ(ZELTest::ReadFile(folder.File("temp.bin")), "plain image");
    EXPECT_EQ(ZELTest::ReadFile(folder.File("victim")), "must stay");

    EXPECT_EQ(files.DecryptFile(folder.File("fw.tarn"), folder.File("no/such/dir/out")), ZEL_STATUS_FILE_ERROR);
    EXPECT_EQ(files.CreateNewFile(folder.File("missing"), folder.File("x"), &header), ZEL_STATUS_FILE_ERROR);
}

TEST(CZELFileHeader, DeleteFileReportsFailure)
{
    ZELTest::TemporaryDirectory folder;
    CZELFileHeader files;
    ZELTest::WriteFile(folder.File("f"), "x");
    EXPECT_EQ(files.DeleteFile(folder.File("f")), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(folder.File("f")));
    EXPECT_EQ(files.DeleteFile(folder.File("f")), ZEL_STATUS_EXCEPTION_CAUGHT);
}

TEST(CZELFileHeader, GetVersionAsInteger)
{
    struct Case
    {
        const char* text;
        long value;
    };
    const Case cases[] = {
        { "V 02.02.00", 131584 },
        { "V 02.09.28", 133404 },
        { "V 02.09.29", 133405 },
        { "V 1.2", 0 }, // fewer than 7 characters
        { "", 0 },
        { "Version", 0 }, // no digit
        { "02.02.00", 0x020200 }, // 8 characters: the build is not read
        { "02.02.99", 0x020200 },
        { "V 02.0x.05", 0x020005 }, // a group stops at its first non-digit
        { "V 2.3.4xx", 0x020000 }, // groups at fixed places: "2." gives 2, ".4" gives 0
        { "abcdefgh1", 0x010000 }, // the groups past the text's end count as no digit
        { "Vers 10.20.30 beta", 0x0A141E },
    };
    CZELFileHeader files;
    for (const Case& c : cases)
        EXPECT_EQ(files.GetVersionAsInteger(c.text), c.value) << c.text;
    EXPECT_EQ(files.GetVersionAsInteger(nullptr), 0);
}

TEST(CZELFileHeader, GetFileTypeAsString)
{
    const std::pair<std::uint32_t, const char*> cases[]
        = { { 1, "QTR T001 CCPU" }, { 2, "VHX T001 CCPU" }, { 3, "KCPU" }, { 4, "LCPU" }, { 5, "MCPU" }, { 6, "ECPU" },
              { 7, "RCPU" }, { 8, "Veltrix Box" }, { 9, "QTR T002 CCPU" }, { 10, "MCPU CAN Driver" },
              { 129, "QTR CCPU (U18)" }, { 130, "QTR (U38)" }, { 131, "QTR HW Info (U39)" }, { 132, "VHX MCPU (U9)" },
              { 133, "VHX CCPU (U18)" }, { 134, "VHX MCPU Backup (U20)" }, { 135, "VHXA HW Info (U1)" }, { 0, "" },
              { 11, "" }, { 128, "" }, { 136, "" }, { 0x101, "" } };
    CZELFileHeader files;
    for (const auto& [type, name] : cases)
        EXPECT_EQ(files.GetFileTypeAsString(type), name) << type;
}
