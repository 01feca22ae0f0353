// The update journal: what survives on disk, what is never acted on, and which entry says that a
// processor was left in its bootloader.
#include "app/core/CUpdateJournal.h"
#include "support/ZELTestSupport.h"
#include "zel/foundation/ZELStatus.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

JournalEntry Entry(const std::string& target, const std::string& outcome, const std::string& step,
    const std::string& transfer = "bootloader", const std::string& port = "COM3")
{
    JournalEntry entry;
    entry.time = "2026-12-10 14:02:07";
    entry.port = port;
    entry.serialNumber = "QTR1-0001";
    entry.target = target;
    entry.transfer = transfer;
    entry.file = "./Firmware/" + target + ".tarn";
    entry.version = "V 01.05.00";
    entry.crc = 0x89ABCDEF;
    entry.outcome = outcome;
    entry.step = step;
    return entry;
}

class JournalFile : public ::testing::Test
{
protected:
    std::string Path() const { return folder.File("Logs/update-journal.json"); }
    ZELTest::TemporaryDirectory folder;
};

} // namespace

// Each record replaces the file: a new reader sees the entry as it was last recorded, the folder is
// made when missing, every field comes back.
TEST_F(JournalFile, RecordsSurviveInTheFile)
{
    CUpdateJournal journal(Path());
    ASSERT_EQ(journal.Load(), ZEL_STATUS_SUCCESS); // no file yet
    JournalEntry entry = Entry("LCPU", "running", "requested");
    std::size_t index = 99;
    ASSERT_EQ(journal.Begin(entry, index), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(index, 0u);

    entry.step = "switched";
    entry.bytesWritten = 512;
    entry.chipId = 0x0413;
    entry.bootloaderVersion = "3.1";
    entry.outcome = "failed";
    entry.detail = "Write Memory failed with 16 % written.";
    ASSERT_EQ(journal.Record(index, entry), ZEL_STATUS_SUCCESS);

    CUpdateJournal reader(Path());
    ASSERT_EQ(reader.Load(), ZEL_STATUS_SUCCESS);
    const std::vector<JournalEntry> entries = reader.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(CUpdateJournal::ToJson(entries), CUpdateJournal::ToJson({ entry }));
    EXPECT_TRUE(reader.Warning().empty());
}

// A damaged journal is kept aside and a new one begun; a newer program's is neither used nor
// written over. Neither is acted on.
TEST_F(JournalFile, DamagedOrNewerJournalsAreNeverActedOn)
{
    struct Case
    {
        const char* name;
        std::string text;
        long loaded;
        bool keptAside;
    };
    std::string newer = CUpdateJournal::ToJson({ Entry("LCPU", "failed", "switched") });
    const std::string::size_type format = newer.find("\"format\": 1");
    ASSERT_NE(format, std::string::npos);
    newer.replace(format, 11, "\"format\": 2");
    const Case cases[] = {
        { "not JSON", "{ \"format\": 1, \"entries\": [", ZEL_STATUS_INVALID_DATA, true },
        { "an entry without its fields", "{ \"format\": 1, \"entries\": [ { \"time\": 1 } ] }", ZEL_STATUS_INVALID_DATA, true },
        { "no format", "{ \"entries\": [] }", ZEL_STATUS_INVALID_DATA, true },
        { "newer", newer, ZEL_STATUS_INVALID_OPERATION, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder.Path() / "Logs");
        std::filesystem::create_directories(folder.Path() / "Logs");
        ZELTest::WriteFile(Path(), c.text);

        CUpdateJournal journal(Path());
        EXPECT_EQ(journal.Load(), c.loaded);
        EXPECT_FALSE(journal.Warning().empty());
        EXPECT_TRUE(journal.Entries().empty());
        EXPECT_FALSE(journal.LeftInBootloader("COM3").has_value());

        std::size_t index = 0;
        const long written = journal.Begin(Entry("KCPU", "running", "requested"), index);
        if (c.keptAside) {
            EXPECT_EQ(written, ZEL_STATUS_SUCCESS);
            EXPECT_EQ(ZELTest::ReadFile(Path() + ".damaged"), c.text);
            CUpdateJournal reader(Path());
            ASSERT_EQ(reader.Load(), ZEL_STATUS_SUCCESS);
            ASSERT_EQ(reader.Entries().size(), 1u);
            EXPECT_EQ(reader.Entries()[0].target, "KCPU");
        } else {
            EXPECT_NE(written, ZEL_STATUS_SUCCESS);
            EXPECT_EQ(ZELTest::ReadFile(Path()), c.text);
        }
    }
}

// The journal keeps the newest entries only; an index handed out before the oldest went is refused.
TEST_F(JournalFile, KeepsTheNewestEntries)
{
    CUpdateJournal journal(Path());
    std::size_t first = 0;
    std::size_t last = 0;
    for (std::size_t i = 0; i < CUpdateJournal::kMaxEntries + 5; ++i) {
        JournalEntry entry = Entry("KCPU", "updated", "finished");
        entry.bytesWritten = static_cast<std::uint32_t>(i);
        ASSERT_EQ(journal.Begin(entry, i == 0 ? first : last), ZEL_STATUS_SUCCESS);
    }
    EXPECT_EQ(journal.Record(first, Entry("KCPU", "failed", "switched")), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(journal.Record(last, Entry("KCPU", "failed", "switched")), ZEL_STATUS_SUCCESS);

    CUpdateJournal reader(Path());
    ASSERT_EQ(reader.Load(), ZEL_STATUS_SUCCESS);
    const std::vector<JournalEntry> entries = reader.Entries();
    ASSERT_EQ(entries.size(), CUpdateJournal::kMaxEntries);
    EXPECT_EQ(entries.front().bytesWritten, 5u);
    EXPECT_EQ(entries.back().outcome, "failed");
}

// The newest started target on the port decides whether a processor waits in its bootloader.
TEST(UpdateJournal, FindsTheProcessorLeftInItsBootloader)
{
    struct Case
    {
        const char* name;
        std::vector<JournalEntry> entries;
        std::optional<std::string> left;
    };
    const Case cases[] = {
        { "cut off while writing", { Entry("LCPU", "failed", "switched") }, "LCPU" },
        { "everything written, Go failed", { Entry("LCPU", "failed", "transferred") }, "LCPU" },
        { "the program ended during the transfer", { Entry("LCPU", "running", "switched") }, "LCPU" },
        { "a target after it never answered",
            { Entry("LCPU", "failed", "switched"), Entry("KCPU", "not started", "requested"),
                Entry("ECPU", "skipped", "requested", "device") },
            "LCPU" },
        { "flashed again since", { Entry("LCPU", "failed", "switched"), Entry("LCPU", "updated", "finished") },
            std::nullopt },
        { "a later target was updated", { Entry("LCPU", "failed", "switched"), Entry("KCPU", "updated", "finished") },
            std::nullopt },
        { "never switched", { Entry("LCPU", "running", "requested") }, std::nullopt },
        { "through the device", { Entry("ECPU Joystick", "failed", "switched", "device") }, std::nullopt },
        { "the CAN driver", { Entry("MCPU CAN Driver", "failed", "switched", "module") }, std::nullopt },
        { "on another port", { Entry("LCPU", "failed", "switched", "bootloader", "COM4") }, std::nullopt },
        { "another port's later update", { Entry("LCPU", "failed", "switched"),
            Entry("KCPU", "updated", "finished", "bootloader", "COM4") }, "LCPU" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZELTest::TemporaryDirectory folder;
        ZELTest::WriteFile(folder.File("journal.json"), CUpdateJournal::ToJson(c.entries));
        CUpdateJournal journal(folder.File("journal.json"));
        ASSERT_EQ(journal.Load(), ZEL_STATUS_SUCCESS);
        const std::optional<JournalEntry> left = journal.LeftInBootloader("COM3");
        ASSERT_EQ(left.has_value(), c.left.has_value());
        if (left) {
            EXPECT_EQ(left->target, *c.left);
        }
    }
}
