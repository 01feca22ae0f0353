#include "app/core/UpdateTexts.h"
#include "support/ZELTestSupport.h"
#include "zel/foundation/CZELLanguage.h"

#include <gtest/gtest.h>

namespace {

struct TextCase
{
    unsigned long id;
    const char* english;
    const char* german;
};

// The dialog's labels and button captions, and samples of the other groups.
const TextCase kTexts[] = {
    {0x11000001, "Clear Status", "Status löschen"},
    {0x11000002, "Auto-scroll\r\nStatus Window", "Statusfenster\r\nautom. scrollen"},
    {0x11000003, "Open", "Öffnen"},
    {0x11000004, "Close", "Schließen"},
    {0x11000005, "Start\r\nUpdate", "Update\r\nstarten"},
    {0x11000006, "Cancel Update", "Update abbr."},
    {0x11000007, "Yes", "Ja"},
    {0x11000008, "No", "Nein"},
    {0x11000009, "OK", "OK"},
    {0x12000001, "Program Settings", "Programmeinstellungen"},
    {0x12000002, "Language:", "Sprache:"},
    {0x12000003, "Baud Rate:", "Baud Rate:"},
    {0x12000004, "COM Port:", "COM Port:"},
    {0x12000005, "Status:", "Status:"},
    {0x12000006, "Progress:", "Fortschritt:"},
    {0x12000109, "Update failed", "Update fehlgeschlagen"},
    {0x14000003, "Update failed", "Update fehlgeschlagen"},
    {0x14000002, "Start Update", "Update starten"},
    {0x13000028,
        "The update is still running. Stopping it may leave a processor of the device in its bootloader.\r\nStop the "
        "update after the current processor?",
        "Das Update läuft noch. Wird es jetzt beendet, kann ein Prozessor des Geräts in seinem Bootloader bleiben.\r\n"
        "Das Update nach dem aktuellen Prozessor beenden?"},
    {0x13000029, "The file holds no firmware image.", "Die Datei enthält kein Firmware-Image."},
};

TEST(UpdateTexts, EveryTextInBothLanguagesAndQuestionMarksOtherwise)
{
    const ZELTest::ScopedLanguage keep;
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.id);
        GetZELLanguage().SetLanguage(ZEL_LANGUAGE_ENGLISH);
        EXPECT_STREQ(GetUpdateText(c.id), c.english);
        GetZELLanguage().SetLanguage(ZEL_LANGUAGE_GERMAN);
        EXPECT_STREQ(GetUpdateText(c.id), c.german);
        GetZELLanguage().SetLanguage(ZEL_LANGUAGE_THIRD);
        EXPECT_STREQ(GetUpdateText(c.id), "???");
    }
    GetZELLanguage().SetLanguage(ZEL_LANGUAGE_ENGLISH);
    EXPECT_STREQ(GetUpdateText(0x12000007), "???");
}

} // namespace
