#include "zel/foundation/CZELLanguage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Expected
{
    long module;
    long text;
    const char* german;
    const char* english;
};

// One row per text of every table, in both languages.
const Expected kTexts[] = {
    {1, 1, "Die Logdatei konnte nicht erzeugt werden.", "The logfile could not be created."},
    {1, 2, "Das aktuelle Verzeichnis kann nicht bestimmt werden, die Logdatei konnte daher nicht erzeugt werden.",
        "The current directory can not be determined, therefore the logfile can not be created."},
    {1, 3, "Der System Log wurde gestartet.", "The system log has been started."},
    {1, 4, "Der System Log konnte nicht gestartet werden.", "The system log could not be started."},
    {14, 1, "Die Logdatei konnte nicht erzeugt werden.", "The logfile could not be created."},
    {14, 3, "Der System Log wurde gestartet.", "The system log has been started."},
    {14, 4, "Der System Log konnte nicht gestartet werden.", "The system log could not be started."},
    {4, 1, "Der Thread Monitor wurde gestartet.", "The thread monitor has been started."},
    {4, 2, "Der Thread Monitor konnte nicht gestartet werden.", "The thread monitor could not be started."},
    {4, 3, "Ein Thread reagiert nicht mehr. Der Thread Monitor wird einen Speicherauszug der Anwendung erstellen.",
        "A thread has stopped to respond. The thread monitor is going to create a memory dump of the application."},
    {5, 1, "Die Message Queue wurde gestartet.", "The message queue has been started."},
    {5, 2, "Die Message Queue konnte nicht gestartet werden.", "The message queue could not be started."},
    {7, 1, "Der Plugin Manager wurde gestartet.", "The plugin manager has been started."},
    {7, 2, "Der Plugin Manager konnte nicht gestartet werden.", "The plugin manager could not be started."},
    {7, 3, "Der Plugin Manager wurde beendet.", "The plugin manager has been terminated."},
    {9, 1, "Die serielle Schnittstelle konnte nicht geöffnet werden.", "The serial port could not be opened."},
    {9, 4, "Die Timeout Konfiguration der seriellen Schnittstelle konnte nicht geschrieben werden.",
        "The timout configuration of the serial port could not be written."},
    {9, 7, "Der Empfangsthread wurde initialisiert.", "The receiving thread has been initialized."},
    {9, 9, "Der Empfangsthread wurde beendet.", "The receiving thread has been terminated."},
    {13, 1, "Das Verzeichnis für die Dumpdatei konnte nicht erzeugt werden.",
        "The directory for the dumpfile can not be created."},
    {13, 9, "Die Anwendung hat eine Verfälschung des Heaps festgestellt.", "The application has detected a heap corruption."},
    {13, 16, "Die zyklische Heap Überprüfung wurde gestartet.", "The cyclic heap check has been started."},
    {13, 21, "Die Anwendung wird eine Verfälschung des Heaps provozieren.",
        "The application is going to provoke a heap corruption."},
    {15, 1, "Die Updatedatei konnte nicht erzeugt werden.", "The update file could not be opened: "},
    {15, 9, "Ermittelte Chip ID:", "Detected chip ID:"},
    {15, 16, "Der Chip wird gelöscht ...", "The chip is going to be erased ..."},
    {15, 17, "Der Chip konnte nicht gelöscht werden.", "The chip could not be erased."},
    {15, 19, "Der Chip konnte nicht gelöscht werden.", "The chip could not be erased."},
    {15, 18, "Der Chip wurde gelöscht.", "The chip has been erased."},
    {15, 20, "Der Chip wurde gelöscht.", "The chip has been erased."},
    {15, 25, "Das Go Kommando konnte nicht gesendet werden.", "The Go command could not be sent."},
    {15, 32, "Das Go Kommando wurde gesendet.", "The Go command has been sent."},
};

// Text numbers each table holds; every other number in 0..40 must give "???".
struct Range
{
    long module;
    std::initializer_list<long> texts;
};
const Range kRanges[] = {
    {1, {1, 2, 3, 4}},
    {4, {1, 2, 3}},
    {5, {1, 2}},
    {7, {1, 2, 3}},
    {9, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
    {13, {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17, 18, 19, 20, 21}},
    {14, {1, 2, 3, 4}},
    {15, {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 32, 33, 34, 35, 36, 37}},
};

class CZELLanguageTest : public ::testing::Test
{
protected:
    CZELLanguage language;
};

} // namespace

TEST_F(CZELLanguageTest, EnglishAfterConstruction)
{
    EXPECT_EQ(language.GetLanguage(), ZEL_LANGUAGE_ENGLISH);
    EXPECT_STREQ(language.GetString(4, 1), "The thread monitor has been started.");
}

TEST_F(CZELLanguageTest, EveryTextInBothLanguages)
{
    for (const Expected& e : kTexts) {
        language.SetLanguage(ZEL_LANGUAGE_GERMAN);
        EXPECT_STREQ(language.GetString(e.module, e.text), e.german) << e.module << "/" << e.text;
        language.SetLanguage(ZEL_LANGUAGE_ENGLISH);
        EXPECT_STREQ(language.GetString(e.module, e.text), e.english) << e.module << "/" << e.text;
    }
}

TEST_F(CZELLanguageTest, TablesHoldExactlyTheirNumbers)
{
    for (const long lang : {ZEL_LANGUAGE_GERMAN, ZEL_LANGUAGE_ENGLISH}) {
        language.SetLanguage(lang);
        for (const Range& range : kRanges) {
            for (long text = -1; text <= 40; ++text) {
                const bool held = std::find(range.texts.begin(), range.texts.end(), text) != range.texts.end();
                const std::string got = language.GetString(range.module, text);
                if (held)
                    EXPECT_NE(got, "???") << range.module << "/" << text;
                else
                    EXPECT_EQ(got, "???") << range.module << "/" << text;
            }
        }
    }
}

TEST_F(CZELLanguageTest, ModulesWithoutTableAndTheThirdLanguage)
{
    EXPECT_STREQ(language.GetString(2, 1), "???");
    EXPECT_STREQ(language.GetString(16, 1), "???");
    EXPECT_STREQ(language.GetString(15, 10), "???");
    EXPECT_STREQ(language.GetString(1, 3), language.GetString(14, 3));

    language.SetLanguage(ZEL_LANGUAGE_THIRD);
    EXPECT_EQ(language.GetLanguage(), ZEL_LANGUAGE_THIRD);
    for (const Expected& e : kTexts)
        EXPECT_STREQ(language.GetString(e.module, e.text), "???") << e.module << "/" << e.text;
}

TEST_F(CZELLanguageTest, UnknownLanguageIdsSelectEnglish)
{
    for (const long id : {7L, -1L, 3L, 1L}) {
        language.SetLanguage(ZEL_LANGUAGE_GERMAN);
        language.SetLanguage(id);
        EXPECT_EQ(language.GetLanguage(), ZEL_LANGUAGE_ENGLISH) << id;
        EXPECT_STREQ(language.GetString(7, 3), "The plugin manager has been terminated.");
    }
}

TEST_F(CZELLanguageTest, DerivedClassReplacesOneTable)
{
    struct Custom : CZELLanguage
    {
        const char* GetStringZELPluginManager(long) override { return "custom"; }
    } custom;
    EXPECT_STREQ(custom.GetString(7, 1), "custom");
    EXPECT_STREQ(custom.GetString(5, 1), "The message queue has been started.");
}
