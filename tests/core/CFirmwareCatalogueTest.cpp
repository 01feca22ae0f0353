#include "app/core/CFirmwareCatalogue.h"

#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/platform/ZELProcess.h"

#include "support/ZELTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <ostream>
#include <vector>

namespace {

// The folder as the program names it: ./Firmware on Linux, .\Firmware on Windows.
const std::string kFolder = ZELPlatform::JoinPath(".", "Firmware");
const std::string kFirmware = kFolder + ZELPlatform::PathSeparator();

struct LogLine
{
    std::string message;
    _ZELSystemLogExEventType type;
    bool operator==(const LogLine&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const LogLine& line)
    {
        return out << line.type << " " << ::testing::PrintToString(line.message);
    }
};

// A folder with a Firmware folder in it, made current, and a catalogue whose log lines are kept.
class CatalogueFixture : public ::testing::Test
{
protected:
    CatalogueFixture()
        : m_current(m_folder.Path())
    {
        std::filesystem::create_directory(m_folder.Path() / "Firmware");
        ZELTest::WriteFile(m_folder.File("image.bin"), "some image bytes");
    }

    void AddFirmware(const std::string& name, std::uint32_t type, const char* version, const char* info1 = "",
        const char* info2 = "", const char* image = "image.bin")
    {
        _FILE_HEADER header {};
        header.fileType = type;
        std::strncpy(header.version, version, sizeof header.version - 1);
        std::strncpy(header.info1, info1, sizeof header.info1 - 1);
        std::strncpy(header.info2, info2, sizeof header.info2 - 1);
        AddFirmware(name, header, image);
    }
    void AddFirmware(const std::string& name, _FILE_HEADER header, const char* image = "image.bin")
    {
        ASSERT_EQ(GetZELFileHeader().CreateNewFile(image, "Firmware/" + name, &header), ZEL_STATUS_SUCCESS);
    }

    CFirmwareCatalogue MakeCatalogue()
    {
        return CFirmwareCatalogue(kFolder, [this](const std::string& message, _ZELSystemLogExEventType type) {
            m_log.push_back({ message, type });
        });
    }

    ZELTest::TemporaryDirectory m_folder;
    ZELTest::ScopedCurrentDirectory m_current;
    std::vector<LogLine> m_log;
};

} // namespace

TEST_F(CatalogueFixture, KeepsTheStrictlyNewestFileOfEachType)
{
    struct Case
    {
        const char* name;
        const char* firstVersion; // file a.tarn, found first
        const char* secondVersion; // file b.tarn
        std::string kept; // path in slot 3, empty for none
        std::string passedOver; // the other file and why, empty for none
    };
    const Case cases[] = {
        { "newer second", "V 01.02.03", "V 01.02.04", kFirmware + "b.tarn",
            kFirmware + "a.tarn: KCPU V 01.02.03: " + kFirmware + "b.tarn (V 01.02.04) is newer and was taken" },
        { "newer first", "V 01.02.04", "V 01.02.03", kFirmware + "a.tarn",
            kFirmware + "b.tarn: KCPU V 01.02.03: older than " + kFirmware + "a.tarn (V 01.02.04), which was taken" },
        { "equal versions keep the first", "V 01.02.03", "V 01.02.03", kFirmware + "a.tarn",
            kFirmware + "b.tarn: KCPU V 01.02.03: a second file with the same version; " + kFirmware
                + "a.tarn was taken" },
        { "version 0 never fills an empty slot", "bad", "", "", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all("Firmware");
        std::filesystem::create_directory("Firmware");
        AddFirmware("a.tarn", 3, c.firstVersion);
        AddFirmware("b.tarn", 3, c.secondVersion);
        CFirmwareCatalogue catalogue = MakeCatalogue();
        EXPECT_EQ(catalogue.ScanFirmwareFolder(), 0);
        EXPECT_EQ(catalogue.Slot(3).path, c.kept);
        std::string passedOver;
        for (const CFirmwareCatalogue::RejectedFile& file : catalogue.PassedOverFiles())
            passedOver += file.path + ": " + file.cause;
        EXPECT_EQ(passedOver, c.passedOver);
        if (!c.kept.empty()) {
            EXPECT_EQ(catalogue.Slot(3).header.fileType, 3u);
        }
    }
}

// What the folder itself was like: the planning says it instead of "installed already".
TEST_F(CatalogueFixture, TellsAMissingOrEmptyFolderFromOneWithFiles)
{
    using State = CFirmwareCatalogue::FolderState;
    EXPECT_EQ(MakeCatalogue().GetFolderState(), State::NotScanned);
    CFirmwareCatalogue empty = MakeCatalogue();
    EXPECT_EQ(empty.ScanFirmwareFolder(), -1);
    EXPECT_EQ(empty.GetFolderState(), State::NoFiles);
    ZELTest::WriteFile("Firmware/foreign.tarn", "no firmware");
    CFirmwareCatalogue unusable = MakeCatalogue();
    EXPECT_EQ(unusable.ScanFirmwareFolder(), 0);
    EXPECT_EQ(unusable.GetFolderState(), State::NoFiles);
    AddFirmware("kcpu.tarn", 3, "V 01.00.00");
    CFirmwareCatalogue read = MakeCatalogue();
    EXPECT_EQ(read.ScanFirmwareFolder(), 0);
    EXPECT_EQ(read.GetFolderState(), State::Read);
    std::filesystem::remove_all("Firmware");
    CFirmwareCatalogue missing = MakeCatalogue();
    EXPECT_EQ(missing.ScanFirmwareFolder(), -1);
    EXPECT_EQ(missing.GetFolderState(), State::Missing);
}

TEST_F(CatalogueFixture, LogsEveryFileAndSkipsWhatItCannotUse)
{
    if (!ZELTest::FilledFifo::Supported())
        GTEST_SKIP() << "needs FIFOs and symbolic links";
    AddFirmware("kcpu.tarn", 3, "V 01.00.00", "first info", "second info");
    AddFirmware("other.TARN", 11, "V 05.00.00");
    ZELTest::WriteFile("Firmware/foreign.tarn", std::string(100, 'x'));
    AddFirmware("damaged.tarn", 4, "V 01.00.00");
    std::string damaged = ZELTest::ReadFile("Firmware/damaged.tarn");
    damaged.back() ^= 1;
    ZELTest::WriteFile("Firmware/damaged.tarn", damaged);
    ZELTest::WriteFile("Firmware/notes.txt", "not searched");
    std::filesystem::create_directory("Firmware/folder.tarn");
    // Nothing to flash: a sound header over an empty payload.
    ZELTest::WriteFile("nothing.bin", "");
    AddFirmware("empty.tarn", 7, "V 09.00.00", "", "", "nothing.bin");
    // Entries that are no file of the folder, though named like one.
    std::filesystem::create_symlink("no-such-file", "Firmware/gone.tarn");
    AddFirmware("../outside.tarn", 6, "V 09.00.00");
    std::filesystem::create_symlink("../outside.tarn", "Firmware/outside.tarn");
    ZELTest::FilledFifo fifo("Firmware/fifo.tarn", ZELTest::ReadFile("outside.tarn"));
    // A link to a file of the folder is read like the file.
    AddFirmware("mcpu.bin", 5, "V 01.00.00");
    std::filesystem::create_symlink("mcpu.bin", "Firmware/inside.tarn");

    CFirmwareCatalogue catalogue = MakeCatalogue();
    EXPECT_EQ(catalogue.ScanFirmwareFolder(), 0);
    auto warning = [](const std::string& name, const std::string& cause) {
        return LogLine { "The following file could not be read: " + kFirmware + name + "\r\nDetected error: " + cause,
            ZEL_SYSTEM_LOG_EX_EVENT_WARNING };
    };
    const std::vector<LogLine> expected = {
        warning("damaged.tarn", "the content is damaged, its checksum does not match (ZEL_STATUS_INVALID_CRC)"),
        warning("empty.tarn", "The file holds no firmware image."),
        warning("fifo.tarn", "the file cannot be opened or read (ZEL_STATUS_FILE_ERROR)"),
        warning("foreign.tarn", "The file header is not supported."),
        warning("gone.tarn", "the file cannot be opened or read (ZEL_STATUS_FILE_ERROR)"),
        { "The following file has been found: " + kFirmware + "inside.tarn (MCPU, V 01.00.00, , )",
            ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION },
        { "The following file has been found: " + kFirmware + "kcpu.tarn (KCPU, V 01.00.00, first info, second info)",
            ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION },
        { "The following file has been found: " + kFirmware + "other.TARN (, V 05.00.00, , )",
            ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION },
        warning("outside.tarn", "the file cannot be opened or read (ZEL_STATUS_FILE_ERROR)"),
    };
    EXPECT_EQ(m_log, expected);
    EXPECT_EQ(catalogue.Slot(3).path, kFirmware + "kcpu.tarn");
    EXPECT_EQ(catalogue.Slot(5).path, kFirmware + "inside.tarn");
    EXPECT_EQ(catalogue.Slot(4).path, "") << "a damaged file is never kept";
    for (int slot = 1; slot <= CFirmwareCatalogue::SLOT_COUNT; ++slot) {
        if (slot != 3 && slot != 5) {
            EXPECT_EQ(catalogue.Slot(slot).path, "") << slot;
        }
    }
    // Every warning's file, for the operator's console.
    std::vector<std::string> rejected;
    for (const CFirmwareCatalogue::RejectedFile& file : catalogue.RejectedFiles())
        rejected.push_back(file.path + ": " + file.cause);
    EXPECT_EQ(rejected,
        (std::vector<std::string> {
            kFirmware + "damaged.tarn: the content is damaged, its checksum does not match (ZEL_STATUS_INVALID_CRC)",
            kFirmware + "empty.tarn: The file holds no firmware image.",
            kFirmware + "fifo.tarn: the file cannot be opened or read (ZEL_STATUS_FILE_ERROR)",
            kFirmware + "foreign.tarn: The file header is not supported.",
            kFirmware + "gone.tarn: the file cannot be opened or read (ZEL_STATUS_FILE_ERROR)",
            kFirmware + "outside.tarn: the file cannot be opened or read (ZEL_STATUS_FILE_ERROR)" }));
}

TEST_F(CatalogueFixture, LogsInTheLanguageOfTheMoment)
{
    AddFirmware("kcpu.tarn", 3, "V 01.00.00");
    {
        const ZELTest::ScopedLanguage german(ZEL_LANGUAGE_GERMAN);
        CFirmwareCatalogue catalogue = MakeCatalogue();
        catalogue.ScanFirmwareFolder();
    }
    ASSERT_EQ(m_log.size(), 1u);
    EXPECT_EQ(m_log[0].message, "Die folgende Datei wurde gefunden: " + kFirmware + "kcpu.tarn (KCPU, V 01.00.00, , )");
}

TEST_F(CatalogueFixture, AnEmptyOrMissingFolderLeavesTheCatalogueEmpty)
{
    ZELTest::WriteFile("Firmware/readme.txt", "no firmware here");
    CFirmwareCatalogue empty = MakeCatalogue();
    EXPECT_EQ(empty.ScanFirmwareFolder(), -1);

    CFirmwareCatalogue missing("./NoSuchFolder", [this](const std::string& m, _ZELSystemLogExEventType t) {
        m_log.push_back({ m, t });
    });
    EXPECT_EQ(missing.ScanFirmwareFolder(), -1);
    EXPECT_TRUE(m_log.empty());
    for (int slot = 1; slot <= CFirmwareCatalogue::SLOT_COUNT; ++slot)
        EXPECT_EQ(missing.Slot(slot).path, "");
    _FILE_HEADER header {};
    EXPECT_EQ(missing.KeepNewestFile(header, "x", 11), ZEL_STATUS_INVALID_PARAMETER);
}

// Text fields that fill their whole width have no terminator; they must end at the field's end.
TEST_F(CatalogueFixture, ReadsTextFieldsWithoutTerminator)
{
    const std::string version = "V 01.02.03" + std::string(22, 'x');
    _FILE_HEADER header {};
    header.fileType = 3;
    std::memcpy(header.version, version.data(), sizeof header.version);
    std::memset(header.info1, 'a', sizeof header.info1);
    std::memset(header.info2, 'b', sizeof header.info2);
    AddFirmware("full.tarn", header);

    CFirmwareCatalogue catalogue = MakeCatalogue();
    EXPECT_EQ(catalogue.ScanFirmwareFolder(), 0);
    ASSERT_EQ(m_log.size(), 1u);
    EXPECT_EQ(m_log[0].message,
        "The following file has been found: " + kFirmware + "full.tarn (KCPU, " + version + ", " + std::string(16, 'a') + ", "
            + std::string(16, 'b') + ")");
    EXPECT_EQ(catalogue.Slot(3).path, kFirmware + "full.tarn");
}
