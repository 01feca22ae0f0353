#include "app/core/CUpdaterApp.h"

#include "zel/crash/CZELMemoryDump.h"
#include "zel/foundation/CZELIniManager.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELMain.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/plugins/CZELPluginManager.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/threads/CZELThreadMonitor.h"

#include <cstdlib>

namespace {

constexpr long kDefaultLanguage = ZEL_LANGUAGE_ENGLISH;
constexpr std::uint32_t kAllEvents = 0xFFFFFFFFu;
const char* const kDefaultPort = "COM1";
constexpr long kDefaultBaudRateIndex = 7;

// A number of the settings file as atoi reads it: leading blanks and a sign, digits up to the first
// other character, 0 for no digits. Read wide so that a filter above 2^31 keeps its bits.
long long SettingNumber(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

} // namespace

CUpdaterApp::CUpdaterApp(CUpdaterDlg& dialog, std::string iniFile)
    : m_dialog(dialog)
    , m_iniFile(std::move(iniFile))
{
}

CUpdaterApp::~CUpdaterApp()
{
    ShutdownModules();
}

std::string CUpdaterApp::GetAboutText()
{
    return std::string(kApplicationName) + " " + kApplicationVersion;
}

long CUpdaterApp::LoadSettings()
{
    CZELLanguage& language = GetZELLanguage();
    CZELSystemLogEx& log = GetZELSystemLogEx();
    IUpdateLink& link = m_dialog.GetLink();
    language.SetLanguage(kDefaultLanguage);
    log.SetFileFilter(kAllEvents);
    log.SetOutputFilter(kAllEvents);
    link.SetSerialPortSettings(kDefaultPort, kDefaultBaudRateIndex);
    link.SetProtocol(m_dialog.GetProtocol());

    CZELIniManager& ini = GetZELIniManager();
    auto read = [this, &ini](const char* key, long long& number, std::string& text) {
        if (ini.GetEntry(kSettingsSection, key, &text, m_iniFile) != ZEL_STATUS_SUCCESS)
            return false;
        number = SettingNumber(text);
        return true;
    };
    std::string text;
    long long number = 0;
    if (read("Language", number, text))
        language.SetLanguage(static_cast<long>(number));
    if (read("FileFilter", number, text))
        log.SetFileFilter(static_cast<std::uint32_t>(number));
    if (read("OutputFilter", number, text))
        log.SetOutputFilter(static_cast<std::uint32_t>(number));
    if (read("COMPort", number, text))
        link.SetSerialPortSettings(text, link.GetBaudRateAsID());
    if (read("BaudRate", number, text))
        link.SetSerialPortSettings(link.GetCOMPort(), static_cast<long>(number));
    if (read("COMProtocol", number, text))
        link.SetProtocol(static_cast<std::uint16_t>(number));
    UpdaterSettings settings = m_dialog.GetSettings();
    if (read("AllowDowngrade", number, text))
        settings.allowDowngrade = number != 0;
    if (read("AllowDowngradeMCPU", number, text))
        settings.allowDowngradeMCPU = number != 0;
    if (read("OKSWorkaround", number, text))
        settings.oksWorkaround = number != 0;
    if (read("MCPUMode", number, text))
        settings.mcpuMode = number != 0;
    if (read("VerifyAfterWrite", number, text))
        settings.verifyAfterWrite = number != 0;
    // The port refuses an unknown protocol; the program and the command set follow what it took.
    settings.protocol = link.GetProtocol();
    m_dialog.SetSettings(settings);
    return ZEL_STATUS_SUCCESS;
}

long CUpdaterApp::SaveSettings()
{
    CZELIniManager& ini = GetZELIniManager();
    ini.SetEntry(kSettingsSection, "Language", std::to_string(GetZELLanguage().GetLanguage()), m_iniFile);
    ini.SetEntry(kSettingsSection, "COMPort", m_dialog.GetLink().GetCOMPort(), m_iniFile);
    return ZEL_STATUS_SUCCESS;
}

long CUpdaterApp::StartModules()
{
    GetZELMain().SetApplicationInformation(kApplicationName, kApplicationVersion);
    GetZELSystemLogEx().SetEnableOutput(true);
    GetZELSystemLogEx().Initialize(m_logControl, kApplicationName, kApplicationVersion);
    GetZELMemoryDump().Initialize(kApplicationName);
    GetZELThreadMonitor().Initialize();
    GetZELMessageQueue().Initialize(false);
    GetZELPluginManager().Initialize();
    m_dialog.StartMessageQueue();
    m_modulesStarted = true;
    return ZEL_STATUS_SUCCESS;
}

long CUpdaterApp::ShutdownModules()
{
    if (!m_modulesStarted)
        return ZEL_STATUS_SUCCESS;
    GetZELSystemLogEx().SetEnableOutput(false);
    GetZELPluginManager().UnloadAllPlugins();
    m_dialog.StopMessageQueue();
    GetZELPluginManager().Terminate();
    m_dialog.GetLink().TerminateReceivingThread();
    GetZELMessageQueue().Terminate();
    GetZELThreadMonitor().Terminate();
    GetZELMemoryDump().Terminate();
    GetZELSystemLogEx().Terminate();
    m_modulesStarted = false;
    return ZEL_STATUS_SUCCESS;
}
