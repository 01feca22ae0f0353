#include "app/core/CUpdatePlanner.h"

#include "app/core/UpdateTexts.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELStatus.h"

#include <algorithm>

namespace {

constexpr int SLOT_CCPU_TYPE1 = 1;
constexpr int SLOT_CCPU_TYPE2 = 2;
constexpr int SLOT_KCPU = 3;
constexpr int SLOT_LCPU = 4;
constexpr int SLOT_MCPU = 5;
constexpr int SLOT_ECPU = 6;
constexpr int SLOT_RCPU = 7;
constexpr int SLOT_VELTRIX = 8;
constexpr int SLOT_CCPU_TYPE9 = 9;
constexpr int SLOT_CAN_DRIVER = 10;

constexpr unsigned short EXPANDER_REMOTE_CONTROL = 16;

bool IsQtr(unsigned short type)
{
    return type == 0x1000 || type == 0x1001;
}
bool IsVhx(unsigned short type)
{
    return type == 0x2000 || type == 0x2001;
}

template <std::size_t N> long VersionInteger(const char (&text)[N])
{
    return GetZELFileHeader().GetVersionAsInteger(ZELHeaderText(text).c_str());
}

} // namespace

std::string UpdatePlan::QuestionText() const
{
    return text + "\r\n\r\n" + GetUpdateText(APP_TEXT_INSTALL_NOW);
}

CUpdatePlanner::CUpdatePlanner(CFirmwareCatalogue& catalogue, UpdatePlanSettings settings, AppLogSink log)
    : m_catalogue(catalogue)
    , m_settings(settings)
    , m_log(std::move(log))
{
}

long CUpdatePlanner::CheckUpdateNeeded(const char* deviceVersion, int slot)
{
    if (!CFirmwareCatalogue::IsSlot(slot))
        return ZEL_STATUS_INVALID_PARAMETER;
    FirmwareSlot& stored = m_catalogue.Slot(slot);
    CZELFileHeader& files = GetZELFileHeader();
    const long f = files.GetVersionAsInteger(ZELHeaderText(stored.header.version).c_str());
    const long d = files.GetVersionAsInteger(deviceVersion);
    if (d < f) {
        stored.selected = 1;
        return ZEL_STATUS_SUCCESS;
    }
    // The device is as new or newer: only a permitted downgrade (or re-install) remains.
    const bool downgradeAllowed
        = stored.header.fileType == SLOT_MCPU ? m_settings.allowDowngradeMCPU : m_settings.allowDowngrade;
    if (downgradeAllowed && f != 0) {
        stored.selected = 1;
        return ZEL_STATUS_SUCCESS;
    }
    stored.selected = 0;
    return ZEL_STATUS_NOT_FOUND;
}

UpdatePlan CUpdatePlanner::Plan(DeviceInformation& device)
{
    UpdatePlan plan;
    plan.text = GetUpdateText(APP_TEXT_UPDATES_POSSIBLE);
    if (m_settings.mcpuMode && IsVhx(device.hardwareType)) {
        // In MCPU mode only the CAN driver is considered.
        if (!Check(plan, UPDATE_TARGET_MCPU_CAN_DRIVER, ZELHeaderText(device.canDriverVersion), SLOT_CAN_DRIVER,
                "MCPU CAN Driver"))
            plan.text = std::string(GetUpdateText(APP_TEXT_NEWEST_INSTALLED)) + "\r\n\r\n\t- MCPU CAN Driver "
                + ZELHeaderText(device.canDriverVersion);
        return plan;
    }
    PlanProcessors(device, plan);
    if (!plan.updateNeeded)
        plan.text = NothingToUpdate(device);
    return plan;
}

void CUpdatePlanner::PlanProcessors(DeviceInformation& device, UpdatePlan& plan)
{
    const unsigned short type = device.hardwareType;
    if (IsQtr(type))
        Check(plan, UPDATE_TARGET_CCPU_TYPE1, ZELHeaderText(device.ccpuVersion), SLOT_CCPU_TYPE1, "CCPU");
    if (IsVhx(type))
        Check(plan, UPDATE_TARGET_CCPU_TYPE2, ZELHeaderText(device.ccpuVersion), SLOT_CCPU_TYPE2, "CCPU");
    if (IsQtr(type) || IsVhx(type)) {
        Check(plan, UPDATE_TARGET_KCPU, ZELHeaderText(device.kcpuVersion), SLOT_KCPU, "KCPU");
        Check(plan, UPDATE_TARGET_LCPU, ZELHeaderText(device.lcpuVersion), SLOT_LCPU, "LCPU");
    }
    const bool oksOverride = type == 0 && m_settings.oksWorkaround;
    // An Ombra box that answered is planned like the radio modem it stands in for: its own hardware
    // type (an ECPU type) would otherwise leave it out of every plan.
    if ((type & 0xF000) == 0x3000 || oksOverride || device.ombraPresent != 0) {
        if (oksOverride)
            AddOutput("OKS hardware type override", ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
        // An Ombra box is compared with its own version: its protocol never reports an RCPU one.
        if (device.ombraPresent != 0)
            Check(plan, UPDATE_TARGET_RCPU, ZELHeaderText(device.ombraVersion), SLOT_RCPU, "Ombra Box");
        else
            Check(plan, UPDATE_TARGET_RCPU, ZELHeaderText(device.rcpuVersion), SLOT_RCPU, "RCPU");
    }
    if (type == 0x0091)
        Check(plan, UPDATE_TARGET_VELTRIX, ZELHeaderText(device.veltrixVersion), SLOT_VELTRIX, "Veltrix");
    if (IsVhx(type))
        Check(plan, UPDATE_TARGET_MCPU, ZELHeaderText(device.mcpuVersion), SLOT_MCPU, "MCPU");
    if (IsQtr(type) || IsVhx(type))
        PlanExpanders(device, plan);
    if (type == 0x1080)
        Check(plan, UPDATE_TARGET_CCPU_TYPE9, ZELHeaderText(device.ccpuVersion), SLOT_CCPU_TYPE9, "CCPU");
}

void CUpdatePlanner::PlanExpanders(DeviceInformation& device, UpdatePlan& plan)
{
    const long threshold = GetZELFileHeader().GetVersionAsInteger("V 02.02.00");
    auto entries = [&device](auto&& visit) {
        for (int i = 0; i < DEVICE_EXPANDER_TABLE_SIZE && device.expanders[i].type != 0; ++i)
            if (!visit(i, device.expanders[i]))
                return;
    };

    // One ordinary expander too old for the update keeps every ordinary expander from it; the
    // remote control's own ECPU (type 16) is not bound by that.
    bool allowed = false;
    entries([&](int, ExpanderEntry& entry) {
        if (entry.type == EXPANDER_REMOTE_CONTROL
            || CheckUpdateNeeded(ZELHeaderText(entry.version).c_str(), SLOT_ECPU) != ZEL_STATUS_SUCCESS)
            return true;
        if (VersionInteger(entry.version) < threshold) {
            allowed = false;
            return false;
        }
        allowed = true;
        return true;
    });

    entries([&](int index, ExpanderEntry& entry) {
        const std::string version = ZELHeaderText(entry.version);
        entry.selected = CheckUpdateNeeded(version.c_str(), SLOT_ECPU) == ZEL_STATUS_SUCCESS
                && (entry.type == EXPANDER_REMOTE_CONTROL || allowed)
            ? 1
            : 0;
        if (entry.selected != 0) {
            plan.selection[UPDATE_TARGET_ECPU] = 1;
            plan.expanderLines[static_cast<std::size_t>(index)] = "\r\n  - ECPU (" + GetZELECPUTypeAsString(entry.type)
                + ", " + version + " -> " + FileVersion(SLOT_ECPU) + ")";
            plan.text += plan.expanderLines[static_cast<std::size_t>(index)];
            plan.updateNeeded = true;
        }
        return true;
    });
}

bool CUpdatePlanner::Check(UpdatePlan& plan, UpdateTarget target, const std::string& deviceVersion, int slot,
    const std::string& name)
{
    if (CheckUpdateNeeded(deviceVersion.c_str(), slot) != ZEL_STATUS_SUCCESS)
        return false;
    plan.selection[target] = 1;
    plan.lines[target] = "\r\n  - " + name + " (" + deviceVersion + " -> " + FileVersion(slot) + ")";
    plan.text += plan.lines[target];
    plan.updateNeeded = true;
    return true;
}

std::string CUpdatePlanner::NothingToUpdate(const DeviceInformation& device) const
{
    const std::string heading = GetUpdateText(APP_TEXT_NEWEST_INSTALLED);
    const unsigned short type = device.hardwareType;
    if (device.ombraPresent != 0)
        return heading + "\r\n\r\n\t- Ombra Box " + ZELHeaderText(device.ombraVersion);
    if (type == 0x0091)
        return heading + "\r\n\r\n\t- Veltrix Box " + ZELHeaderText(device.veltrixVersion);
    if (IsQtr(type))
        return heading + "\r\n\r\n\t- CCPU " + ZELHeaderText(device.ccpuVersion) + "\r\n\t- KCPU "
            + ZELHeaderText(device.kcpuVersion) + "\r\n\t- LCPU " + ZELHeaderText(device.lcpuVersion);
    if (type == 0x1080)
        return heading + "\r\n\r\n\t- CCPU " + ZELHeaderText(device.ccpuVersion);
    if (IsVhx(type))
        return heading + "\r\n\r\n\t- CCPU " + ZELHeaderText(device.ccpuVersion) + "\r\n\t- KCPU "
            + ZELHeaderText(device.kcpuVersion) + "\r\n\t- LCPU " + ZELHeaderText(device.lcpuVersion) + "\r\n\t- MCPU "
            + ZELHeaderText(device.mcpuVersion);
    if (type >= 0x3001 && type <= 0x3003)
        return heading + "\r\n\r\n\t- RCPU " + ZELHeaderText(device.rcpuVersion);
    return GetUpdateText(APP_TEXT_DEVICE_UNKNOWN);
}

std::string CUpdatePlanner::FileVersion(int slot) const
{
    return ZELHeaderText(m_catalogue.Slot(slot).header.version);
}

void CUpdatePlanner::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    if (m_log)
        m_log(message, type);
}

std::vector<int> CUpdatePlanner::SlotsOfDevice(const DeviceInformation& device) const
{
    const unsigned short type = device.hardwareType;
    if (m_settings.mcpuMode && IsVhx(type))
        return { SLOT_CAN_DRIVER };
    std::vector<int> slots;
    if (IsQtr(type))
        slots = { SLOT_CCPU_TYPE1, SLOT_KCPU, SLOT_LCPU, SLOT_ECPU };
    if (IsVhx(type))
        slots = { SLOT_CCPU_TYPE2, SLOT_KCPU, SLOT_LCPU, SLOT_MCPU, SLOT_ECPU };
    if ((type & 0xF000) == 0x3000 || (type == 0 && m_settings.oksWorkaround) || device.ombraPresent != 0)
        slots.push_back(SLOT_RCPU);
    if (type == 0x0091)
        slots.push_back(SLOT_VELTRIX);
    if (type == 0x1080)
        slots.push_back(SLOT_CCPU_TYPE9);
    return slots;
}

std::string CUpdatePlanner::MissingFirmware(const DeviceInformation& device) const
{
    const std::string folder = m_catalogue.Folder();
    char text[1024];
    switch (m_catalogue.GetFolderState()) {
    case CFirmwareCatalogue::FolderState::Missing:
        std::snprintf(text, sizeof text, GetUpdateText(APP_TEXT_NO_FIRMWARE_FOLDER), folder.c_str());
        return text;
    case CFirmwareCatalogue::FolderState::Unreadable:
        std::snprintf(text, sizeof text, GetUpdateText(APP_TEXT_FIRMWARE_FOLDER_UNREADABLE), folder.c_str(),
            m_catalogue.FolderError().c_str());
        return text;
    case CFirmwareCatalogue::FolderState::NoFiles:
        std::snprintf(text, sizeof text, GetUpdateText(APP_TEXT_FIRMWARE_FOLDER_EMPTY), folder.c_str());
        return text;
    default:
        break;
    }
    const std::vector<int> slots = SlotsOfDevice(device);
    // An unknown device has its own message.
    if (slots.empty())
        return {};
    std::string processors;
    for (const int slot : slots) {
        if (!m_catalogue.Slot(slot).path.empty())
            return {};
        processors += (processors.empty() ? "" : ", ") + GetZELFileHeader().GetFileTypeAsString(slot);
    }
    std::snprintf(text, sizeof text, GetUpdateText(APP_TEXT_NO_FIRMWARE_FOR_DEVICE), folder.c_str(),
        DeviceHardwareName(device.hardwareType).c_str(), processors.c_str());
    std::string message = text;
    if (const std::string passedOver = PassedOverText(device); !passedOver.empty())
        message += "\r\n\r\n" + passedOver;
    return message;
}

std::string CUpdatePlanner::PassedOverText(const DeviceInformation& device) const
{
    const std::vector<int> slots = SlotsOfDevice(device);
    // For a device without rules every file would be "not for it": its own message says enough.
    if (slots.empty())
        return {};
    std::string lines;
    for (int slot = 1; slot <= CFirmwareCatalogue::SLOT_COUNT; ++slot) {
        const FirmwareSlot& file = m_catalogue.Slot(slot);
        if (file.path.empty() || std::find(slots.begin(), slots.end(), slot) != slots.end())
            continue;
        lines += "\r\n- " + file.path + ": " + GetZELFileHeader().GetFileTypeAsString(slot) + " "
            + ZELHeaderText(file.header.version) + " is not for this " + DeviceHardwareName(device.hardwareType);
    }
    for (const CFirmwareCatalogue::RejectedFile& file : m_catalogue.PassedOverFiles())
        lines += "\r\n- " + file.path + ": " + file.cause;
    return lines.empty() ? std::string() : GetUpdateText(APP_TEXT_FILES_PASSED_OVER) + lines;
}
