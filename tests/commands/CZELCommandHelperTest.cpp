#include "zel/commands/CZELCommandHelper.h"
#include "zel/commands/CZELPlainComboBox.h"
#include "zel/commands/CZELPlainEdit.h"
#include "zel/commands/CZELPlainStaticText.h"
#include "zel/foundation/ZELStatus.h"

#include "support/ZELTestPackets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ZELTest::Bytes;

namespace {

// The controls of a command dialog, with the request list filled.
struct Dialog
{
    Dialog()
    {
        EXPECT_EQ(helper.FillRequest(&requests), ZEL_STATUS_SUCCESS);
    }

    static int IndexOf(const CZELPlainComboBox& list, const std::string& entry)
    {
        const auto& entries = list.Entries();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i] == entry)
                return static_cast<int>(i);
        ADD_FAILURE() << entry << " is not in the list";
        return -1;
    }

    long Choose(const std::string& request)
    {
        requests.SetCurSel(IndexOf(requests, request));
        return helper.FillParameters(&requests, &parameterLabel, &parameters, &valueLabel, &value);
    }

    // Builds the packet of the current choice; empty when none was built.
    Bytes Build(long* status)
    {
        Bytes buffer(CZELCommandHelper::kCommandBufferSize, 0xCC);
        std::uint16_t length = 0xBEEF;
        *status = helper.GetCurrentCommand(&requests, &parameters, &value, buffer.data(), &length);
        EXPECT_LE(length, buffer.size());
        buffer.resize(length);
        return buffer;
    }

    CZELCommandHelper helper;
    CZELPlainComboBox requests;
    CZELPlainStaticText parameterLabel;
    CZELPlainComboBox parameters;
    CZELPlainStaticText valueLabel;
    CZELPlainEdit value;
};

} // namespace

TEST(CZELCommandHelper, FillsTheRequestListAndSelectsTheFirst)
{
    Dialog dialog;
    ASSERT_EQ(dialog.requests.GetCount(), 21);
    EXPECT_EQ(dialog.requests.GetCurSel(), 0);
    EXPECT_EQ(dialog.requests.Entries().front(), "CCPU_REQ_GET_DEVICE_INFO");
    EXPECT_EQ(dialog.requests.Entries()[5], "MCPU_REQ_GET_DEVICE_INFO");
    EXPECT_EQ(dialog.requests.Entries().back(), "CCPU_REQ_SET_MCPU_MODE");
    // Filling again replaces the list instead of appending to it.
    dialog.requests.SetCurSel(7);
    EXPECT_EQ(dialog.helper.FillRequest(&dialog.requests), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dialog.requests.GetCount(), 21);
    EXPECT_EQ(dialog.requests.GetCurSel(), 0);
    EXPECT_EQ(dialog.helper.FillRequest(nullptr), ZEL_STATUS_INVALID_PARAMETER);
}

TEST(CZELCommandHelper, SetsUpTheControlsForEachRequest)
{
    struct Case
    {
        const char* request;
        const char* parameterLabel;
        std::vector<std::string> parameters; // empty: the list is disabled
        const char* valueLabel;
        bool editEnabled;
    };
    const Case cases[] = {
        {"CCPU_REQ_GET_DEVICE_INFO", "Property:", {"From CCPU", "From Veltrix"}, "n/a", false},
        {"CCPU_REQ_GET_STATUS", "Property:",
            {"ENCODER_AXIS_1", "ENCODER_AXIS_2", "ENCODER_AXIS_3", "ALL_MOTORS", "I2C_ERRORS", "LOOPS_PER_SECOND"},
            "Update Rate:", true},
        {"CCPU_REQ_CONTROL", "Property:",
            {"MCPU_MONITORING_INTERVAL_1", "MCPU_MONITORING_INTERVAL_2", "UPDATE_FIRMWARE", "DUMP_EEPROM",
                "I2C_MULTIPLEXER"},
            "Setpoint:", true},
        {"CCPU_REQ_READ_MEMORY", "Memory:",
            {"QTR CCPU (U18)", "QTR HW Info (U39)", "QTR (U38)", "VHX CCPU (U18)", "VHX MCPU (U9)",
                "VHX MCPU Backup (U20)", "VHXA HW Info (U1)"},
            "n/a", false},
        {"RCPU_REQ_CONTROL", "Property:", {"MODEM_BYPASS"}, "Setpoint:", true},
        {"CCPU_REQ_SET_MCPU_MODE", "n/a", {}, "Mode:", true},
        {"CCPU_REQ_READ_PROFILE", "n/a", {}, "Profile:", true},
        {"CCPU_REQ_READ_ASSIGNMENTS", "n/a", {}, "Profile:", true},
        {"CCPU_REQ_GET_EXPANDERS", "n/a", {}, "n/a", false},
        {"MCPU_REQ_GET_DEVICE_INFO", "n/a", {}, "n/a", false},
        {"ECPU_REQ_GET_ECPU_ENCODER_CALIBRATION", "n/a", {}, "n/a", false},
    };
    Dialog dialog;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        // Start from the opposite state, so that every control is seen to be set.
        dialog.Choose("CCPU_REQ_CONTROL");
        dialog.parameters.SetCurSel(2);
        dialog.value.EnableWindow(!c.editEnabled);
        dialog.parameters.EnableWindow(c.parameters.empty());

        ASSERT_EQ(dialog.Choose(c.request), ZEL_STATUS_SUCCESS);
        EXPECT_EQ(dialog.parameterLabel.GetText(), c.parameterLabel);
        EXPECT_EQ(dialog.parameters.Entries(), c.parameters);
        EXPECT_EQ(dialog.parameters.IsEnabled(), !c.parameters.empty());
        EXPECT_EQ(dialog.parameters.GetCurSel(), c.parameters.empty() ? -1 : 0);
        EXPECT_EQ(dialog.valueLabel.GetText(), c.valueLabel);
        EXPECT_EQ(dialog.value.IsEnabled(), c.editEnabled);
    }
}

TEST(CZELCommandHelper, FillParametersRefusals)
{
    Dialog dialog;
    CZELCommandHelper& helper = dialog.helper;
    EXPECT_EQ(helper.FillParameters(nullptr, &dialog.parameterLabel, &dialog.parameters, &dialog.valueLabel,
                  &dialog.value),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(helper.FillParameters(&dialog.requests, nullptr, &dialog.parameters, &dialog.valueLabel, &dialog.value),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(
        helper.FillParameters(&dialog.requests, &dialog.parameterLabel, nullptr, &dialog.valueLabel, &dialog.value),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(
        helper.FillParameters(&dialog.requests, &dialog.parameterLabel, &dialog.parameters, nullptr, &dialog.value),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(helper.FillParameters(&dialog.requests, &dialog.parameterLabel, &dialog.parameters,
                  &dialog.valueLabel, nullptr),
        ZEL_STATUS_INVALID_PARAMETER);

    dialog.requests.SetCurSel(-1);
    EXPECT_EQ(helper.FillParameters(&dialog.requests, &dialog.parameterLabel, &dialog.parameters,
                  &dialog.valueLabel, &dialog.value),
        ZEL_STATUS_NOT_FOUND);

    // An entry the helper did not add has no set-up.
    dialog.requests.SetCurSel(dialog.requests.AddString("CCPU_REQ_SOMETHING_ELSE"));
    EXPECT_EQ(helper.FillParameters(&dialog.requests, &dialog.parameterLabel, &dialog.parameters,
                  &dialog.valueLabel, &dialog.value),
        ZEL_STATUS_INVALID_OPERATION);
}

TEST(CZELCommandHelper, BuildsThePacketOfTheCurrentChoice)
{
    struct Case
    {
        const char* request;
        const char* parameter; // null: left as set up
        const char* edit;
        Bytes packet;
        const char* editAfter; // null: the edit keeps its text
    };
    // Checksums and sequence number are the sender's: the builder leaves them 0.
    const Case cases[] = {
        {"CCPU_REQ_GET_DEVICE_INFO", "From CCPU", "", {0x42, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, nullptr},
        {"CCPU_REQ_GET_DEVICE_INFO", "From Veltrix", "", {0x05, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}, nullptr},
        {"CCPU_REQ_GET_EXPANDERS", nullptr, "", {0x42, 0x13, 0x00, 0x00, 0x00, 0x00, 0x00}, nullptr},
        {"CCPU_REQ_GET_CAN_DRIVERS", nullptr, "", {0x42, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00}, nullptr},
        {"ECPU_REQ_GET_ECPU_INFO", nullptr, "", {0x42, 0x01, 0x0B, 0x00, 0x00, 0x00, 0x00}, nullptr},
        // Every encoder axis asks for the status of all motors.
        {"CCPU_REQ_GET_STATUS", "ENCODER_AXIS_1", "10",
            {0x42, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0xFF, 0x0A, 0x00}, nullptr},
        {"CCPU_REQ_GET_STATUS", "I2C_ERRORS", "261", {0x42, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00, 0x1A, 0x05, 0x00},
            nullptr},
        {"CCPU_REQ_CONTROL", "DUMP_EEPROM", "300", {0x42, 0x11, 0x00, 0x02, 0x00, 0x00, 0x00, 0x84, 0x2C, 0x00},
            "44"},
        {"CCPU_REQ_CONTROL", "I2C_MULTIPLEXER", "abc", {0x42, 0x11, 0x00, 0x02, 0x00, 0x00, 0x00, 0x7D, 0x00, 0x00},
            "0"},
        {"CCPU_REQ_CONTROL", "MCPU_MONITORING_INTERVAL_1", "-2",
            {0x42, 0x11, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0xFE, 0xFF, 0x00}, "-2"},
        {"CCPU_REQ_CONTROL", "MCPU_MONITORING_INTERVAL_2", "40000 ms",
            {0x42, 0x11, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x40, 0x9C, 0x00}, "-25536"},
        {"CCPU_REQ_CONTROL", "UPDATE_FIRMWARE", "65537",
            {0x42, 0x11, 0x00, 0x03, 0x00, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00}, "1"},
        {"CCPU_REQ_READ_MEMORY", "QTR HW Info (U39)", "",
            {0x42, 0x06, 0x00, 0x06, 0x00, 0x00, 0x00, 0x83, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00}, nullptr},
        {"RCPU_REQ_CONTROL", "MODEM_BYPASS", "1", {0x42, 0x11, 0x0C, 0x02, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00},
            nullptr},
        {"CCPU_REQ_SET_MCPU_MODE", nullptr, "257", {0x42, 0x1F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00}, "1"},
        // A number beyond any width reads as the largest one, never as undefined overflow.
        {"CCPU_REQ_SET_MCPU_MODE", nullptr, "99999999999999999999999",
            {0x42, 0x1F, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0x00}, "255"},
        {"CCPU_REQ_READ_PROFILE", nullptr, " 3", {0x42, 0x2C, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00}, "3"},
        {"CCPU_REQ_READ_ASSIGNMENTS", nullptr, "-1", {0x42, 0x2E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0x00},
            "255"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.request) + " / " + (c.parameter ? c.parameter : "-") + " / " + c.edit);
        Dialog dialog;
        ASSERT_EQ(dialog.Choose(c.request), ZEL_STATUS_SUCCESS);
        if (c.parameter)
            dialog.parameters.SetCurSel(Dialog::IndexOf(dialog.parameters, c.parameter));
        dialog.value.SetWindowText(c.edit);
        long status = 0;
        EXPECT_EQ(dialog.Build(&status), c.packet);
        EXPECT_EQ(status, ZEL_STATUS_SUCCESS);
        EXPECT_EQ(dialog.value.GetWindowText(), c.editAfter ? c.editAfter : c.edit);
    }
}

TEST(CZELCommandHelper, BoardInformationFollowsTheModuleFraming)
{
    Dialog dialog;
    ASSERT_EQ(dialog.Choose("MCPU_REQ_GET_DEVICE_INFO"), ZEL_STATUS_SUCCESS);
    long status = 0;
    ASSERT_EQ(dialog.helper.SetProtocol(0x4800), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dialog.Build(&status), (Bytes{0x3E, 0x56, 0x00, 0x00, 0x00}));
    EXPECT_EQ(status, ZEL_STATUS_SUCCESS);
    ASSERT_EQ(dialog.helper.SetProtocol(0x4801), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(dialog.Build(&status), (Bytes{0x24, 0x56, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(status, ZEL_STATUS_SUCCESS);
}

TEST(CZELCommandHelper, ChoicesWithoutAPacket)
{
    struct Case
    {
        const char* request; // null: no request selected
        int parameter;       // -2: left as set up
        const char* edit;
        long status;
    };
    const std::string tooLong(CZELCommandHelper::kMaxEditLength, '1');
    const Case cases[] = {
        {"CCPU_REQ_SET_MCPU_MODE", -2, "", ZEL_STATUS_WRONG_FORMAT},
        {"CCPU_REQ_SET_MCPU_MODE", -2, tooLong.c_str(), ZEL_STATUS_WRONG_FORMAT},
        {"CCPU_REQ_GET_STATUS", -2, "", ZEL_STATUS_WRONG_FORMAT},
        {"CCPU_REQ_CONTROL", -2, "", ZEL_STATUS_WRONG_FORMAT},
        {"CCPU_REQ_READ_PROFILE", -2, "", ZEL_STATUS_WRONG_FORMAT},
        {"CCPU_REQ_READ_ASSIGNMENTS", -2, "", ZEL_STATUS_WRONG_FORMAT},
        {"RCPU_REQ_CONTROL", -2, "", ZEL_STATUS_WRONG_FORMAT},
        {nullptr, -2, "1", ZEL_STATUS_UNSPECIFIC_ERROR},
        {"CCPU_REQ_GET_DEVICE_INFO", -1, "", ZEL_STATUS_UNSPECIFIC_ERROR},
        {"CCPU_REQ_CONTROL", -1, "5", ZEL_STATUS_UNSPECIFIC_ERROR},
        {"RCPU_REQ_CONTROL", -1, "5", ZEL_STATUS_UNSPECIFIC_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.request ? c.request : "no request") + " / " + std::to_string(c.parameter) +
            " / " + std::to_string(std::string(c.edit).size()) + " characters");
        Dialog dialog;
        if (c.request)
            ASSERT_EQ(dialog.Choose(c.request), ZEL_STATUS_SUCCESS);
        else
            dialog.requests.SetCurSel(-1);
        if (c.parameter != -2)
            dialog.parameters.SetCurSel(c.parameter);
        dialog.value.SetWindowText(c.edit);
        long status = 0;
        EXPECT_TRUE(dialog.Build(&status).empty());
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(dialog.value.GetWindowText(), c.edit);
    }

    // One character fewer than the limit is still a value.
    Dialog dialog;
    ASSERT_EQ(dialog.Choose("CCPU_REQ_SET_MCPU_MODE"), ZEL_STATUS_SUCCESS);
    dialog.value.SetWindowText(tooLong.substr(1));
    long status = 0;
    EXPECT_EQ(dialog.Build(&status).size(), 9U);
    EXPECT_EQ(status, ZEL_STATUS_SUCCESS);
}

TEST(CZELCommandHelper, GetCurrentCommandRefusesMissingArguments)
{
    Dialog dialog;
    std::uint8_t buffer[CZELCommandHelper::kCommandBufferSize];
    std::uint16_t length = 0;
    CZELCommandHelper& helper = dialog.helper;
    EXPECT_EQ(helper.GetCurrentCommand(nullptr, &dialog.parameters, &dialog.value, buffer, &length),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(helper.GetCurrentCommand(&dialog.requests, nullptr, &dialog.value, buffer, &length),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(helper.GetCurrentCommand(&dialog.requests, &dialog.parameters, nullptr, buffer, &length),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(helper.GetCurrentCommand(&dialog.requests, &dialog.parameters, &dialog.value, nullptr, &length),
        ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(helper.GetCurrentCommand(&dialog.requests, &dialog.parameters, &dialog.value, buffer, nullptr),
        ZEL_STATUS_INVALID_PARAMETER);
}
