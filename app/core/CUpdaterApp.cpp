#include "app/core/CUpdaterApp.h"

#include "app/core/UpdateTexts.h"

#include "zel/crash/CZELMemoryDump.h"
#include "zel/foundation/CZELIniManager.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELMain.h"
#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/ZELProcess.h"
#include "zel/plugins/CZELPluginManager.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/threads/CZELThreadMonitor.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

constexpr long kDefaultLanguage = ZEL_LANGUAGE_ENGLISH;
constexpr std::uint32_t kAllEvents = 0xFFFFFFFFu;
const char* const kDefaultPort = "COM1";
constexpr long kDefaultBaudRateIndex = 7;

// The host's console for the settings' warnings; none unless a front end registers one.
std::function<void(const std::string&)>& WarningReporter()
{
    static std::function<void(const std::string&)> reporter;
    return reporter;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<long long> SettingNumber(const std::string& text)
{
    long long number = 0;
    return ParseZELNumber(text, number) ? std::optional<long long>(number) : std::nullopt;
}

// A switch: a number (0 off, any other on, as it always was) or a word whose meaning is clear.
std::optional<bool> SettingFlag(const std::string& text)
{
    if (const std::optional<long long> number = SettingNumber(text))
        return *number != 0;
    const std::string word = Lower(Trimmed(text));
    for (const char* on : { "yes", "true", "on", "ja" })
        if (word == on)
            return true;
    for (const char* off : { "no", "false", "off", "nein" })
        if (word == off)
            return false;
    return std::nullopt;
}

// A language by its number (as SetLanguage takes it) or by its name or code.
std::optional<long> SettingLanguage(const std::string& text)
{
    if (const std::optional<long long> number = SettingNumber(text))
        return *number >= ZEL_LANGUAGE_GERMAN && *number <= ZEL_LANGUAGE_THIRD ? std::optional<long>(*number)
                                                                               : std::nullopt;
    const std::string word = Lower(Trimmed(text));
    for (const char* german : { "de", "german", "deutsch" })
        if (word == german)
            return ZEL_LANGUAGE_GERMAN;
    for (const char* english : { "en", "english", "englisch" })
        if (word == english)
            return ZEL_LANGUAGE_ENGLISH;
    return std::nullopt;
}

std::string UnreadableSetting(const char* key, const std::string& value, const char* expected, const std::string& used)
{
    return std::string("ZEL.ini, section [TarnUpdate]: ") + key + "=" + value + " cannot be read (" + expected
        + "); " + used + " is used instead.";
}

std::string Number(long long number) { return std::to_string(number); }

std::optional<long long> Within(std::optional<long long> number, long long low, long long high)
{
    return number && *number >= low && *number <= high ? number : std::nullopt;
}

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
    m_settingsWarnings.clear();

    CZELIniManager& ini = GetZELIniManager();
    std::string text;
    auto read = [this, &ini, &text](const char* key) {
        return ini.GetEntry(kSettingsSection, key, &text, m_iniFile) == ZEL_STATUS_SUCCESS;
    };
    // A value that cannot be read keeps the one in force and says so: never a silent 0 or off.
    auto warn = [this, &text](const char* key, const char* expected, const std::string& used) {
        m_settingsWarnings.push_back(UnreadableSetting(key, text, expected, used));
    };
    constexpr const char* kNumber = "a decimal number or 0x and hex digits";
    constexpr const char* kSwitch = "0 or 1, yes or no, on or off, true or false";

    if (read("Language")) {
        if (const std::optional<long> value = SettingLanguage(text))
            language.SetLanguage(*value);
        else
            warn("Language", "0 or de for German, 1 or en for English", "1 (English)");
    }
    // A filter is a mask of 32 bits; a negative number stands for its bits, as atoi gave it.
    if (read("FileFilter")) {
        if (const auto value = Within(SettingNumber(text), INT32_MIN, UINT32_MAX))
            log.SetFileFilter(static_cast<std::uint32_t>(*value));
        else
            warn("FileFilter", kNumber, Number(log.GetFileFilter()));
    }
    if (read("OutputFilter")) {
        if (const auto value = Within(SettingNumber(text), INT32_MIN, UINT32_MAX))
            log.SetOutputFilter(static_cast<std::uint32_t>(*value));
        else
            warn("OutputFilter", kNumber, Number(log.GetOutputFilter()));
    }
    if (read("COMPort"))
        link.SetSerialPortSettings(text, link.GetBaudRateAsID());
    if (read("BaudRate")) {
        const long before = link.GetBaudRateAsID();
        const auto value = Within(SettingNumber(text), 0, LONG_MAX);
        if (!value || link.SetSerialPortSettings(link.GetCOMPort(), static_cast<long>(*value)) != ZEL_STATUS_SUCCESS)
            warn("BaudRate", "the index of a baud rate, 0 to 10", Number(before));
    }
    if (read("COMProtocol")) {
        const std::uint16_t before = link.GetProtocol();
        const auto value = Within(SettingNumber(text), 0, UINT16_MAX);
        if (!value || link.SetProtocol(static_cast<std::uint16_t>(*value)) != ZEL_STATUS_SUCCESS)
            warn("COMProtocol", "the number of a protocol of the port", Number(before));
    }
    UpdaterSettings settings = m_dialog.GetSettings();
    auto flag = [&](const char* key, bool& setting) {
        if (!read(key))
            return;
        if (const std::optional<bool> value = SettingFlag(text))
            setting = *value;
        else
            warn(key, kSwitch, setting ? "1 (on)" : "0 (off)");
    };
    flag("AllowDowngrade", settings.allowDowngrade);
    flag("AllowDowngradeMCPU", settings.allowDowngradeMCPU);
    flag("OKSWorkaround", settings.oksWorkaround);
    flag("MCPUMode", settings.mcpuMode);
    flag("VerifyAfterWrite", settings.verifyAfterWrite);
    // The port refuses an unknown protocol; the program and the command set follow what it took.
    settings.protocol = link.GetProtocol();
    m_dialog.SetSettings(settings);
    if (const auto& reporter = WarningReporter())
        for (const std::string& warning : m_settingsWarnings)
            reporter(warning);
    return ZEL_STATUS_SUCCESS;
}

void CUpdaterApp::SetSettingsWarningReporter(std::function<void(const std::string& warning)> reporter)
{
    WarningReporter() = std::move(reporter);
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
    // Read before the log ran; an operator who looks into the log finds them there too.
    for (const std::string& warning : m_settingsWarnings)
        m_dialog.Log(warning, ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
    // A run without its log file is said at once, not found out afterwards.
    if (GetZELSystemLogEx().GetFilePath().empty()) {
        char warning[512];
        std::snprintf(warning, sizeof warning, GetUpdateText(APP_TEXT_LOG_NOT_WRITTEN),
            ZELPlatform::JoinPath(".", "Logs").c_str());
        m_dialog.Log(warning, ZEL_SYSTEM_LOG_EX_EVENT_WARNING);
        if (const auto& reporter = WarningReporter())
            reporter(warning);
    }
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
