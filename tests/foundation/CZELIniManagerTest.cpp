#include "zel/foundation/CZELIniManager.h"
#include "zel/foundation/ZELStatus.h"

#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

class CZELIniManagerTest : public ::testing::Test
{
protected:
    std::string Get(const std::string& section, const std::string& key, long* status = nullptr)
    {
        std::string value = "untouched";
        const long result = ini.GetEntry(section, key, &value, path);
        if (status)
            *status = result;
        return value;
    }

    ZELTest::TemporaryDirectory folder;
    std::string path = folder.File("ZEL.ini");
    CZELIniManager ini;
};

} // namespace

TEST_F(CZELIniManagerTest, ReadsValuesCaseInsensitively)
{
    ZELTest::WriteFile(path, "[TarnUpdate]\r\nLanguage=0\r\n COMPort = COM3 \r\n[Other]\r\nLanguage=1\r\n");
    struct Case
    {
        const char* section;
        const char* key;
        long status;
        const char* value;
    };
    const Case cases[] = {
        {"TarnUpdate", "Language", ZEL_STATUS_SUCCESS, "0"},
        {"tarnupdate", "LANGUAGE", ZEL_STATUS_SUCCESS, "0"},
        {"TarnUpdate", "COMPort", ZEL_STATUS_SUCCESS, "COM3"},
        {"Other", "Language", ZEL_STATUS_SUCCESS, "1"},
        {"TarnUpdate", "Missing", ZEL_STATUS_NOT_FOUND, "untouched"},
        {"Missing", "Language", ZEL_STATUS_NOT_FOUND, "untouched"},
        {"", "Language", ZEL_STATUS_NOT_FOUND, "untouched"},
    };
    for (const Case& c : cases) {
        long status = 0;
        EXPECT_EQ(Get(c.section, c.key, &status), c.value) << c.section << "/" << c.key;
        EXPECT_EQ(status, c.status) << c.section << "/" << c.key;
    }
}

TEST_F(CZELIniManagerTest, EmptyValueIsNotFoundAndLeavesTheCallersString)
{
    ZELTest::WriteFile(path, "[S]\nEmpty=\nBlank=   \n");
    long status = 0;
    EXPECT_EQ(Get("S", "Empty", &status), "untouched");
    EXPECT_EQ(status, ZEL_STATUS_NOT_FOUND);
    EXPECT_EQ(Get("S", "Blank", &status), "untouched");
    EXPECT_EQ(status, ZEL_STATUS_NOT_FOUND);
}

TEST_F(CZELIniManagerTest, MissingOrUnreadableFileIsNotFound)
{
    long status = 0;
    EXPECT_EQ(Get("S", "K", &status), "untouched");
    EXPECT_EQ(status, ZEL_STATUS_NOT_FOUND);

    std::filesystem::create_directory(path); // a folder where the file should be
    EXPECT_EQ(Get("S", "K", &status), "untouched");
    EXPECT_EQ(status, ZEL_STATUS_NOT_FOUND);
    EXPECT_EQ(ini.SetEntry("S", "K", "v", path), ZEL_STATUS_UNSPECIFIC_ERROR);
}

TEST_F(CZELIniManagerTest, LongValuesAreCutToTheBuffer)
{
    const std::string longValue(20000, 'x');
    ZELTest::WriteFile(path, "[S]\nLong=" + longValue + "\nExact=" + std::string(10239, 'y') + "\n");
    std::string value;
    ASSERT_EQ(ini.GetEntry("S", "Long", &value, path), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(value, std::string(10239, 'x'));
    ASSERT_EQ(ini.GetEntry("S", "Exact", &value, path), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(value.size(), 10239u);
}

TEST_F(CZELIniManagerTest, WriteCreatesTheFileAndReadsBack)
{
    ASSERT_EQ(ini.SetEntry("TarnUpdate", "COMPort", "COM1", path), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(ini.SetEntry("TarnUpdate", "Language", "1", path), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(ZELTest::ReadFile(path), "[TarnUpdate]\nCOMPort=COM1\nLanguage=1\n");
    EXPECT_EQ(Get("TarnUpdate", "COMPort"), "COM1");
}

TEST_F(CZELIniManagerTest, WriteKeepsEveryOtherByte)
{
    const std::string before = "; settings\r\n"
                               "[ZELMemoryDump]\r\n"
                               "DumpType = 2   ; full\r\n"
                               "\r\n"
                               "[TarnUpdate]\r\n"
                               "language=0\r\n"
                               "  FileFilter=0xFF\r\n"
                               "\r\n"
                               "[Last]\r\n"
                               "x=1";
    struct Case
    {
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    };
    const Case cases[] = {
        {"TarnUpdate", "Language", "1",
            "; settings\r\n[ZELMemoryDump]\r\nDumpType = 2   ; full\r\n\r\n[TarnUpdate]\r\nLanguage=1\r\n"
            "  FileFilter=0xFF\r\n\r\n[Last]\r\nx=1"},
        {"tarnupdate", "COMPort", "COM7",
            "; settings\r\n[ZELMemoryDump]\r\nDumpType = 2   ; full\r\n\r\n[TarnUpdate]\r\nlanguage=0\r\n"
            "  FileFilter=0xFF\r\nCOMPort=COM7\r\n\r\n[Last]\r\nx=1"},
        {"Last", "y", "2",
            "; settings\r\n[ZELMemoryDump]\r\nDumpType = 2   ; full\r\n\r\n[TarnUpdate]\r\nlanguage=0\r\n"
            "  FileFilter=0xFF\r\n\r\n[Last]\r\nx=1\r\ny=2\r\n"},
        {"New", "k", "v",
            "; settings\r\n[ZELMemoryDump]\r\nDumpType = 2   ; full\r\n\r\n[TarnUpdate]\r\nlanguage=0\r\n"
            "  FileFilter=0xFF\r\n\r\n[Last]\r\nx=1\r\n[New]\r\nk=v\r\n"},
    };
    for (const Case& c : cases) {
        ZELTest::WriteFile(path, before);
        ASSERT_EQ(ini.SetEntry(c.section, c.key, c.value, path), ZEL_STATUS_SUCCESS) << c.key;
        EXPECT_EQ(ZELTest::ReadFile(path), c.after) << c.section << "/" << c.key;
        EXPECT_EQ(Get(c.section, c.key), c.value);
    }
}

TEST_F(CZELIniManagerTest, DuplicatesAreReadAndWrittenAtTheirFirstOccurrence)
{
    struct Case
    {
        const char* name;
        std::string before;
        const char* read; // the value before the write, or nullptr for not found
        std::string after; // the file after writing K=new
    };
    const Case cases[] = {
        {"duplicate key", "[S]\nK=first\nK=second\n", "first", "[S]\nK=new\nK=second\n"},
        {"duplicate key, other case", "[S]\nk = first\nK=second\n", "first", "[S]\nK=new\nK=second\n"},
        {"duplicate section", "[S]\nK=first\n[T]\nK=other\n[s]\nK=second\n", "first",
            "[S]\nK=new\n[T]\nK=other\n[s]\nK=second\n"},
        {"key only in the later section", "[S]\nX=1\n[S]\nK=second\n", nullptr,
            "[S]\nX=1\nK=new\n[S]\nK=second\n"},
        {"byte order mark", "\xEF\xBB\xBF[S]\nK=first\n[S]\nK=second\n", "first",
            "\xEF\xBB\xBF[S]\nK=new\n[S]\nK=second\n"},
    };
    for (const Case& c : cases) {
        ZELTest::WriteFile(path, c.before);
        long status = 0;
        EXPECT_EQ(Get("S", "K", &status), c.read ? c.read : "untouched") << c.name;
        EXPECT_EQ(status, c.read ? ZEL_STATUS_SUCCESS : ZEL_STATUS_NOT_FOUND) << c.name;
        ASSERT_EQ(ini.SetEntry("S", "K", "new", path), ZEL_STATUS_SUCCESS) << c.name;
        EXPECT_EQ(ZELTest::ReadFile(path), c.after) << c.name;
        EXPECT_EQ(Get("S", "K"), "new") << c.name;
    }
}

TEST_F(CZELIniManagerTest, RefusesTextThatWouldAddLines)
{
    ZELTest::WriteFile(path, "[S]\nK=old\n");
    EXPECT_EQ(ini.SetEntry("S", "K", "new\n[Injected]\nX=1", path), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ini.SetEntry("S", "", "v", path), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ini.SetEntry("", "K", "v", path), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(ZELTest::ReadFile(path), "[S]\nK=old\n");
}

TEST_F(CZELIniManagerTest, KeyBeforeAnySectionBelongsToNoSection)
{
    ZELTest::WriteFile(path, "Orphan=1\n[S]\nK=v\n");
    long status = 0;
    EXPECT_EQ(Get("S", "Orphan", &status), "untouched");
    EXPECT_EQ(status, ZEL_STATUS_NOT_FOUND);
    EXPECT_EQ(Get("S", "K"), "v");
    ASSERT_EQ(ini.SetEntry("S", "Orphan", "2", path), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(ZELTest::ReadFile(path), "Orphan=1\n[S]\nK=v\nOrphan=2\n");
}

TEST_F(CZELIniManagerTest, SurvivesBinaryContent)
{
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::string noise(static_cast<std::size_t>(random() % 4096), '\0');
        for (char& c : noise)
            c = static_cast<char>(random());
        ZELTest::WriteFile(path, noise);
        std::string value = "untouched";
        const long status = ini.GetEntry("TarnUpdate", "Language", &value, path);
        EXPECT_TRUE(status == ZEL_STATUS_SUCCESS || (status == ZEL_STATUS_NOT_FOUND && value == "untouched"));
        EXPECT_EQ(ini.SetEntry("TarnUpdate", "Language", "1", path), ZEL_STATUS_SUCCESS);
        ASSERT_EQ(ini.GetEntry("TarnUpdate", "Language", &value, path), ZEL_STATUS_SUCCESS) << "round " << round;
        EXPECT_EQ(value, "1");
    }
}

TEST_F(CZELIniManagerTest, DefaultPathIsFixedAtConstruction)
{
    ZELTest::TemporaryDirectory first;
    ZELTest::TemporaryDirectory second;
    std::unique_ptr<CZELIniManager> manager;
    {
        ZELTest::ScopedCurrentDirectory inFirst(first.Path());
        manager = std::make_unique<CZELIniManager>();
    }
    EXPECT_EQ(manager->GetDefaultPath(), first.File("ZEL.ini"));

    ZELTest::ScopedCurrentDirectory inSecond(second.Path());
    ASSERT_EQ(manager->SetEntry("TarnUpdate", "COMPort", "COM2", ""), ZEL_STATUS_SUCCESS);
    std::string value;
    ASSERT_EQ(manager->GetEntry("TarnUpdate", "COMPort", &value, ""), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(value, "COM2");
    EXPECT_TRUE(std::filesystem::exists(first.File("ZEL.ini")));
    EXPECT_FALSE(std::filesystem::exists(second.File("ZEL.ini")));
}
