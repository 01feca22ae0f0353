#include "sim/CSimScenario.h"

#include "zel/platform/ZELFile.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

using Json = nlohmann::json;

// A scenario mistake, with the field it concerns.
struct ScenarioError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// A number given as a JSON number or as a text ("0x21", "33").
std::uint64_t Number(const Json& value, const std::string& field, std::uint64_t largest)
{
    std::uint64_t result = 0;
    if (value.is_number_unsigned()) {
        result = value.get<std::uint64_t>();
    } else if (value.is_string()) {
        const std::string text = value.get<std::string>();
        std::size_t used = 0;
        try {
            result = std::stoull(text, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != text.size())
            throw ScenarioError(field + ": \"" + text + "\" is not a number");
    } else {
        throw ScenarioError(field + ": a non-negative number is expected");
    }
    if (result > largest)
        throw ScenarioError(field + ": " + std::to_string(result) + " is larger than " + std::to_string(largest));
    return result;
}

template <typename T>
void ReadNumber(const Json& object, const char* key, T& target, const std::string& context)
{
    if (object.contains(key))
        target = static_cast<T>(Number(object[key], context + key, std::numeric_limits<T>::max()));
}

void ReadText(const Json& object, const char* key, std::string& target, const std::string& context)
{
    if (!object.contains(key))
        return;
    if (!object[key].is_string())
        throw ScenarioError(context + key + ": a text is expected");
    target = object[key].get<std::string>();
}

void ReadFlag(const Json& object, const char* key, bool& target, const std::string& context)
{
    if (!object.contains(key))
        return;
    if (!object[key].is_boolean())
        throw ScenarioError(context + key + ": true or false is expected");
    target = object[key].get<bool>();
}

void ReadMilliseconds(const Json& object, const char* key, std::chrono::milliseconds& target, const std::string& context)
{
    if (object.contains(key))
        target = std::chrono::milliseconds(Number(object[key], context + key, 24ull * 3600 * 1000));
}

void CheckKeys(const Json& object, std::initializer_list<const char*> known, const std::string& context)
{
    if (!object.is_object())
        throw ScenarioError(context + ": an object is expected");
    for (const auto& item : object.items()) {
        bool found = false;
        for (const char* key : known)
            found = found || item.key() == key;
        if (!found)
            throw ScenarioError(context + item.key() + ": unknown field");
    }
}

std::vector<std::uint8_t> HexBytes(const Json& value, const std::string& field)
{
    std::vector<std::uint8_t> bytes;
    if (value.is_array()) {
        for (const Json& item : value)
            bytes.push_back(static_cast<std::uint8_t>(Number(item, field, 255)));
        return bytes;
    }
    if (!value.is_string())
        throw ScenarioError(field + ": a text of hex bytes or an array of numbers is expected");
    const std::string text = value.get<std::string>();
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw ScenarioError(field + ": \"" + text + "\" is not hex");
        digits += c;
    }
    if (digits.size() % 2 != 0)
        throw ScenarioError(field + ": an odd number of hex digits");
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

void ReadDevice(const Json& device, CSimDevice::Settings& settings)
{
    const std::string context = "device.";
    CheckKeys(device,
        {"hardware", "hardwareType", "protocolVersion", "hardwareVersion", "serialNumber", "productionDate",
            "productionUser", "versions", "versionsAfterUpdate", "expanders", "preconditions", "ombra", "veltrix",
            "radio", "canDrivers", "boardState", "ecpuReadySource", "expanderRestartMs", "bootloader"},
        "device.");
    if (device.contains("hardware")) {
        const Json& hardware = device["hardware"];
        if (!hardware.is_string() || !CSimDevice::ApplyHardwareName(hardware.get<std::string>(), settings))
            throw ScenarioError("device.hardware: one of QTR-1, QTR-2, VHX-3, VHX-360, ZT Remote V2, EMIP400, n920, "
                                "p2400, Veltrix, Ombra, MCPU is expected");
    }
    ReadNumber(device, "hardwareType", settings.hardwareType, context);
    ReadNumber(device, "protocolVersion", settings.protocolVersion, context);
    ReadText(device, "hardwareVersion", settings.hardwareVersion, context);
    ReadText(device, "serialNumber", settings.serialNumber, context);
    ReadText(device, "productionDate", settings.productionDate, context);
    ReadText(device, "productionUser", settings.productionUser, context);
    ReadNumber(device, "boardState", settings.boardState, context);
    ReadMilliseconds(device, "expanderRestartMs", settings.expanderRestart, context);

    for (const char* key : {"versions", "versionsAfterUpdate"}) {
        if (!device.contains(key))
            continue;
        auto& target = std::strcmp(key, "versions") == 0 ? settings.versions : settings.versionsAfterUpdate;
        const Json& versions = device[key];
        if (!versions.is_object())
            throw ScenarioError(context + key + ": an object is expected");
        for (const auto& item : versions.items()) {
            const auto processor = CSimDevice::ProcessorFromName(item.key());
            if (!processor)
                throw ScenarioError(context + key + "." + item.key() + ": unknown processor");
            if (!item.value().is_string())
                throw ScenarioError(context + key + "." + item.key() + ": a text is expected");
            target[*processor] = item.value().get<std::string>();
        }
    }
    if (device.contains("expanders")) {
        if (!device["expanders"].is_array())
            throw ScenarioError("device.expanders: an array is expected");
        for (const Json& entry : device["expanders"]) {
            const std::string where = "device.expanders[" + std::to_string(settings.expanders.size()) + "].";
            CheckKeys(entry, {"type", "version", "versionAfterUpdate"}, where);
            CSimDevice::Expander expander;
            ReadNumber(entry, "type", expander.type, where);
            ReadText(entry, "version", expander.version, where);
            ReadText(entry, "versionAfterUpdate", expander.versionAfterUpdate, where);
            settings.expanders.push_back(expander);
        }
    }
    if (device.contains("preconditions")) {
        const Json& preconditions = device["preconditions"];
        const std::string where = "device.preconditions.";
        CheckKeys(preconditions, {"fsCan", "ffCan", "lbus", "emergencyButton"}, where);
        ReadNumber(preconditions, "fsCan", settings.fsCanConnections, where);
        ReadNumber(preconditions, "ffCan", settings.ffCanConnections, where);
        ReadNumber(preconditions, "lbus", settings.lbusConnections, where);
        ReadNumber(preconditions, "emergencyButton", settings.emergencyButton, where);
    }
    for (const char* box : {"ombra", "veltrix"}) {
        if (!device.contains(box))
            continue;
        const bool ombra = std::strcmp(box, "ombra") == 0;
        const std::string where = context + box + ".";
        const Json& entry = device[box];
        CheckKeys(entry, {"version", "type"}, where);
        (ombra ? settings.ombraPresent : settings.veltrixPresent) = true;
        ReadNumber(entry, "type", ombra ? settings.ombraType : settings.veltrixType, where);
        std::string version;
        ReadText(entry, "version", version, where);
        settings.versions[ombra ? CSimDevice::Processor::Ombra : CSimDevice::Processor::Veltrix] = version;
    }
    if (device.contains("radio")) {
        const Json& radio = device["radio"];
        const std::string where = "device.radio.";
        CheckKeys(radio, {"modemVersion", "channel", "region", "power"}, where);
        ReadText(radio, "modemVersion", settings.modemVersion, where);
        ReadNumber(radio, "channel", settings.channel, where);
        ReadNumber(radio, "region", settings.region, where);
        ReadNumber(radio, "power", settings.power, where);
    }
    if (device.contains("canDrivers")) {
        if (!device["canDrivers"].is_array())
            throw ScenarioError("device.canDrivers: an array is expected");
        for (const Json& entry : device["canDrivers"]) {
            const std::string where = "device.canDrivers[" + std::to_string(settings.canDrivers.size()) + "].";
            CheckKeys(entry, {"module", "board", "bootloader", "main", "mainAfterUpdate"}, where);
            CSimDevice::CanDriver driver;
            ReadNumber(entry, "module", driver.module, where);
            ReadNumber(entry, "board", driver.board, where);
            ReadNumber(entry, "bootloader", driver.bootloader, where);
            ReadNumber(entry, "main", driver.main, where);
            ReadNumber(entry, "mainAfterUpdate", driver.mainAfterUpdate, where);
            settings.canDrivers.push_back(driver);
        }
    }
    if (device.contains("ecpuReadySource")) {
        const Json& source = device["ecpuReadySource"];
        const std::string name = source.is_string() ? source.get<std::string>() : "";
        if (name == "value")
            settings.ecpuReadySource = CSimDevice::EcpuReadySource::Value;
        else if (name == "control")
            settings.ecpuReadySource = CSimDevice::EcpuReadySource::Control;
        else if (name == "notification")
            settings.ecpuReadySource = CSimDevice::EcpuReadySource::Notification;
        else
            throw ScenarioError("device.ecpuReadySource: value, control or notification is expected");
    }
    if (device.contains("bootloader")) {
        const Json& bootLoader = device["bootloader"];
        const std::string where = "device.bootloader.";
        CheckKeys(bootLoader, {"version", "chipId", "flashSize", "pageSize", "nack", "silent", "readyAfterMs", "protectedFrom",
            "cablePulledAfterWrites", "cableAwayMs", "corruptWriteAt", "readProtected"}, where);
        ReadNumber(bootLoader, "version", settings.bootLoader.version, where);
        ReadNumber(bootLoader, "chipId", settings.bootLoader.chipId, where);
        ReadNumber(bootLoader, "flashSize", settings.bootLoader.flashSize, where);
        ReadNumber(bootLoader, "pageSize", settings.bootLoader.pageSize, where);
        ReadMilliseconds(bootLoader, "readyAfterMs", settings.bootLoader.readyDelay, where);
        ReadNumber(bootLoader, "protectedFrom", settings.bootLoader.protectedFrom, where);
        ReadNumber(bootLoader, "cablePulledAfterWrites", settings.bootLoader.cablePulledAfterWrites, where);
        ReadMilliseconds(bootLoader, "cableAwayMs", settings.bootLoader.cableAway, where);
        ReadNumber(bootLoader, "corruptWriteAt", settings.bootLoader.corruptWriteAt, where);
        if (settings.bootLoader.pageSize == 0 || settings.bootLoader.flashSize % settings.bootLoader.pageSize != 0)
            throw ScenarioError("device.bootloader.pageSize: must divide flashSize");
        if (bootLoader.contains("nack")) {
            for (std::uint8_t command : HexBytes(bootLoader["nack"], where + "nack"))
                settings.bootLoader.nackCommands.insert(command);
        }
        ReadFlag(bootLoader, "silent", settings.bootLoader.silent, where);
        ReadFlag(bootLoader, "readProtected", settings.bootLoader.readProtected, where);
    }
}

CSimScenario::Fault ReadFault(const Json& entry, const std::string& where)
{
    CheckKeys(entry, {"kind", "id", "delimiter", "skip", "times", "ms", "offset", "mask", "bytes", "returnAfterMs"},
        where);
    CSimScenario::Fault fault;
    const std::string kind = entry.contains("kind") && entry["kind"].is_string() ? entry["kind"].get<std::string>() : "";
    if (kind == "noAnswer")
        fault.kind = CSimScenario::FaultKind::NoAnswer;
    else if (kind == "late")
        fault.kind = CSimScenario::FaultKind::Late;
    else if (kind == "corrupt")
        fault.kind = CSimScenario::FaultKind::Corrupt;
    else if (kind == "drop")
        fault.kind = CSimScenario::FaultKind::Drop;
    else if (kind == "garbage")
        fault.kind = CSimScenario::FaultKind::Garbage;
    else if (kind == "disconnect")
        fault.kind = CSimScenario::FaultKind::Disconnect;
    else
        throw ScenarioError(where + "kind: noAnswer, late, corrupt, drop, garbage or disconnect is expected");
    if (entry.contains("id"))
        fault.id = static_cast<std::uint16_t>(Number(entry["id"], where + "id", 0xFFFF));
    if (entry.contains("delimiter"))
        fault.delimiter = static_cast<std::uint8_t>(Number(entry["delimiter"], where + "delimiter", 0xFF));
    ReadNumber(entry, "skip", fault.skip, where);
    ReadNumber(entry, "times", fault.times, where);
    ReadMilliseconds(entry, "ms", fault.delay, where);
    if (entry.contains("offset"))
        fault.offset = static_cast<std::size_t>(Number(entry["offset"], where + "offset", 0xFFFF));
    ReadNumber(entry, "mask", fault.mask, where);
    if (fault.kind == CSimScenario::FaultKind::Corrupt && fault.mask == 0)
        throw ScenarioError(where + "mask: 0 would change nothing");
    if (entry.contains("bytes"))
        fault.bytes = HexBytes(entry["bytes"], where + "bytes");
    if (fault.kind == CSimScenario::FaultKind::Garbage && fault.bytes.empty())
        throw ScenarioError(where + "bytes: garbage needs at least one byte");
    if (entry.contains("returnAfterMs")) {
        std::chrono::milliseconds after{0};
        ReadMilliseconds(entry, "returnAfterMs", after, where);
        fault.returnAfter = after;
    }
    return fault;
}

} // namespace

bool CSimScenario::Fault::Strikes(std::uint8_t packetDelimiter, std::uint16_t packetId)
{
    if ((id && *id != packetId) || (delimiter && *delimiter != packetDelimiter))
        return false;
    if (m_seen++ < skip)
        return false;
    if (times != 0 && m_struck >= times)
        return false;
    ++m_struck;
    return true;
}

bool CSimScenario::Parse(const std::string& json, CSimScenario& scenario, std::string& error)
{
    try {
        const Json root = Json::parse(json);
        CheckKeys(root, {"device", "faults", "baudRate"}, "");
        CSimScenario result;
        if (root.contains("device"))
            ReadDevice(root["device"], result.device);
        if (root.contains("baudRate") && root["baudRate"] == "line")
            result.baudRateOfLine = true;
        else
            ReadNumber(root, "baudRate", result.baudRate, "");
        if (root.contains("faults")) {
            if (!root["faults"].is_array())
                throw ScenarioError("faults: an array is expected");
            for (const Json& entry : root["faults"])
                result.faults.push_back(ReadFault(entry, "faults[" + std::to_string(result.faults.size()) + "]."));
        }
        scenario = std::move(result);
        return true;
    } catch (const Json::exception& failure) {
        error = failure.what();
    } catch (const ScenarioError& failure) {
        error = failure.what();
    }
    return false;
}

bool CSimScenario::Load(const std::string& path, CSimScenario& scenario, std::string& error)
{
    std::string content;
    if (!ZELPlatform::ReadWholeFile(path, content)) {
        error = path + ": the scenario file cannot be read";
        return false;
    }
    if (Parse(content, scenario, error))
        return true;
    error = path + ": " + error;
    return false;
}
