#pragma once

#include "app/core/CUpdaterDlg.h"
#include "zel/log/IZELLogLineSink.h"

#include <string>

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

    // Defaults first, then every key that can be read; a text that is no number counts as 0.
    long LoadSettings();
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
};
