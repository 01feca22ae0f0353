// Arbitrary text as an update journal: reading it never crashes, and what is read is written back in
// a form that reads to the same entries.
#include "app/core/CUpdateJournal.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<JournalEntry> entries;
    std::string error;
    bool newer = false;
    if (!CUpdateJournal::FromJson(text, entries, error, newer))
        return 0;
    const std::string written = CUpdateJournal::ToJson(entries);
    std::vector<JournalEntry> again;
    if (!CUpdateJournal::FromJson(written, again, error, newer) || CUpdateJournal::ToJson(again) != written)
        std::abort();
    for (const JournalEntry& entry : entries)
        (void)entry.LeftInBootloader();
    return 0;
}
