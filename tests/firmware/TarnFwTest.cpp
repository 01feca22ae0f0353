#include "zel/firmware/CZELFileHeader.h"

#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <zlib.h>

#include <filesystem>
#include <random>
#include <string>

namespace {

// Runs `tarn fw ARGS` inside the fixture's folder.
class TarnFw : public ::testing::Test
{
protected:
    TarnFw()
        : m_current(m_folder.Path())
    {
        std::mt19937 random(21);
        m_image.resize(70000);
        for (auto& byte : m_image)
            byte = static_cast<char>(random());
        ZELTest::WriteFile("image.bin", m_image);
    }

    ZELTest::ProcessResult Fw(const std::string& arguments)
    {
        return ZELTest::RunProgram(std::string("'") + TARN_PROGRAM + "' fw " + arguments);
    }

    std::vector<std::string> FolderContent() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ZELTest::TemporaryDirectory m_folder;
    ZELTest::ScopedCurrentDirectory m_current;
    std::string m_image;
};

std::uint32_t LE32(const std::string& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
    return value;
}

} // namespace

TEST_F(TarnFw, PackedFilesVerifyAndUnpackToTheImage)
{
    for (const char* type : { "1", "6", "9", "10", "0x81" }) {
        SCOPED_TRACE(type);
        auto result = Fw(
            std::string("pack --type ") + type + " --version 'V 02.02.00' --info1 one --info2 two image.bin fw.tarn");
        ASSERT_EQ(result.exitCode, 0) << result.output;

        const std::string stored = ZELTest::ReadFile("fw.tarn");
        ASSERT_EQ(stored.size(), 80 + m_image.size());
        const std::string payload = stored.substr(80);
        const auto standard = static_cast<std::uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uInt>(payload.size())));
        EXPECT_EQ(LE32(stored, 4), ~standard) << "the header holds the standard CRC-32 inverted";

        result = Fw("verify fw.tarn");
        EXPECT_EQ(result.exitCode, 0) << result.output;
        result = Fw("unpack fw.tarn out.bin");
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(ZELTest::ReadFile("out.bin"), m_image);
    }
    EXPECT_EQ(FolderContent(), (std::vector<std::string> { "fw.tarn", "image.bin", "out.bin" }));
}

TEST_F(TarnFw, InfoShowsTheHeader)
{
    ASSERT_EQ(Fw("pack --type 5 --version 'V 01.02.03' --info1 first --info2 second image.bin m.tarn").exitCode, 0);
    auto result = Fw("info m.tarn");
    EXPECT_EQ(result.exitCode, 0);
    for (const char* part : { "m.tarn", "5 (MCPU)", "V 01.02.03", "first", "second", "70000 bytes", "(correct)" })
        EXPECT_NE(result.output.find(part), std::string::npos) << part << "\n" << result.output;

    result = Fw("info --json m.tarn");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const auto json = nlohmann::json::parse(result.output);
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["type"], 5);
    EXPECT_EQ(json[0]["typeName"], "MCPU");
    EXPECT_EQ(json[0]["version"], "V 01.02.03");
    EXPECT_EQ(json[0]["info1"], "first");
    EXPECT_EQ(json[0]["info2"], "second");
    EXPECT_EQ(json[0]["payloadSize"], 70000);
    EXPECT_EQ(json[0]["crcState"], "correct");
}

TEST_F(TarnFw, ReportsEachBadFileByNameAndWritesNothing)
{
    ASSERT_EQ(Fw("pack --type 3 --version 'V 01.00.00' image.bin good.tarn").exitCode, 0);
    std::string damaged = ZELTest::ReadFile("good.tarn");
    damaged[100] ^= 0x10;
    ZELTest::WriteFile("damaged.tarn", damaged);
    ZELTest::WriteFile("short.tarn", ZELTest::ReadFile("good.tarn").substr(0, 1000));
    ZELTest::WriteFile("tiny.tarn", "tiny");
    ZELTest::WriteFile("nothing.bin", "");
    auto result = Fw("pack --type 3 --version 'V 09.00.00' nothing.bin empty.tarn");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("Warning: the image is empty"), std::string::npos) << result.output;
    // A FIFO that holds a whole sound file, read once at most.
    ZELTest::WriteFile("small.bin", "small image");
    ASSERT_EQ(Fw("pack --type 3 --version 'V 01.00.00' small.bin small.tarn").exitCode, 0);
    ZELTest::FilledFifo fifo("fifo.tarn", ZELTest::ReadFile("small.tarn"));

    result = Fw("verify good.tarn damaged.tarn short.tarn tiny.tarn missing.tarn empty.tarn fifo.tarn");
    EXPECT_EQ(result.exitCode, 1);
    for (const char* line : { "damaged.tarn: The payload is damaged", "short.tarn: The file is shorter than its header",
             "tiny.tarn: This is not a firmware file", "missing.tarn: The file cannot be opened",
             "empty.tarn: The payload is empty", "fifo.tarn: The file cannot be opened" })
        EXPECT_NE(result.output.find(line), std::string::npos) << line << "\n" << result.output;
    result = Fw("verify --json empty.tarn");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(nlohmann::json::parse(result.output)[0]["sound"], false);
    result = Fw("info empty.tarn");
    EXPECT_EQ(result.exitCode, 1);
    for (const char* part : { "payload size: 0 bytes", "(correct)", "empty.tarn: The payload is empty" })
        EXPECT_NE(result.output.find(part), std::string::npos) << part << "\n" << result.output;

    result = Fw("verify --json good.tarn damaged.tarn");
    EXPECT_EQ(result.exitCode, 1);
    const auto json = nlohmann::json::parse(result.output);
    EXPECT_EQ(json[0]["sound"], true);
    EXPECT_EQ(json[1]["sound"], false);
    EXPECT_EQ(json[1]["status"], "ZEL_STATUS_INVALID_CRC");

    const auto before = FolderContent();
    for (const char* bad : { "damaged.tarn", "short.tarn", "tiny.tarn" }) {
        result = Fw(std::string("unpack ") + bad + " out.bin");
        EXPECT_EQ(result.exitCode, 1) << bad;
    }
    EXPECT_EQ(FolderContent(), before) << "no output and no temporary file is left";
}

TEST_F(TarnFw, PackRefusesWhatItCannotStore)
{
    auto result = Fw("pack --type 3 --version 'V 01.00.00 with a far too long text' image.bin out.tarn");
    EXPECT_EQ(result.exitCode, 2);
    result = Fw("pack --type 3 --version 'V 01.00.00' --info1 'sixteen chars ..' image.bin out.tarn");
    EXPECT_EQ(result.exitCode, 2);
    ASSERT_EQ(Fw("pack --type 3 --version 'V 01.00.00' image.bin fw.tarn").exitCode, 0);
    result = Fw("pack --type 3 --version 'V 01.00.00' fw.tarn out.tarn");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("already is a firmware file"), std::string::npos) << result.output;
    EXPECT_FALSE(std::filesystem::exists("out.tarn"));
}

TEST_F(TarnFw, OutputReplacesALinkInsteadOfWritingThroughIt)
{
    ZELTest::WriteFile("victim", "must stay");
    std::filesystem::create_symlink("victim", "out.tarn");
    ASSERT_EQ(Fw("pack --type 3 --version 'V 01.00.00' image.bin out.tarn").exitCode, 0);
    EXPECT_FALSE(std::filesystem::is_symlink("out.tarn"));
    EXPECT_EQ(ZELTest::ReadFile("victim"), "must stay");
    EXPECT_EQ(Fw("verify out.tarn").exitCode, 0);
}

// A type without a name is never installed; a typo there is the operator's, so it is a usage error
// and nothing is written.
TEST_F(TarnFw, PackRefusesATypeOutsideTheFileTypes)
{
    for (const char* type : { "0", "11", "128", "136", "255", "4294967295" }) {
        SCOPED_TRACE(type);
        const auto result = Fw(std::string("pack --type ") + type + " --version 'V 01.00.00' image.bin out.tarn");
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_NE(result.output.find("no firmware file type"), std::string::npos) << result.output;
    }
    EXPECT_EQ(FolderContent(), (std::vector<std::string> { "image.bin" }));
}

// Writing the output would replace the file being read: refused however the output names it.
TEST_F(TarnFw, PackAndUnpackRefuseToWriteTheirInput)
{
    std::filesystem::create_directory("sub");
    std::filesystem::create_symlink("image.bin", "soft.bin");
    std::filesystem::create_hard_link("image.bin", "hard.bin");
    for (const char* output : { "image.bin", "./image.bin", "sub/../image.bin", "soft.bin", "hard.bin" }) {
        SCOPED_TRACE(output);
        const auto result = Fw(std::string("pack --type 3 --version 'V 01.00.00' image.bin ") + output);
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_NE(result.output.find("itself"), std::string::npos) << result.output;
        EXPECT_EQ(ZELTest::ReadFile("image.bin"), m_image);
    }
    ASSERT_EQ(Fw("pack --type 3 --version 'V 01.00.00' image.bin fw.tarn").exitCode, 0);
    const std::string packed = ZELTest::ReadFile("fw.tarn");
    const auto result = Fw("unpack fw.tarn ./fw.tarn");
    EXPECT_EQ(result.exitCode, 2) << result.output;
    EXPECT_EQ(ZELTest::ReadFile("fw.tarn"), packed);
    EXPECT_EQ(FolderContent(), (std::vector<std::string> { "fw.tarn", "hard.bin", "image.bin", "soft.bin", "sub" }));
}
