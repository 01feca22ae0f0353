#pragma once

#include "app/core/CUpdaterDlg.h"
#include "zel/log/IZELLogLineSink.h"

#include <functional>
#include <string>
#include <vector>

// The life of the update program outside an update, shared by tarn-update and tarn: the settings of
// section "TarnUpdate", the library's modules brought up and down in their fixed orders, and the
// firmware catalogue scanned once the system log runs. A front end calls, in this order:
// LoadSettings, (show the settings), StartModules, ScanFirmwareFolder; at its end ShutdownModules,
// the dialog SaveSettings before it (the command line never writes the settings).
class CUpdaterApp
{
public:
    static constexpr const char* kApplicationName = "Tarn Update";
    static constexpr const char* kApplicationVersion = "V 04.04 (2021-04-16)";
    static constexpr const char* kSettingsSection = "TarnUpdate";

    // An empty `iniFile` is the library's ZEL.ini.
    explicit CUpdaterApp(CUpdaterDlg& dialog, std::string iniFile = "");
    CUpdaterApp(const CUpdaterApp&) = delete;
    CUpdaterApp& operator=(const CUpdaterApp&) = delete;
    // Shuts the modules down if the front end has not.
    ~CUpdaterApp();

    // Defaults first, then every key that can be read. Numbers are decimal or 0x hex; switches also
    // take yes/no, on/off and true/false, the language de/en: a value that cannot be read leaves
    // the one in force and adds a warning (GetSettingsWarnings), which the reporter is given at once
    // and the log when StartModules starts it.
    long LoadSettings();
    // The warnings of the last LoadSettings, each naming the key, its value and the value used.
    const std::vector<std::string>& GetSettingsWarnings() const { return m_settingsWarnings; }
    // Where a front end shows those warnings (tarn: standard error), for every CUpdaterApp of the
    // process; none by default.
    static void SetSettingsWarningReporter(std::function<void(const std::string& warning)> reporter);
    // Writes "Language" and "COMPort" only.
    long SaveSettings();
    long StartModules();
    // Nothing unless StartModules ran.
    long ShutdownModules();
    long ScanFirmwareFolder() { return m_dialog.ScanFirmwareFolder(); }

    // Where the system log also appends its lines (a log pane); none by default. Before StartModules.
    void SetLogControl(IZELLogLineSink* control) { m_logControl = control; }

    bool AreModulesStarted() const { return m_modulesStarted; }
    // "Tarn Update V 04.04 (2021-04-16)", the about box's text.
    static std::string GetAboutText();

private:
    CUpdaterDlg& m_dialog;
    std::string m_iniFile;
    IZELLogLineSink* m_logControl = nullptr;
    bool m_modulesStarted = false;
    std::vector<std::string> m_settingsWarnings;
};
