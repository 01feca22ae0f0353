#include "update/UpdaterTestSupport.h"

#include "app/core/CUpdaterApp.h"
#include "support/ZELTestSupport.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/log/CZELSystemLogEx.h"

#include <filesystem>

using namespace UpdaterTest;

namespace {

// A dialog on a simulated link with its settings file in a folder of its own.
class Program
{
public:
    ZELTest::ScopedLanguage language; // the settings set both on the library
    ZELTest::ScopedLogFilters filters;
    ZELTest::TemporaryDirectory folder;
    std::string ini = folder.File("ZEL.ini");
    RecordingView view;
    SimLink link;
    CZELCommandSet commands;
    LogRecorder log;
    CUpdaterDlg dialog{view, link, commands, folder.File("Firmware"), log.Sink()};
    CUpdaterApp app{dialog, ini};
};

struct SettingsCase
{
    const char* name;
    const char* section; // lines of section "TarnUpdate"; null: no settings file at all
    long language;
    const char* port;
    long baudRate;
    std::uint16_t protocol;
    UpdaterSettings flags;
    std::uint32_t fileFilter;
    std::uint32_t outputFilter;
};

UpdaterSettings Flags(bool downgrade, bool downgradeMCPU, bool oks, bool mcpuMode, bool verify = false)
{
    UpdaterSettings settings;
    settings.allowDowngrade = downgrade;
    settings.allowDowngradeMCPU = downgradeMCPU;
    settings.oksWorkaround = oks;
    settings.mcpuMode = mcpuMode;
    settings.verifyAfterWrite = verify;
    return settings;
}

constexpr std::uint32_t kAll = 0xFFFFFFFFu;

const SettingsCase kSettingsCases[] = {
    {"no settings file", nullptr, 1, "COM1", 7, 0x1800, Flags(false, false, false, false), kAll, kAll},
    {"empty section", "", 1, "COM1", 7, 0x1800, Flags(false, false, false, false), kAll, kAll},
    {"every key", "Language=0\nFileFilter=96\nOutputFilter=4294967295\nCOMPort=ttyUSB0\nBaudRate=4\n"
                  "COMProtocol=6272\nAllowDowngrade=1\nAllowDowngradeMCPU=2\nOKSWorkaround=1\nMCPUMode=1\n"
                  "VerifyAfterWrite=1\n",
        0, "ttyUSB0", 4, 0x1880, Flags(true, true, true, true, true), 96, kAll},
    {"module protocol", "COMProtocol=18433\n", 1, "COM1", 7, 0x4801, Flags(false, false, false, false), kAll, kAll},
    {"baud rate keeps the port", "COMPort=COM3\nBaudRate=9\n", 1, "COM3", 9, 0x1800,
        Flags(false, false, false, false), kAll, kAll},
    // Words a person writes mean what they say; a text that cannot be read keeps the default.
    {"words and unreadable texts", "Language=deutsch\nBaudRate=x\nAllowDowngrade=yes\nMCPUMode= 1abc\n", 0, "COM1", 7,
        0x1800, Flags(true, false, false, false), kAll, kAll},
    {"spellings of switches and numbers",
        "Language=EN\nFileFilter=0x60\nOutputFilter=-1\nCOMProtocol=0x1880\nAllowDowngrade=On\n"
        "AllowDowngradeMCPU=no\nOKSWorkaround=TRUE\nMCPUMode=off\nVerifyAfterWrite=Yes\n",
        1, "COM1", 7, 0x1880, Flags(true, false, true, false, true), 96, kAll},
    {"language by name", "Language=German\n", 0, "COM1", 7, 0x1800, Flags(false, false, false, false), kAll, kAll},
    {"third language", "Language=2\n", 2, "COM1", 7, 0x1800, Flags(false, false, false, false), kAll, kAll},
    {"unknown language", "Language=7\n", 1, "COM1", 7, 0x1800, Flags(false, false, false, false), kAll, kAll},
    // The port refuses an unknown framing: the program stays with the one the port keeps.
    {"unknown protocol", "COMProtocol=99\n", 1, "COM1", 7, 0x1800, Flags(false, false, false, false), kAll, kAll},
    {"empty value is absent", "COMPort=\nLanguage=\n", 1, "COM1", 7, 0x1800, Flags(false, false, false, false), kAll,
        kAll},
};

TEST(CUpdaterApp, LoadSettingsAppliesEveryKeyOverTheDefaults)
{
    for (const SettingsCase& c : kSettingsCases) {
        SCOPED_TRACE(c.name);
        Program program;
        // What an earlier run left in the singletons must not leak into this one.
        GetZELLanguage().SetLanguage(ZEL_LANGUAGE_GERMAN);
        GetZELSystemLogEx().SetFileFilter(0);
        program.link.SetSerialPortSettings("COM9", 2);
        if (c.section != nullptr)
            ZELTest::WriteFile(program.ini, std::string("[TarnUpdate]\n") + c.section);

        EXPECT_EQ(program.app.LoadSettings(), ZEL_STATUS_SUCCESS);

        EXPECT_EQ(GetZELLanguage().GetLanguage(), c.language);
        EXPECT_EQ(program.link.GetCOMPort(), c.port);
        EXPECT_EQ(program.link.GetBaudRateAsID(), c.baudRate);
        EXPECT_EQ(program.link.GetProtocol(), c.protocol);
        EXPECT_EQ(program.dialog.GetProtocol(), c.protocol);
        EXPECT_EQ(program.commands.GetProtocol(), c.protocol);
        const UpdaterSettings settings = program.dialog.GetSettings();
        EXPECT_EQ(settings.allowDowngrade, c.flags.allowDowngrade);
        EXPECT_EQ(settings.allowDowngradeMCPU, c.flags.allowDowngradeMCPU);
        EXPECT_EQ(settings.oksWorkaround, c.flags.oksWorkaround);
        EXPECT_EQ(settings.mcpuMode, c.flags.mcpuMode);
        EXPECT_EQ(settings.verifyAfterWrite, c.flags.verifyAfterWrite);
        EXPECT_EQ(GetZELSystemLogEx().GetFileFilter(), c.fileFilter);
        EXPECT_EQ(GetZELSystemLogEx().GetOutputFilter(), c.outputFilter);
    }
}

// A value the program cannot read is named with the value used instead, and nothing else changes.
TEST(CUpdaterApp, LoadSettingsNamesEveryValueItCannotRead)
{
    struct Case
    {
        const char* line;
        const char* used;
    };
    const Case cases[] = {
        {"VerifyAfterWrite=maybe", "0 (off)"},
        {"AllowDowngrade=2x", "0 (off)"},
        {"MCPUMode=1abc", "0 (off)"},
        {"Language=fr", "1 (English)"},
        {"Language=7", "1 (English)"},
        {"BaudRate=x", "7"},
        {"BaudRate=-1", "7"},
        {"COMProtocol=99", "6144"},
        {"COMProtocol=0x11800", "6144"},
        {"FileFilter=0x1FFFFFFFF", "4294967295"},
        {"OutputFilter=all", "4294967295"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Program program;
        ZELTest::WriteFile(program.ini, std::string("[TarnUpdate]\n") + c.line + "\n");
        EXPECT_EQ(program.app.LoadSettings(), ZEL_STATUS_SUCCESS);
        ASSERT_EQ(program.app.GetSettingsWarnings().size(), 1u);
        const std::string& warning = program.app.GetSettingsWarnings()[0];
        EXPECT_NE(warning.find(c.line), std::string::npos) << warning;
        EXPECT_NE(warning.find(std::string("; ") + c.used + " is used instead"), std::string::npos) << warning;

        EXPECT_EQ(GetZELLanguage().GetLanguage(), ZEL_LANGUAGE_ENGLISH);
        EXPECT_EQ(program.link.GetBaudRateAsID(), 7);
        EXPECT_EQ(program.link.GetProtocol(), 0x1800);
        EXPECT_EQ(GetZELSystemLogEx().GetFileFilter(), kAll);
        EXPECT_EQ(GetZELSystemLogEx().GetOutputFilter(), kAll);
        const UpdaterSettings settings = program.dialog.GetSettings();
        EXPECT_FALSE(settings.verifyAfterWrite || settings.allowDowngrade || settings.mcpuMode);
    }
}

// The settings are read before the log runs: the warnings reach the reporter at once and the log
// as soon as it starts; a second reading that finds nothing wrong has no warnings left.
TEST(CUpdaterApp, SettingsWarningsGoToTheReporterAndTheLog)
{
    ZELTest::TemporaryDirectory folder;
    ZELTest::ScopedCurrentDirectory inFolder(folder.Path());
    ZELTest::ScopedLanguage language;
    RecordingView view;
    SimLink link;
    CZELCommandSet commands;
    LogRecorder log;
    CUpdaterDlg dialog{view, link, commands, folder.File("Firmware"), log.Sink()};
    CUpdaterApp app{dialog, folder.File("ZEL.ini")};
    std::vector<std::string> reported;
    CUpdaterApp::SetSettingsWarningReporter([&reported](const std::string& warning) { reported.push_back(warning); });
    ZELTest::WriteFile(folder.File("ZEL.ini"), "[TarnUpdate]\nVerifyAfterWrite=ja bitte\nLanguage=english\n");

    app.LoadSettings();
    CUpdaterApp::SetSettingsWarningReporter(nullptr);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("VerifyAfterWrite=ja bitte"), std::string::npos) << reported[0];
    EXPECT_TRUE(log.Lines().empty());
    app.StartModules();
    EXPECT_TRUE(log.Contains(reported[0], ZEL_SYSTEM_LOG_EX_EVENT_WARNING));
    app.ShutdownModules();

    ZELTest::WriteFile(folder.File("ZEL.ini"), "[TarnUpdate]\nVerifyAfterWrite=1\n");
    app.LoadSettings();
    EXPECT_TRUE(app.GetSettingsWarnings().empty());
}

TEST(CUpdaterApp, FirstStartWritesOnlyLanguageAndPort)
{
    Program program;
    program.app.LoadSettings();
    program.app.SaveSettings();
    EXPECT_EQ(ZELTest::ReadFile(program.ini), "[TarnUpdate]\nLanguage=1\nCOMPort=COM1\n");
}

TEST(CUpdaterApp, SaveSettingsRewritesTheTwoKeysAndLeavesTheOthers)
{
    Program program;
    ZELTest::WriteFile(program.ini, "[TarnUpdate]\nLanguage=1\nBaudRate=4\nCOMPort=COM1\nMCPUMode=1\n");
    program.app.LoadSettings();
    GetZELLanguage().SetLanguage(ZEL_LANGUAGE_GERMAN);
    program.link.SetSerialPortSettings("ttyUSB1", 9);
    program.app.SaveSettings();
    EXPECT_EQ(ZELTest::ReadFile(program.ini), "[TarnUpdate]\nLanguage=0\nBaudRate=4\nCOMPort=ttyUSB1\nMCPUMode=1\n");
}

// The catalogue is scanned after the system log runs, so that its findings reach the log file; the
// shutdown stops what the start-up started, and a second shutdown does nothing.
TEST(CUpdaterApp, StartModulesThenScanThenShutdown)
{
    ZELTest::TemporaryDirectory folder;
    ZELTest::ScopedCurrentDirectory inFolder(folder.Path());
    std::filesystem::create_directory(folder.Path() / "Firmware");
    ZELTest::WriteFile(folder.File("Firmware/broken.tarn"), "too short for a header");

    RecordingView view;
    SimLink link;
    CZELCommandSet commands;
    CUpdaterDlg dialog{view, link, commands, folder.File("Firmware")};
    CUpdaterApp app{dialog, folder.File("ZEL.ini")};
    app.LoadSettings();
    EXPECT_EQ(app.StartModules(), ZEL_STATUS_SUCCESS);
    EXPECT_TRUE(app.AreModulesStarted());
    EXPECT_EQ(app.ScanFirmwareFolder(), ZEL_STATUS_SUCCESS);
    const std::string logPath = GetZELSystemLogEx().GetFilePath();
    ASSERT_FALSE(logPath.empty());

    ASSERT_TRUE(link.InitializeReceivingThread() == ZEL_STATUS_SUCCESS);
    EXPECT_EQ(app.ShutdownModules(), ZEL_STATUS_SUCCESS);
    EXPECT_FALSE(app.AreModulesStarted());
    EXPECT_FALSE(link.IsReceivingThreadRunning());
    // The log drains its records before it ends.
    EXPECT_NE(ZELTest::ReadFile(logPath).find("broken.tarn"), std::string::npos);
    EXPECT_EQ(app.ShutdownModules(), ZEL_STATUS_SUCCESS);
}

} // namespace
