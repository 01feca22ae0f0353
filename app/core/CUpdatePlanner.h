#pragma once

#include "app/core/AppLog.h"
#include "app/core/CFirmwareCatalogue.h"
#include "app/core/DeviceInformation.h"

#include <array>
#include <vector>
#include <string>

// The settings the planning reads.
struct UpdatePlanSettings
{
    bool allowDowngrade = false;
    bool allowDowngradeMCPU = false;
    bool oksWorkaround = false;
    bool mcpuMode = false;
};

// The targets of an update, in the order of their selection bytes.
enum UpdateTarget : int
{
    UPDATE_TARGET_CCPU_TYPE1,
    UPDATE_TARGET_CCPU_TYPE2,
    UPDATE_TARGET_KCPU,
    UPDATE_TARGET_LCPU,
    UPDATE_TARGET_RCPU, // the RCPU, or the Ombra box when it answered
    UPDATE_TARGET_MCPU,
    UPDATE_TARGET_MCPU_CAN_DRIVER,
    UPDATE_TARGET_ECPU, // any expander selected
    UPDATE_TARGET_VELTRIX,
    UPDATE_TARGET_CCPU_TYPE9,
    UPDATE_TARGET_COUNT
};

struct UpdatePlan
{
    std::array<unsigned char, UPDATE_TARGET_COUNT> selection {};
    // The plan line of each selected target ("\r\n  - KCPU (V 01.00.00 -> V 01.00.01)"); the
    // expanders' lines are per table entry.
    std::array<std::string, UPDATE_TARGET_COUNT> lines {};
    std::array<std::string, DEVICE_EXPANDER_TABLE_SIZE> expanderLines {};

    bool updateNeeded = false;
    // With an update: the list of planned updates; without: the message that nothing is to be
    // done (or that the device is unknown).
    std::string text;

    // The operator's question: the list, two line breaks and the question itself.
    std::string QuestionText() const;
};

// Compares the device's versions with the catalogue and decides what to update.
class CUpdatePlanner
{
public:
    CUpdatePlanner(CFirmwareCatalogue& catalogue, UpdatePlanSettings settings, AppLogSink log = AppLogToSystemLog);

    // 0 when the slot's file is to be installed over `deviceVersion` (sets the slot's selected
    // mark), else ZEL_STATUS_NOT_FOUND (clears it).
    long CheckUpdateNeeded(const char* deviceVersion, int slot);

    // Plans the update of the device; writes the selected byte of each expander entry.
    UpdatePlan Plan(DeviceInformation& device);
    // Why there is nothing to plan with for this device (no folder, an unreadable or empty one, no
    // file for any of its processors), naming the folder; empty when a file for it is there.
    std::string MissingFirmware(const DeviceInformation& device) const;
    // The files the catalogue passed over for this device, one line each with the reason; empty
    // when none.
    std::string PassedOverText(const DeviceInformation& device) const;
    // The catalogue slots whose files this device's processors take.
    std::vector<int> SlotsOfDevice(const DeviceInformation& device) const;

private:
    void PlanProcessors(DeviceInformation& device, UpdatePlan& plan);
    void PlanExpanders(DeviceInformation& device, UpdatePlan& plan);
    // One processor's check; on an update its line is added to the plan.
    bool Check(
        UpdatePlan& plan, UpdateTarget target, const std::string& deviceVersion, int slot, const std::string& name);
    std::string NothingToUpdate(const DeviceInformation& device) const;
    std::string FileVersion(int slot) const;
    void AddOutput(const std::string& message, _ZELSystemLogExEventType type);

    CFirmwareCatalogue& m_catalogue;
    UpdatePlanSettings m_settings;
    AppLogSink m_log;
};
