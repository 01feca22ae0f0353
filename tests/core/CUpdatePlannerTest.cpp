#include "app/core/CUpdatePlanner.h"

#include "zel/foundation/ZELConversions.h"
#include "zel/foundation/ZELStatus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <vector>

namespace {

const std::string kPlanHeading = "The following updates can be performed:\r\n";
const std::string kInstalled = "The newest firmware for the current device is installed already:";
const std::string kUnknown = "The update could not be started because the current device is unknown.";

void SetText(char (&field)[32], const char* text)
{
    std::strncpy(field, text, sizeof field - 1);
}

// A catalogue holding one file per listed slot, with the given version.
void Fill(CFirmwareCatalogue& catalogue, const std::vector<std::pair<int, const char*>>& files)
{
    for (const auto& [slot, version] : files) {
        _FILE_HEADER header {};
        header.magic = ZEL_FILE_HEADER_MAGIC;
        header.fileType = static_cast<std::uint32_t>(slot);
        std::strncpy(header.version, version, sizeof header.version - 1);
        ASSERT_EQ(catalogue.KeepNewestFile(header, "./Firmware/" + std::to_string(slot) + ".tarn", slot), 0);
    }
}

struct Logged
{
    std::vector<std::string> lines;
    AppLogSink Sink()
    {
        return [this](const std::string& message, _ZELSystemLogExEventType type) {
            EXPECT_EQ(type, ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION);
            lines.push_back(message);
        };
    }
};

} // namespace

TEST(CUpdatePlanner, CheckUpdateNeededFollowsTheDowngradeSettings)
{
    struct Case
    {
        const char* name;
        int slot;
        const char* fileVersion; // nullptr: empty slot
        const char* deviceVersion;
        bool allowDowngrade;
        bool allowDowngradeMCPU;
        long result;
    };
    const Case cases[] = {
        { "older device", 3, "V 01.00.01", "V 01.00.00", false, false, ZEL_STATUS_SUCCESS },
        { "equal, downgrade off", 3, "V 01.00.00", "V 01.00.00", false, false, ZEL_STATUS_NOT_FOUND },
        { "equal, downgrade on: re-install", 3, "V 01.00.00", "V 01.00.00", true, false, ZEL_STATUS_SUCCESS },
        { "newer device, downgrade on", 4, "V 01.00.00", "V 03.00.00", true, false, ZEL_STATUS_SUCCESS },
        { "newer MCPU, only downgrade on", 5, "V 01.00.00", "V 03.00.00", true, false, ZEL_STATUS_NOT_FOUND },
        { "newer MCPU, MCPU downgrade on", 5, "V 01.00.00", "V 03.00.00", false, true, ZEL_STATUS_SUCCESS },
        { "MCPU downgrade does not apply to others", 3, "V 01.00.00", "V 03.00.00", false, true, ZEL_STATUS_NOT_FOUND },
        { "empty slot, everything allowed", 3, nullptr, "", true, true, ZEL_STATUS_NOT_FOUND },
        { "device without version", 7, "V 00.00.01", "", false, false, ZEL_STATUS_SUCCESS },
        { "device version too short", 7, "V 00.00.01", "V 9.9", false, false, ZEL_STATUS_SUCCESS },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFirmwareCatalogue catalogue("./Firmware", {});
        if (c.fileVersion != nullptr)
            Fill(catalogue, { { c.slot, c.fileVersion } });
        catalogue.Slot(c.slot).selected = c.result == 0 ? 0 : 1; // the check must overwrite it
        CUpdatePlanner planner(catalogue, { c.allowDowngrade, c.allowDowngradeMCPU, false, false }, {});
        EXPECT_EQ(planner.CheckUpdateNeeded(c.deviceVersion, c.slot), c.result);
        EXPECT_EQ(catalogue.Slot(c.slot).selected, c.result == 0 ? 1 : 0);
    }
}

TEST(CUpdatePlanner, PlansEachHardwareType)
{
    using Files = std::vector<std::pair<int, const char*>>;
    struct Case
    {
        const char* name;
        UpdatePlanSettings settings;
        Files files;
        std::function<void(DeviceInformation&)> device;
        std::set<UpdateTarget> selected;
        std::string text;
        std::vector<std::string> log;
    };
    const Files allNewer = { { 1, "V 01.00.01" }, { 2, "V 01.00.01" }, { 3, "V 01.00.01" }, { 4, "V 01.00.01" },
        { 5, "V 01.00.01" }, { 7, "V 01.00.01" }, { 8, "V 01.00.01" }, { 9, "V 01.00.01" }, { 10, "V 01.00.01" } };
    auto allVersions = [](DeviceInformation& d) {
        for (char(*field)[32] : { &d.ccpuVersion, &d.kcpuVersion, &d.lcpuVersion, &d.mcpuVersion, &d.rcpuVersion,
                 &d.veltrixVersion, &d.ombraVersion, &d.canDriverVersion })
            SetText(*field, "V 01.00.00");
    };
    auto type = [allVersions](unsigned short hardwareType) {
        return [allVersions, hardwareType](DeviceInformation& d) {
            allVersions(d);
            d.hardwareType = hardwareType;
        };
    };
    auto ombra = [](const char* version) {
        return [version](DeviceInformation& d) {
            d.hardwareType = 0x0080;
            d.ombraPresent = 1;
            SetText(d.ombraVersion, version);
        };
    };
    const std::string line = " (V 01.00.00 -> V 01.00.01)";

    const Case cases[] = {
        { "QTR: CCPU of type 1, KCPU, LCPU", {}, allNewer, type(0x1000),
            { UPDATE_TARGET_CCPU_TYPE1, UPDATE_TARGET_KCPU, UPDATE_TARGET_LCPU },
            kPlanHeading + "\r\n  - CCPU" + line + "\r\n  - KCPU" + line + "\r\n  - LCPU" + line, {} },
        { "VHX: CCPU of type 2 and the MCPU", {}, allNewer, type(0x2001),
            { UPDATE_TARGET_CCPU_TYPE2, UPDATE_TARGET_KCPU, UPDATE_TARGET_LCPU, UPDATE_TARGET_MCPU },
            kPlanHeading + "\r\n  - CCPU" + line + "\r\n  - KCPU" + line + "\r\n  - LCPU" + line + "\r\n  - MCPU"
                + line,
            {} },
        { "ZT Remote V2: CCPU of type 9", {}, allNewer, type(0x1080), { UPDATE_TARGET_CCPU_TYPE9 },
            kPlanHeading + "\r\n  - CCPU" + line, {} },
        { "Veltrix box", {}, allNewer, type(0x0091), { UPDATE_TARGET_VELTRIX }, kPlanHeading + "\r\n  - Veltrix" + line,
            {} },
        { "radio modem", {}, allNewer, type(0x3002), { UPDATE_TARGET_RCPU }, kPlanHeading + "\r\n  - RCPU" + line, {} },
        // The Ombra box's own protocol reports its type and version and no RCPU version.
        { "Ombra box older than the file", {}, allNewer, ombra("V 01.00.00"), { UPDATE_TARGET_RCPU },
            kPlanHeading + "\r\n  - Ombra Box" + line, {} },
        { "Ombra box with the newest file", {}, { { 7, "V 01.00.00" } }, ombra("V 01.00.00"), {},
            kInstalled + "\r\n\r\n\t- Ombra Box V 01.00.00", {} },
        { "Ombra box newer than the file", {}, allNewer, ombra("V 07.00.00"), {},
            kInstalled + "\r\n\r\n\t- Ombra Box V 07.00.00", {} },
        { "Ombra box newer than the file, downgrade on", { true, false, false, false }, allNewer, ombra("V 07.00.00"),
            { UPDATE_TARGET_RCPU }, kPlanHeading + "\r\n  - Ombra Box (V 07.00.00 -> V 01.00.01)", {} },
        { "0x3000 exactly runs the RCPU check", {}, allNewer, type(0x3000), { UPDATE_TARGET_RCPU },
            kPlanHeading + "\r\n  - RCPU" + line, {} },
        { "0x3000 exactly with nothing to do is an unknown device", {}, { { 7, "V 01.00.00" } }, type(0x3000), {},
            kUnknown, {} },
        { "hardware type 0 with the OKS setting", { false, false, true, false }, allNewer, type(0),
            { UPDATE_TARGET_RCPU }, kPlanHeading + "\r\n  - RCPU" + line, { "OKS hardware type override" } },
        { "hardware type 0 without it", {}, allNewer, type(0), {}, kUnknown, {} },
        { "VHX: newer MCPU with downgrade on but MCPU downgrade off", { true, false, false, false },
            { { 3, "V 01.00.00" }, { 5, "V 00.09.00" } }, [type](DeviceInformation& d) { type(0x2000)(d); },
            { UPDATE_TARGET_KCPU }, kPlanHeading + "\r\n  - KCPU (V 01.00.00 -> V 01.00.00)", {} },
        { "MCPU mode plans only the CAN driver", { false, false, false, true }, allNewer, type(0x2000),
            { UPDATE_TARGET_MCPU_CAN_DRIVER }, kPlanHeading + "\r\n  - MCPU CAN Driver" + line, {} },
        { "MCPU mode, CAN driver up to date", { false, false, false, true },
            { { 10, "V 01.00.00" }, { 2, "V 09.00.00" } }, type(0x2000), {},
            kInstalled + "\r\n\r\n\t- MCPU CAN Driver V 01.00.00", {} },
        { "MCPU mode does not apply to QTR", { false, false, false, true }, { { 10, "V 09.00.00" } }, type(0x1000), {},
            kInstalled + "\r\n\r\n\t- CCPU V 01.00.00\r\n\t- KCPU V 01.00.00\r\n\t- LCPU V 01.00.00", {} },
        { "VHX up to date", {}, {}, type(0x2001), {},
            kInstalled
                + "\r\n\r\n\t- CCPU V 01.00.00\r\n\t- KCPU V 01.00.00\r\n\t- LCPU V 01.00.00\r\n\t- MCPU V 01.00.00",
            {} },
        { "ZT Remote V2 up to date", {}, {}, type(0x1080), {}, kInstalled + "\r\n\r\n\t- CCPU V 01.00.00", {} },
        { "Veltrix up to date", {}, {}, type(0x0091), {}, kInstalled + "\r\n\r\n\t- Veltrix Box V 01.00.00", {} },
        { "radio modem up to date", {}, {}, type(0x3003), {}, kInstalled + "\r\n\r\n\t- RCPU V 01.00.00", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFirmwareCatalogue catalogue("./Firmware", {});
        Fill(catalogue, c.files);
        Logged logged;
        CUpdatePlanner planner(catalogue, c.settings, logged.Sink());
        DeviceInformation device;
        c.device(device);
        const UpdatePlan plan = planner.Plan(device);
        for (int target = 0; target < UPDATE_TARGET_COUNT; ++target)
            EXPECT_EQ(plan.selection[static_cast<std::size_t>(target)], c.selected.count(UpdateTarget(target)) ? 1 : 0)
                << "target " << target;
        EXPECT_EQ(plan.updateNeeded, !c.selected.empty());
        EXPECT_EQ(plan.text, c.text);
        EXPECT_EQ(logged.lines, c.log);
    }
}

TEST(CUpdatePlanner, OneOldOrdinaryExpanderHoldsBackTheOthers)
{
    struct Entry
    {
        unsigned short type;
        const char* version;
    };
    struct Case
    {
        const char* name;
        std::vector<Entry> expanders;
        std::vector<unsigned char> selected;
    };
    const Case cases[] = {
        { "33 below V 02.02.00 holds back 34; 16 goes on",
            { { 33, "V 02.01.00" }, { 34, "V 02.05.00" }, { 16, "V 01.00.00" } }, { 0, 0, 1 } },
        { "the pass ends at the old one, also when a good one came first",
            { { 34, "V 02.05.00" }, { 33, "V 02.01.00" }, { 16, "V 01.00.00" } }, { 0, 0, 1 } },
        { "all ordinary ones new enough", { { 33, "V 02.02.00" }, { 34, "V 02.05.00" } }, { 1, 1 } },
        { "an up-to-date expander takes no part", { { 33, "V 02.06.00" }, { 34, "V 02.05.00" } }, { 0, 1 } },
        { "the table ends at type 0", { { 34, "V 02.05.00" }, { 0, "V 01.00.00" }, { 33, "V 02.01.00" } }, { 1 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFirmwareCatalogue catalogue("./Firmware", {});
        Fill(catalogue, { { 6, "V 02.06.00" } });
        CUpdatePlanner planner(catalogue, {}, {});
        DeviceInformation device;
        device.hardwareType = 0x1001;
        for (std::size_t i = 0; i < c.expanders.size(); ++i) {
            device.expanders[i].type = c.expanders[i].type;
            device.expanders[i].selected = 1; // stale marks from an earlier planning
            SetText(device.expanders[i].version, c.expanders[i].version);
        }
        const UpdatePlan plan = planner.Plan(device);
        std::string lines;
        bool any = false;
        for (std::size_t i = 0; i < c.selected.size() && c.expanders[i].type != 0; ++i) {
            EXPECT_EQ(device.expanders[i].selected, c.selected[i]) << i;
            if (c.selected[i] != 0) {
                any = true;
                lines += "\r\n  - ECPU (" + GetZELECPUTypeAsString(c.expanders[i].type) + ", " + c.expanders[i].version
                    + " -> V 02.06.00)";
            }
        }
        EXPECT_EQ(plan.selection[UPDATE_TARGET_ECPU], any ? 1 : 0);
        EXPECT_EQ(plan.text, any ? kPlanHeading + lines : kInstalled + "\r\n\r\n\t- CCPU \r\n\t- KCPU \r\n\t- LCPU ");
    }
}

TEST(CUpdatePlanner, QuestionFollowsThePlan)
{
    UpdatePlan plan;
    plan.text = kPlanHeading + "\r\n  - KCPU (a -> b)";
    EXPECT_EQ(plan.QuestionText(), plan.text + "\r\n\r\nDo you want to install these updates now?");
}
