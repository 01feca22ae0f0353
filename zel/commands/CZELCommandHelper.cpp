#include "zel/commands/CZELCommandHelper.h"

#include "zel/foundation/ZELStatus.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Request ids of the list.
constexpr std::uint16_t kDeviceInfo = 0x0001;
constexpr std::uint16_t kGetStatus = 0x0002;
constexpr std::uint16_t kDumpSettings = 0x0003;
constexpr std::uint16_t kPrepareFirmwareUpdate = 0x0004;
constexpr std::uint16_t kReadMemory = 0x0006;
constexpr std::uint16_t kControl = 0x0011;
constexpr std::uint16_t kGetLBUSDevices = 0x0012;
constexpr std::uint16_t kGetExpanders = 0x0013;
constexpr std::uint16_t kGetCANDrivers = 0x0018;
constexpr std::uint16_t kSetMCPUMode = 0x001F;
constexpr std::uint16_t kReadProfile = 0x002C;
constexpr std::uint16_t kReadAssignments = 0x002E;
constexpr std::uint16_t kGetKCPUInfo = 0x0A01;
constexpr std::uint16_t kGetECPUInfo = 0x0B01;
constexpr std::uint16_t kSetECPUZeroOffset = 0x0B21;
constexpr std::uint16_t kSetECPUPWMMinMax = 0x0B22;
constexpr std::uint16_t kGetECPUPWMCalibration = 0x0B23;
constexpr std::uint16_t kSetECPUEncoderMinMax = 0x0B24;
constexpr std::uint16_t kGetECPUEncoderCalibration = 0x0B25;
constexpr std::uint16_t kRCPUControl = 0x0C11;
constexpr std::uint16_t kNoRequest = 0xFFFF;

struct Request
{
    const char* name;
    std::uint16_t id;
};

constexpr std::array<Request, 21> kRequests{{
    {"CCPU_REQ_GET_DEVICE_INFO", kDeviceInfo},
    {"CCPU_REQ_GET_LBUS_DEVICES", kGetLBUSDevices},
    {"CCPU_REQ_GET_EXPANDERS", kGetExpanders},
    {"CCPU_REQ_GET_CAN_DRIVERS", kGetCANDrivers},
    {"CCPU_REQ_PREPARE_FIRMWARE_UPDATE", kPrepareFirmwareUpdate},
    {"MCPU_REQ_GET_DEVICE_INFO", CZELCommandHelper::kMCPUBoardInfoRequest},
    {"CCPU_REQ_DUMP_SETTINGS", kDumpSettings},
    {"CCPU_REQ_READ_PROFILE", kReadProfile},
    {"CCPU_REQ_READ_ASSIGNMENTS", kReadAssignments},
    {"ECPU_REQ_GET_ECPU_INFO", kGetECPUInfo},
    {"KCPU_REQ_GET_KCPU_INFO", kGetKCPUInfo},
    {"ECPU_REQ_SET_ECPU_ZERO_OFFSET", kSetECPUZeroOffset},
    {"ECPU_REQ_SET_ECPU_PWM_MIN_MAX", kSetECPUPWMMinMax},
    {"ECPU_REQ_GET_ECPU_PWM_CALIBRATION", kGetECPUPWMCalibration},
    {"ECPU_REQ_SET_ECPU_ENCODER_MIN_MAX", kSetECPUEncoderMinMax},
    {"ECPU_REQ_GET_ECPU_ENCODER_CALIBRATION", kGetECPUEncoderCalibration},
    {"CCPU_REQ_GET_STATUS", kGetStatus},
    {"CCPU_REQ_CONTROL", kControl},
    {"CCPU_REQ_READ_MEMORY", kReadMemory},
    {"RCPU_REQ_CONTROL", kRCPUControl},
    {"CCPU_REQ_SET_MCPU_MODE", kSetMCPUMode},
}};

struct Parameter
{
    const char* name;
    std::uint8_t value;
};

constexpr Parameter kDeviceInfoTargets[] = {{"From CCPU", 1}, {"From Veltrix", 2}};
constexpr Parameter kStatusProperties[] = {{"ENCODER_AXIS_1", 255}, {"ENCODER_AXIS_2", 255},
    {"ENCODER_AXIS_3", 255}, {"ALL_MOTORS", 255}, {"I2C_ERRORS", 26}, {"LOOPS_PER_SECOND", 27}};
constexpr Parameter kControlProperties[] = {{"MCPU_MONITORING_INTERVAL_1", 2}, {"MCPU_MONITORING_INTERVAL_2", 3},
    {"UPDATE_FIRMWARE", 128}, {"DUMP_EEPROM", 132}, {"I2C_MULTIPLEXER", 125}};
constexpr Parameter kMemories[] = {{"QTR CCPU (U18)", 129}, {"QTR HW Info (U39)", 131}, {"QTR (U38)", 130},
    {"VHX CCPU (U18)", 133}, {"VHX MCPU (U9)", 132}, {"VHX MCPU Backup (U20)", 134}, {"VHXA HW Info (U1)", 135}};
constexpr Parameter kRCPUControlProperties[] = {{"MODEM_BYPASS", 1}};

// How the dialog looks for one request.
struct Setup
{
    const char* parameterLabel;
    const Parameter* parameters; // null: the list is disabled
    int parameterCount;
    const char* valueLabel;
    bool editEnabled;
};

template <std::size_t N>
constexpr Setup WithList(const char* label, const Parameter (&list)[N], const char* valueLabel, bool edit)
{
    return {label, list, static_cast<int>(N), valueLabel, edit};
}

constexpr Setup WithoutList(const char* valueLabel, bool edit) { return {"n/a", nullptr, 0, valueLabel, edit}; }

Setup SetupOf(std::uint16_t request)
{
    switch (request) {
    case kDeviceInfo: return WithList("Property:", kDeviceInfoTargets, "n/a", false);
    case kGetStatus: return WithList("Property:", kStatusProperties, "Update Rate:", true);
    case kControl: return WithList("Property:", kControlProperties, "Setpoint:", true);
    case kReadMemory: return WithList("Memory:", kMemories, "n/a", false);
    case kRCPUControl: return WithList("Property:", kRCPUControlProperties, "Setpoint:", true);
    case kSetMCPUMode: return WithoutList("Mode:", true);
    case kReadProfile:
    case kReadAssignments: return WithoutList("Profile:", true);
    default: return WithoutList("n/a", false);
    }
}

bool ReadsEdit(std::uint16_t request)
{
    switch (request) {
    case kGetStatus:
    case kControl:
    case kReadProfile:
    case kReadAssignments:
    case kRCPUControl:
    case kSetMCPUMode: return true;
    default: return false;
    }
}

// The edit's leading decimal number as atoi reads it (0 for no digits), saturating instead of
// overflowing; callers cut it to their field's width.
long long LeadingNumber(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

} // namespace

int CZELCommandHelper::GetRequestCount() { return static_cast<int>(kRequests.size()); }

const char* CZELCommandHelper::GetRequestName(int index)
{
    return index >= 0 && index < GetRequestCount() ? kRequests[static_cast<std::size_t>(index)].name : nullptr;
}

int CZELCommandHelper::GetParameterCount(int index) { return SetupOf(ConvertIndexToRequest(index)).parameterCount; }

const char* CZELCommandHelper::GetParameterName(int index, int parameter)
{
    const Setup setup = SetupOf(ConvertIndexToRequest(index));
    return parameter >= 0 && parameter < setup.parameterCount ? setup.parameters[parameter].name : nullptr;
}

bool CZELCommandHelper::GetValueRange(int index, int parameter, long long& lowest, long long& highest)
{
    const std::uint16_t request = ConvertIndexToRequest(index);
    if (!ReadsEdit(request))
        return false;
    const std::uint8_t property = ConvertParameter1ToInt(request, parameter);
    lowest = 0;
    highest = 0xFF;
    if (request == kControl && (property == 2 || property == 3)) {
        lowest = INT16_MIN;
        highest = INT16_MAX;
    } else if (request == kControl && property == 128) {
        highest = 0xFFFF;
    }
    return true;
}

std::uint16_t CZELCommandHelper::ConvertIndexToRequest(long index)
{
    return index >= 0 && index < GetRequestCount() ? kRequests[static_cast<std::size_t>(index)].id : kNoRequest;
}

std::uint8_t CZELCommandHelper::ConvertParameter1ToInt(std::uint16_t request, long parameter)
{
    const Setup setup = SetupOf(request);
    if (setup.parameters && parameter >= 0 && parameter < setup.parameterCount)
        return setup.parameters[parameter].value;
    // Without a choice, a status asks for every motor.
    return request == kGetStatus ? 255 : 0;
}

long CZELCommandHelper::FillRequest(IZELComboBox* requests)
{
    if (!requests)
        return ZEL_STATUS_INVALID_PARAMETER;
    requests->ResetContent();
    for (const Request& request : kRequests)
        requests->AddString(request.name);
    requests->SetCurSel(0);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandHelper::FillParameters(IZELComboBox* requests, IZELStaticText* parameterLabel,
    IZELComboBox* parameters, IZELStaticText* valueLabel, IZELEdit* value)
{
    if (!requests || !parameterLabel || !parameters || !valueLabel || !value)
        return ZEL_STATUS_INVALID_PARAMETER;
    const int selected = requests->GetCurSel();
    if (selected < 0)
        return ZEL_STATUS_NOT_FOUND;
    const std::uint16_t request = ConvertIndexToRequest(selected);
    if (request == kNoRequest)
        return ZEL_STATUS_INVALID_OPERATION;
    const Setup setup = SetupOf(request);
    parameterLabel->SetWindowText(setup.parameterLabel);
    parameters->ResetContent();
    for (int i = 0; i < setup.parameterCount; ++i)
        parameters->AddString(setup.parameters[i].name);
    if (setup.parameterCount > 0)
        parameters->SetCurSel(0);
    parameters->EnableWindow(setup.parameters != nullptr);
    valueLabel->SetWindowText(setup.valueLabel);
    value->EnableWindow(setup.editEnabled);
    return ZEL_STATUS_SUCCESS;
}

long CZELCommandHelper::GetCurrentCommand(IZELComboBox* requests, IZELComboBox* parameters, IZELEdit* value,
    std::uint8_t* buffer, std::uint16_t* length)
{
    if (!requests || !parameters || !value || !buffer || !length)
        return ZEL_STATUS_INVALID_PARAMETER;
    *length = 0;
    const std::uint16_t request = ConvertIndexToRequest(requests->GetCurSel());
    std::string text;
    if (ReadsEdit(request)) {
        text = value->GetWindowText();
        if (text.empty() || text.size() >= kMaxEditLength)
            return ZEL_STATUS_WRONG_FORMAT;
    }
    const long number = static_cast<long>(LeadingNumber(text));
    const std::uint8_t parameter = ConvertParameter1ToInt(request, parameters->GetCurSel());
    const auto byte = static_cast<std::uint8_t>(number);

    std::uint16_t built = 0;
    switch (request) {
    case kDeviceInfo:
        if (parameter == 1)
            built = PrepareReqGetDeviceInfo(buffer);
        else if (parameter == 2)
            built = PrepareReqGetVeltrixDeviceInfo(buffer);
        else if (parameter == 3)
            built = PrepareReqGetOmbraDeviceInfo(buffer);
        break;
    case kGetStatus: built = PrepareReqGetStatus(buffer, 1, &parameter, &byte); break;
    case kControl: {
        // The value in the property's width, packed as the control request takes it.
        std::uint8_t packed[2] = {};
        if (parameter == 2 || parameter == 3) {
            const auto setpoint = static_cast<std::int16_t>(static_cast<std::uint16_t>(number));
            value->SetWindowText(std::to_string(setpoint));
            packed[0] = static_cast<std::uint8_t>(setpoint);
            packed[1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(setpoint) >> 8);
        } else if (parameter == 128) {
            const auto word = static_cast<std::uint16_t>(number);
            value->SetWindowText(std::to_string(word));
            packed[0] = static_cast<std::uint8_t>(word);
            packed[1] = static_cast<std::uint8_t>(word >> 8);
        } else if (parameter == 125 || parameter == 132) {
            value->SetWindowText(std::to_string(byte));
            packed[0] = byte;
        } else {
            break;
        }
        built = PrepareReqControl(buffer, 1, &parameter, packed);
        break;
    }
    case kReadMemory: built = PrepareReqReadMemory(buffer, parameter, 128, 0); break;
    case kRCPUControl:
        if (parameter == 1)
            built = PrepareRCPUReqControl(buffer, 1, &parameter, &byte);
        break;
    case kSetMCPUMode:
    case kReadProfile:
    case kReadAssignments:
        value->SetWindowText(std::to_string(byte));
        if (request == kSetMCPUMode)
            built = PrepareReqSetMCPUMode(buffer, byte);
        else if (request == kReadProfile)
            built = PrepareReqReadProfile(buffer, byte, 0);
        else
            built = PrepareReqReadAssignments(buffer, byte);
        break;
    case kGetLBUSDevices: built = PrepareReqGetLBUSDevices(buffer); break;
    case kGetExpanders: built = PrepareReqGetExpanders(buffer); break;
    case kGetCANDrivers: built = PrepareReqGetCANDrivers(buffer); break;
    case kPrepareFirmwareUpdate: built = PrepareReqPrepareFirmwareUpdate(buffer); break;
    case kMCPUBoardInfoRequest: built = PrepareReqBoardInfo(buffer); break;
    case kDumpSettings: built = PrepareReqDumpSettings(buffer); break;
    case kGetECPUInfo: built = PrepareReqGetECPUInfo(buffer); break;
    case kGetKCPUInfo: built = PrepareReqGetKCPUInfo(buffer); break;
    case kSetECPUZeroOffset: built = PrepareReqSetECPUPWMZeroOffset(buffer); break;
    case kSetECPUPWMMinMax: built = PrepareReqSetECPUPWMMinMax(buffer); break;
    case kGetECPUPWMCalibration: built = PrepareReqGetECPUPWMCalibration(buffer); break;
    case kSetECPUEncoderMinMax: built = PrepareReqSetECPUEncoderMinMax(buffer); break;
    case kGetECPUEncoderCalibration: built = PrepareReqGetECPUEncoderCalibration(buffer); break;
    default: break;
    }
    if (built == 0)
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    *length = built;
    return ZEL_STATUS_SUCCESS;
}
