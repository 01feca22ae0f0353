#include "sim/CSimDevice.h"

#include "zel/firmware/CZELCRC32.h"
#include "zel/serial/ZELProtocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Request and answer ids the device knows.
constexpr std::uint16_t kAck = 0x4000;
constexpr std::uint16_t kDeviceInfo = 0x0001;
constexpr std::uint16_t kBoxUpdate = 0x0002;
constexpr std::uint16_t kPrepareFirmwareUpdate = 0x0004;
constexpr std::uint16_t kReadMemory = 0x0006;
constexpr std::uint16_t kControl = 0x0011;
constexpr std::uint16_t kGetExpanders = 0x0013;
constexpr std::uint16_t kUpdateExpander = 0x0014;
constexpr std::uint16_t kSendFirmware = 0x0015;
constexpr std::uint16_t kExpanderGo = 0x0016;
constexpr std::uint16_t kSetMCPUMode = 0x001F;
constexpr std::uint16_t kHardwareInfo = 0x0052;
constexpr std::uint16_t kProductionInfo = 0x0054;
constexpr std::uint16_t kKCPUInfo = 0x0A01;
constexpr std::uint16_t kECPUInfo = 0x0B01;
constexpr std::uint16_t kECPUHardwareInfo = 0x0B52;
constexpr std::uint16_t kECPUProductionInfo = 0x0B54;
constexpr std::uint16_t kRCPUInfo = 0x0C01;
constexpr std::uint16_t kRCPUUpdate = 0x0C02;
constexpr std::uint16_t kRCPUHardwareInfo = 0x0C52;
constexpr std::uint16_t kRCPUProductionInfo = 0x0C54;
constexpr std::uint16_t kCCPU2Info = 0x0D01;
constexpr std::uint16_t kCCPU2Update = 0x0D02;
constexpr std::uint16_t kCCPU2HardwareInfo = 0x0D52;
constexpr std::uint16_t kCCPU2ProductionInfo = 0x0D54;
constexpr std::uint16_t kNotControl = 0x8011;
constexpr std::uint16_t kNotExpander = 0x8013;
constexpr std::uint16_t kNotExpanderFinished = 0x8016;

constexpr std::uint8_t kModuleConfirm = 0x43;
constexpr std::uint8_t kModuleList = 0x4C;
constexpr std::uint8_t kFlashStart = 0x4E;
constexpr std::uint8_t kFlashWrite = 0x51;
constexpr std::uint8_t kFlashFinish = 0x53;
constexpr std::uint8_t kRealTimeCustom = 0x55;
constexpr std::uint8_t kBoardInfo = 0x56;
constexpr std::uint8_t kReset = 0x72;
constexpr std::uint8_t kModuleError = 0xFF;

// Error codes of the module protocol's 0xFF answer.
constexpr std::uint8_t kErrorPieceCrc = 1;
constexpr std::uint8_t kErrorImageCrc = 2;
constexpr std::uint8_t kErrorNoTransfer = 3;
constexpr std::uint8_t kErrorOutOfRange = 4;

// Device status codes.
constexpr std::uint8_t kStatusSuccess = 0;
constexpr std::uint8_t kStatusInvalidLength = 1;
constexpr std::uint8_t kStatusInvalidChecksum = 2;
constexpr std::uint8_t kStatusInvalidParameter = 3;

constexpr std::uint8_t kItemBootLoader = 0x80;
constexpr std::uint8_t kItemEcpuReady = 0x7F;
constexpr std::uint16_t kRemoteControlEcpu = 16;
constexpr std::uint8_t kModuleModeMCPU = 4;
constexpr std::uint32_t kFlashBase = 0x08000000;
constexpr std::uint32_t kLargestModuleImage = 1024 * 1024;

void Put16(Bytes& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutText(Bytes& bytes, const std::string& text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
}

std::uint16_t Get16(const std::uint8_t* data) { return static_cast<std::uint16_t>(data[0] | (data[1] << 8)); }

std::uint32_t Get32(const std::uint8_t* data)
{
    return static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
           (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size)
{
    CZELCRC32 crc;
    crc.Reset();
    crc.Update(data, static_cast<unsigned long>(size));
    return crc.GetCRC32();
}

// Width of a property's value in a control request.
std::size_t ControlWidth(std::uint8_t property)
{
    switch (property) {
    case 2:
    case 3:
    case 128: return 2;
    case 125:
    case 129:
    case 132:
    case 133: return 1;
    default: return 0;
    }
}

bool IsQTR(std::uint16_t type) { return type == 0x1000 || type == 0x1001; }
bool IsVHX(std::uint16_t type) { return type == 0x2000 || type == 0x2001; }

// "V MM.mm.bb" at `text`: the three numbers.
bool ReadVersion(const std::string& text, int& major, int& minor, int& build)
{
    return std::sscanf(text.c_str(), "V %2d.%2d.%2d", &major, &minor, &build) == 3;
}

struct HardwareName
{
    const char* name;
    std::uint16_t type;
    CSimDevice::Family family;
};

constexpr HardwareName kHardware[] = {
    {"QTR-1", 0x1000, CSimDevice::Family::Main},
    {"QTR-2", 0x1001, CSimDevice::Family::Main},
    {"VHX-3", 0x2000, CSimDevice::Family::Main},
    {"VHX-360", 0x2001, CSimDevice::Family::Main},
    {"ZT Remote V2", 0x1080, CSimDevice::Family::CCPU2},
    {"EMIP400", 0x3001, CSimDevice::Family::Radio},
    {"n920", 0x3002, CSimDevice::Family::Radio},
    {"p2400", 0x3003, CSimDevice::Family::Radio},
    {"Veltrix", 0x0091, CSimDevice::Family::Veltrix},
    {"Ombra", 0x0080, CSimDevice::Family::Ombra},
    {"MCPU", 0x0000, CSimDevice::Family::Module},
};

constexpr const char* kProcessorNames[CSimDevice::kProcessorCount] = {
    "CCPU", "KCPU", "LCPU", "MCPU", "ECPU", "RCPU", "WCPU", "Veltrix", "Ombra"};

} // namespace

CSimDevice::CSimDevice()
    : CSimDevice(Settings{})
{
}

CSimDevice::CSimDevice(Settings settings)
    : m_settings(std::move(settings))
    , m_framer([this](const std::uint8_t* packet, std::size_t length) { HandlePacket(packet, length); })
{
    for (auto& bootLoader : m_bootLoaders)
        bootLoader = CSimSTM32BootLoader(m_settings.bootLoader);
    if (m_settings.family == Family::Veltrix)
        m_settings.veltrixPresent = true;
    if (m_settings.family == Family::Ombra)
        m_settings.ombraPresent = true;
    m_moduleMode = m_settings.family == Family::Module;
}

bool CSimDevice::ApplyHardwareName(const std::string& name, Settings& settings)
{
    for (const HardwareName& hardware : kHardware) {
        if (name == hardware.name) {
            settings.hardwareName = hardware.name;
            settings.hardwareType = hardware.type;
            settings.family = hardware.family;
            if (hardware.family == Family::Veltrix)
                settings.veltrixType = hardware.type;
            if (hardware.family == Family::Ombra)
                settings.ombraType = hardware.type;
            return true;
        }
    }
    return false;
}

const char* CSimDevice::ProcessorName(Processor processor) { return kProcessorNames[Index(processor)]; }

std::optional<CSimDevice::Processor> CSimDevice::ProcessorFromName(const std::string& name)
{
    for (std::size_t i = 0; i < kProcessorCount; ++i) {
        if (name == kProcessorNames[i])
            return static_cast<Processor>(i);
    }
    return std::nullopt;
}

std::string CSimDevice::FindVersionText(const std::vector<std::uint8_t>& image)
{
    static constexpr char kPattern[] = "V 00.00.00"; // '0' stands for any digit
    constexpr std::size_t kLength = sizeof kPattern - 1;
    for (std::size_t start = 0; start + kLength <= image.size(); ++start) {
        bool match = true;
        for (std::size_t i = 0; i < kLength && match; ++i) {
            const char c = static_cast<char>(image[start + i]);
            match = kPattern[i] == '0' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == kPattern[i];
        }
        if (match)
            return std::string(image.begin() + static_cast<std::ptrdiff_t>(start),
                image.begin() + static_cast<std::ptrdiff_t>(start + kLength));
    }
    return {};
}

std::uint32_t CSimDevice::BoardInfoWord(const std::string& version)
{
    int major = 0;
    int minor = 0;
    int build = 0;
    // The answer shows (v / 10000 + 1) as the major number: V 00.xx.xx cannot be expressed.
    if (!ReadVersion(version, major, minor, build) || major < 1)
        return 0;
    return 20101u + static_cast<std::uint32_t>((major - 1) * 10000 + minor * 100 + build);
}

std::string CSimDevice::Version(Processor processor) const
{
    const auto found = m_settings.versions.find(processor);
    return found == m_settings.versions.end() ? std::string() : found->second;
}

void CSimDevice::Receive(const std::uint8_t* data, std::size_t size, std::vector<Outgoing>& out)
{
    m_out = &out;
    for (std::size_t i = 0; i < size; ++i) {
        if (m_lineOwner) {
            CSimSTM32BootLoader& bootLoader = m_bootLoaders[Index(*m_lineOwner)];
            Outgoing answer;
            answer.bytes = bootLoader.Receive(data + i, size - i);
            if (!answer.bytes.empty())
                out.push_back(std::move(answer));
            // The cable is pulled once in the device's life, by the first processor that gets there.
            if (bootLoader.TakeCablePull() && !m_cableWasPulled) {
                m_cableWasPulled = true;
                m_cablePull = bootLoader.Configuration().cableAway;
            }
            if (bootLoader.HasStarted())
                FinishBootLoader();
            break; // what followed Go was taken by the bootloader and is lost, as on the real line
        }
        const std::uint8_t byte = data[i];
        if (m_framer.GetReceivedCount() == 0) {
            std::uint16_t protocol = m_framer.GetProtocol();
            switch (byte) {
            case ZEL_DELIMITER_CCPU: protocol = ZEL_PROTOCOL_CCPU; break;
            case ZEL_DELIMITER_CCPU2: protocol = ZEL_PROTOCOL_CCPU2; break;
            case ZEL_DELIMITER_VELTRIX: protocol = ZEL_PROTOCOL_VELTRIX; break;
            case ZEL_DELIMITER_OMBRA: protocol = ZEL_PROTOCOL_OMBRA; break;
            case ZEL_DELIMITER_MCPU: protocol = ZEL_PROTOCOL_MCPU; break;
            case ZEL_DELIMITER_MCPU_CRC: protocol = ZEL_PROTOCOL_MCPU_CRC; break;
            default: break;
            }
            if (protocol != m_framer.GetProtocol())
                m_framer.SetProtocol(protocol);
        }
        m_framer.Receive(&byte, 1, std::chrono::steady_clock::now());
        if (m_lineOwner) {
            // The processor resets into its bootloader: requests still on the line are lost.
            m_framer.ResetCommandBuffer();
            break;
        }
    }
    m_out = nullptr;
}

void CSimDevice::CheckTimeout(std::chrono::steady_clock::time_point now) { m_framer.CheckTimeout(now); }

void CSimDevice::ResetLine()
{
    m_framer.ResetCommandBuffer();
    if (m_lineOwner) {
        m_bootLoaders[Index(*m_lineOwner)].Reset();
        m_lineOwner.reset();
    }
}

void CSimDevice::CutLine()
{
    m_framer.ResetCommandBuffer();
}

bool CSimDevice::TakeCablePull(std::chrono::milliseconds& away)
{
    if (!m_cablePull)
        return false;
    away = *m_cablePull;
    m_cablePull.reset();
    return true;
}

void CSimDevice::HandlePacket(const std::uint8_t* packet, std::size_t length)
{
    const std::uint8_t delimiter = packet[0];
    const bool module = delimiter == ZEL_DELIMITER_MCPU || delimiter == ZEL_DELIMITER_MCPU_CRC;
    const std::uint16_t id = module ? packet[1] : Get16(packet + 1);
    const std::uint8_t* payload = packet + (module ? ZEL_MCPU_HEADER_SIZE : ZEL_CCPU_HEADER_SIZE);
    const std::size_t size = module ? packet[2] : Get16(packet + 3);
    if (length < (module ? ZEL_MCPU_HEADER_SIZE : ZEL_CCPU_HEADER_SIZE) + size)
        return; // the framer never hands over less than the header announces

    const Verdict verdict = m_hook ? m_hook(delimiter, id) : Verdict{};
    if (verdict.ignore) {
        ++m_unanswered;
        return;
    }
    m_delay = verdict.delay;
    bool handled = false;
    if (module) {
        m_moduleDelimiter = delimiter;
        handled = m_moduleMode && HandleModule(static_cast<std::uint8_t>(id), payload, size);
    } else if (!m_moduleMode) {
        switch (delimiter) {
        case ZEL_DELIMITER_CCPU:
            if (m_settings.family == Family::Main)
                handled = HandleMain(id, payload, size);
            else if (m_settings.family == Family::Radio)
                handled = HandleRadio(id);
            break;
        case ZEL_DELIMITER_CCPU2: handled = m_settings.family == Family::CCPU2 && HandleCCPU2(id); break;
        case ZEL_DELIMITER_VELTRIX: handled = m_settings.veltrixPresent && HandleBox(delimiter, id); break;
        case ZEL_DELIMITER_OMBRA: handled = m_settings.ombraPresent && HandleBox(delimiter, id); break;
        default: break;
        }
    }
    if (!handled)
        ++m_unanswered;
    m_delay = std::chrono::milliseconds(0);
}

std::vector<std::uint8_t> CSimDevice::IdentityPayload(std::uint16_t type, std::initializer_list<std::string> texts) const
{
    Bytes payload{m_settings.protocolVersion};
    Put16(payload, type);
    for (const std::string& text : texts)
        PutText(payload, text);
    return payload;
}

std::vector<std::uint8_t> CSimDevice::HardwareInfoPayload() const
{
    Bytes payload;
    Put16(payload, m_settings.hardwareType);
    PutText(payload, m_settings.hardwareVersion);
    PutText(payload, m_settings.serialNumber);
    return payload;
}

std::vector<std::uint8_t> CSimDevice::ProductionInfoPayload() const
{
    Bytes payload;
    PutText(payload, m_settings.productionDate);
    PutText(payload, m_settings.productionUser);
    return payload;
}

void CSimDevice::SendDeviceInfo()
{
    Bytes payload{m_settings.protocolVersion};
    Put16(payload, m_settings.hardwareType);
    PutText(payload, m_settings.hardwareVersion);
    PutText(payload, m_settings.serialNumber);
    for (Processor processor : {Processor::MCPU, Processor::ECPU, Processor::CCPU, Processor::KCPU, Processor::LCPU})
        PutText(payload, Version(processor));
    // Protocol version 2 added the RCPU version before the WCPU's.
    if (m_settings.protocolVersion >= 2)
        PutText(payload, Version(Processor::RCPU));
    PutText(payload, Version(Processor::WCPU));
    SendCCPU(ZEL_DELIMITER_CCPU, kAck | kDeviceInfo, payload);
}

bool CSimDevice::HandleMain(std::uint16_t id, const std::uint8_t* payload, std::size_t size)
{
    switch (id) {
    case kDeviceInfo: SendDeviceInfo(); return true;
    case kHardwareInfo:
    case kECPUHardwareInfo: SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, HardwareInfoPayload()); return true;
    case kProductionInfo:
    case kECPUProductionInfo: SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, ProductionInfoPayload()); return true;
    case kKCPUInfo:
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, IdentityPayload(m_settings.hardwareType, {Version(Processor::KCPU)}));
        return true;
    case kECPUInfo:
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, IdentityPayload(m_settings.hardwareType, {Version(Processor::ECPU)}));
        return true;
    case kPrepareFirmwareUpdate:
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | id,
            {m_settings.fsCanConnections, m_settings.ffCanConnections, m_settings.lbusConnections,
                m_settings.emergencyButton});
        return true;
    case kGetExpanders: {
        const auto count = static_cast<std::uint8_t>(std::min<std::size_t>(m_settings.expanders.size(), 255));
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, {count});
        for (std::size_t i = 0; i < count; ++i) {
            Bytes notification{count};
            Put16(notification, m_settings.expanders[i].type);
            PutText(notification, m_settings.expanders[i].version);
            SendCCPU(ZEL_DELIMITER_CCPU, kNotExpander, notification);
        }
        return true;
    }
    case kUpdateExpander: {
        std::uint8_t status = kStatusInvalidParameter;
        if (size == 2) {
            const std::uint16_t type = Get16(payload);
            for (std::size_t i = 0; i < m_settings.expanders.size(); ++i) {
                // The remote control's own ECPU is flashed through the PC's port, never through blocks.
                if (m_settings.expanders[i].type == type && type != kRemoteControlEcpu) {
                    m_expanderInUpdate = static_cast<int>(i);
                    m_expanderImage.clear();
                    status = kStatusSuccess;
                    break;
                }
            }
        }
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, {status});
        return true;
    }
    case kSendFirmware: HandleSendFirmware(payload, size); return true;
    case kExpanderGo: HandleExpanderGo(); return true;
    case kControl: HandleControl(payload, size); return true;
    case kReadMemory: HandleReadMemory(payload, size); return true;
    case kSetMCPUMode: {
        const std::uint8_t mode = size >= 1 ? payload[0] : 0;
        if (size != 1 || !IsVHX(m_settings.hardwareType)) {
            SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, {kStatusInvalidParameter, 0});
            return true;
        }
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, {kStatusSuccess, mode});
        // From now on the line belongs to the MCPU and its module protocol.
        m_moduleMode = mode == kModuleModeMCPU;
        return true;
    }
    default: return false;
    }
}

bool CSimDevice::HandleRadio(std::uint16_t id)
{
    switch (id) {
    case kRCPUInfo: {
        Bytes payload = IdentityPayload(m_settings.hardwareType, {Version(Processor::RCPU), m_settings.modemVersion});
        payload.push_back(m_settings.channel);
        payload.push_back(m_settings.region);
        payload.push_back(m_settings.power);
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, payload);
        return true;
    }
    case kRCPUHardwareInfo: SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, HardwareInfoPayload()); return true;
    case kRCPUProductionInfo: SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, ProductionInfoPayload()); return true;
    case kRCPUUpdate:
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | id, {kStatusSuccess});
        EnterBootLoader(Processor::RCPU);
        return true;
    default: return false;
    }
}

bool CSimDevice::HandleCCPU2(std::uint16_t id)
{
    switch (id) {
    case kCCPU2Info:
        SendCCPU(ZEL_DELIMITER_CCPU2, kAck | id,
            IdentityPayload(m_settings.hardwareType,
                {m_settings.hardwareVersion, m_settings.serialNumber, Version(Processor::CCPU)}));
        return true;
    case kCCPU2HardwareInfo: SendCCPU(ZEL_DELIMITER_CCPU2, kAck | id, HardwareInfoPayload()); return true;
    case kCCPU2ProductionInfo: SendCCPU(ZEL_DELIMITER_CCPU2, kAck | id, ProductionInfoPayload()); return true;
    case kCCPU2Update:
        SendCCPU(ZEL_DELIMITER_CCPU2, kAck | id, {kStatusSuccess});
        EnterBootLoader(Processor::CCPU);
        return true;
    default: return false;
    }
}

bool CSimDevice::HandleBox(std::uint8_t delimiter, std::uint16_t id)
{
    const bool veltrix = delimiter == ZEL_DELIMITER_VELTRIX;
    const Processor box = veltrix ? Processor::Veltrix : Processor::Ombra;
    switch (id) {
    case kDeviceInfo:
        SendCCPU(delimiter, kAck | id,
            IdentityPayload(veltrix ? m_settings.veltrixType : m_settings.ombraType, {Version(box)}));
        return true;
    case kBoxUpdate:
        SendCCPU(delimiter, kAck | id, {kStatusSuccess});
        EnterBootLoader(box);
        return true;
    default: return false;
    }
}

void CSimDevice::HandleReadMemory(const std::uint8_t* payload, std::size_t size)
{
    // Board memories 129 to 135; their content is a pattern of the memory id and the address.
    constexpr std::uint8_t kFirstMemory = 129;
    constexpr std::uint8_t kLastMemory = 135;
    if (size != 6) {
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | kReadMemory, {kStatusInvalidLength});
        return;
    }
    const std::uint8_t memory = payload[0];
    const std::uint8_t length = payload[1];
    if (memory < kFirstMemory || memory > kLastMemory) {
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | kReadMemory, {kStatusInvalidParameter});
        return;
    }
    const std::uint32_t address = payload[2] | (static_cast<std::uint32_t>(payload[3]) << 8) |
                                  (static_cast<std::uint32_t>(payload[4]) << 16) |
                                  (static_cast<std::uint32_t>(payload[5]) << 24);
    Bytes answer{kStatusSuccess, memory, length, payload[2], payload[3], payload[4], payload[5]};
    for (std::uint32_t i = 0; i < length; ++i)
        answer.push_back(static_cast<std::uint8_t>(memory ^ (address + i)));
    SendCCPU(ZEL_DELIMITER_CCPU, kAck | kReadMemory, answer);
}

void CSimDevice::HandleControl(const std::uint8_t* payload, std::size_t size)
{
    // Walk the items; the acknowledgement reports the first one (or the bootloader switch).
    std::size_t offset = 0;
    std::optional<std::size_t> first;
    std::optional<std::size_t> bootLoaderItem;
    while (offset < size) {
        const std::uint8_t property = payload[offset];
        const std::size_t width = ControlWidth(property);
        if (offset + 1 + width > size) {
            SendCCPU(ZEL_DELIMITER_CCPU, kAck | kControl, {kStatusInvalidLength});
            return;
        }
        if (!first)
            first = offset;
        if (property == kItemBootLoader && !bootLoaderItem)
            bootLoaderItem = offset;
        offset += 1 + width;
    }
    if (!first) {
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | kControl, {kStatusInvalidLength});
        return;
    }
    if (!bootLoaderItem) {
        const std::uint8_t property = payload[*first];
        // Status, the property and its value echoed.
        Bytes answer(2 + ControlWidth(property));
        answer[0] = kStatusSuccess;
        answer[1] = property;
        std::copy_n(payload + *first + 1, ControlWidth(property), answer.begin() + 2);
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | kControl, answer);
        return;
    }

    const std::uint16_t target = Get16(payload + *bootLoaderItem + 1);
    struct Switch
    {
        std::uint16_t target;
        Processor processor;
        std::uint8_t readyCode;
    };
    static constexpr Switch kSwitches[] = {
        {0x1800, Processor::CCPU, 7},
        {0x2800, Processor::KCPU, 3},
        {0x3800, Processor::LCPU, 5},
        {0x4800, Processor::MCPU, 6},
        {0xF000, Processor::ECPU, 6},
    };
    const Switch* match = nullptr;
    for (const Switch& candidate : kSwitches) {
        if (candidate.target == target)
            match = &candidate;
    }
    // The MCPU sits only in VHX heads, the remote control's own ECPU only in QTR remotes.
    if (match && match->processor == Processor::MCPU && !IsVHX(m_settings.hardwareType))
        match = nullptr;
    if (match && match->processor == Processor::ECPU && !IsQTR(m_settings.hardwareType))
        match = nullptr;
    Bytes answer{match ? kStatusSuccess : kStatusInvalidParameter, kItemBootLoader, static_cast<std::uint8_t>(target),
        static_cast<std::uint8_t>(target >> 8)};
    if (!match) {
        SendCCPU(ZEL_DELIMITER_CCPU, kAck | kControl, answer);
        return;
    }
    // The acknowledgement carries the ready code where the echoed value's first byte would be.
    answer[2] = match->readyCode;
    if (match->processor == Processor::ECPU) {
        switch (m_settings.ecpuReadySource) {
        case EcpuReadySource::Value: break;
        case EcpuReadySource::Control:
            answer.resize(2);
            answer[1] = kItemEcpuReady;
            break;
        case EcpuReadySource::Notification:
            answer[2] = static_cast<std::uint8_t>(target); // a plain echo: no ready code here
            SendCCPU(ZEL_DELIMITER_CCPU, kAck | kControl, answer);
            SendCCPU(ZEL_DELIMITER_CCPU, kNotControl, {kStatusSuccess, kItemEcpuReady});
            EnterBootLoader(match->processor);
            return;
        }
    }
    SendCCPU(ZEL_DELIMITER_CCPU, kAck | kControl, answer);
    EnterBootLoader(match->processor);
}

void CSimDevice::HandleSendFirmware(const std::uint8_t* payload, std::size_t size)
{
    const auto answer = [this](std::uint8_t status) { SendCCPU(ZEL_DELIMITER_CCPU, kAck | kSendFirmware, {status}); };
    if (m_expanderInUpdate < 0) {
        answer(kStatusInvalidParameter);
        return;
    }
    // Address, block length, then one Write Memory block: count - 1, the bytes, their XOR.
    if (size < 6 + 3 || Get16(payload + 4) != size - 6) {
        answer(kStatusInvalidLength);
        return;
    }
    const std::uint32_t address = Get32(payload);
    const std::uint8_t* block = payload + 6;
    const std::size_t blockSize = size - 6;
    const std::size_t count = static_cast<std::size_t>(block[0]) + 1;
    if (count + 2 != blockSize) {
        answer(kStatusInvalidLength);
        return;
    }
    std::uint8_t checksum = 0;
    for (std::size_t i = 0; i + 1 < blockSize; ++i)
        checksum ^= block[i];
    if (checksum != block[blockSize - 1]) {
        answer(kStatusInvalidChecksum);
        return;
    }
    if (address < kFlashBase || address - kFlashBase + count > m_settings.bootLoader.flashSize) {
        answer(kStatusInvalidParameter);
        return;
    }
    const std::size_t offset = address - kFlashBase;
    if (m_expanderImage.size() < offset + count)
        m_expanderImage.resize(offset + count, 0xFF);
    std::copy_n(block + 1, count, m_expanderImage.begin() + static_cast<std::ptrdiff_t>(offset));
    answer(kStatusSuccess);
}

void CSimDevice::HandleExpanderGo()
{
    if (m_expanderInUpdate < 0)
        return;
    Expander& expander = m_settings.expanders[static_cast<std::size_t>(m_expanderInUpdate)];
    m_expanderImages[expander.type] = m_expanderImage;
    std::string version = expander.versionAfterUpdate;
    if (version.empty())
        version = FindVersionText(m_expanderImage);
    if (!version.empty())
        expander.version = version;
    m_expanderInUpdate = -1;
    // The main controller looks for its expanders again and reports when it has found them.
    const auto delay = m_delay;
    m_delay += m_settings.expanderRestart;
    SendCCPU(ZEL_DELIMITER_CCPU, kNotExpanderFinished, {});
    m_delay = delay;
}

void CSimDevice::EnterBootLoader(Processor processor)
{
    m_bootLoaders[Index(processor)].Reset();
    m_lineOwner = processor;
}

std::string CSimDevice::NewVersion(Processor processor, const std::vector<std::uint8_t>& image) const
{
    const auto configured = m_settings.versionsAfterUpdate.find(processor);
    if (configured != m_settings.versionsAfterUpdate.end() && !configured->second.empty())
        return configured->second;
    const std::string found = FindVersionText(image);
    return found.empty() ? Version(processor) : found;
}

void CSimDevice::FinishBootLoader()
{
    const Processor processor = *m_lineOwner;
    CSimSTM32BootLoader& bootLoader = m_bootLoaders[Index(processor)];
    const std::string version = NewVersion(processor, bootLoader.ProgrammedImage());
    m_settings.versions[processor] = version;
    if (processor == Processor::ECPU) {
        for (Expander& expander : m_settings.expanders) {
            if (expander.type == kRemoteControlEcpu)
                expander.version = version;
        }
    }
    bootLoader.Reset();
    m_lineOwner.reset();
    m_framer.ResetCommandBuffer();
}

CSimDevice::CanDriver* CSimDevice::FindCanDriver(std::uint8_t module)
{
    for (CanDriver& driver : m_settings.canDrivers) {
        if (driver.module == module)
            return &driver;
    }
    return nullptr;
}

bool CSimDevice::HandleModule(std::uint8_t id, const std::uint8_t* payload, std::size_t size)
{
    switch (id) {
    case kBoardInfo: {
        Bytes answer(18, 0);
        answer[3] = m_settings.boardState;
        const std::uint32_t word = BoardInfoWord(Version(Processor::MCPU));
        for (int i = 0; i < 4; ++i)
            answer[7 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(word >> (8 * i));
        SendMCPU(kBoardInfo, answer);
        return true;
    }
    case kModuleList: {
        // Records of 13 bytes; the list must fit one packet.
        const std::size_t count = std::min<std::size_t>(m_settings.canDrivers.size(), 19);
        Bytes answer{static_cast<std::uint8_t>(count)};
        for (std::size_t i = 0; i < count; ++i) {
            const CanDriver& driver = m_settings.canDrivers[i];
            answer.push_back(driver.module);
            Put16(answer, driver.board);
            Put16(answer, driver.bootloader);
            Put16(answer, driver.main);
            answer.insert(answer.end(), 6, 0);
        }
        SendMCPU(kModuleList, answer);
        return true;
    }
    case kFlashStart: HandleFlashStart(payload, size); return true;
    case kFlashWrite: HandleFlashWrite(payload, size); return true;
    case kFlashFinish: HandleFlashFinish(payload, size); return true;
    case kRealTimeCustom: Confirm(kRealTimeCustom); return true;
    case kReset: SendMCPU(kReset, {}); return true;
    default: return false;
    }
}

void CSimDevice::HandleFlashStart(const std::uint8_t* payload, std::size_t size)
{
    if (size != 5 || !FindCanDriver(payload[0])) {
        SendModuleError(kErrorNoTransfer, size >= 1 ? payload[0] : 0);
        return;
    }
    const std::uint32_t imageSize = Get32(payload + 1);
    if (imageSize == 0 || imageSize > kLargestModuleImage) {
        SendModuleError(kErrorOutOfRange, imageSize);
        return;
    }
    m_flashOpen = true;
    m_flashModule = payload[0];
    m_flashImage.assign(imageSize, 0xFF);
    Confirm(kFlashStart);
}

void CSimDevice::HandleFlashWrite(const std::uint8_t* payload, std::size_t size)
{
    if (size < 10 || !m_flashOpen || payload[0] != m_flashModule) {
        SendModuleError(kErrorNoTransfer, size >= 1 ? payload[0] : 0);
        return;
    }
    const std::uint8_t packetNumber = payload[1];
    const std::uint32_t offset = Get32(payload + 2);
    const std::uint32_t crc = Get32(payload + 6);
    const std::uint8_t* piece = payload + 10;
    const std::size_t pieceSize = size - 10;
    if (offset > m_flashImage.size() || pieceSize > m_flashImage.size() - offset) {
        SendModuleError(kErrorOutOfRange, offset);
        return;
    }
    const std::uint32_t actual = Crc32(piece, pieceSize);
    if (actual != crc) {
        SendModuleError(kErrorPieceCrc, actual);
        return;
    }
    std::copy_n(piece, pieceSize, m_flashImage.begin() + offset);
    Confirm(kFlashWrite, packetNumber);
}

void CSimDevice::HandleFlashFinish(const std::uint8_t* payload, std::size_t size)
{
    if (size != 5 || !m_flashOpen || payload[0] != m_flashModule) {
        SendModuleError(kErrorNoTransfer, size >= 1 ? payload[0] : 0);
        return;
    }
    m_flashOpen = false;
    const std::uint32_t actual = Crc32(m_flashImage.data(), m_flashImage.size());
    if (actual != Get32(payload + 1)) {
        SendModuleError(kErrorImageCrc, actual);
        return;
    }
    CanDriver* driver = FindCanDriver(m_flashModule);
    std::uint16_t version = driver->mainAfterUpdate;
    int major = 0;
    int minor = 0;
    int build = 0;
    if (version == 0 && ReadVersion(FindVersionText(m_flashImage), major, minor, build))
        version = static_cast<std::uint16_t>(major * 100 + minor);
    if (version != 0)
        driver->main = version;
    Confirm(kFlashFinish);
}

void CSimDevice::SendCCPU(std::uint8_t delimiter, std::uint16_t id, const std::vector<std::uint8_t>& payload)
{
    Outgoing packet;
    packet.delimiter = delimiter;
    packet.id = id;
    packet.delay = m_delay;
    packet.bytes = {delimiter, static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
        static_cast<std::uint8_t>(payload.size()), static_cast<std::uint8_t>(payload.size() >> 8), 0, 0};
    packet.bytes.insert(packet.bytes.end(), payload.begin(), payload.end());
    if (!payload.empty())
        packet.bytes.push_back(0);
    m_checksums.CalculateChecksums(packet.bytes.data(), packet.bytes.size());
    if (m_out)
        m_out->push_back(std::move(packet));
}

void CSimDevice::SendMCPU(std::uint8_t id, const std::vector<std::uint8_t>& payload)
{
    Outgoing packet;
    packet.delimiter = m_moduleDelimiter;
    packet.id = id;
    packet.delay = m_delay;
    packet.bytes = {m_moduleDelimiter, id, static_cast<std::uint8_t>(payload.size()), 0};
    packet.bytes.insert(packet.bytes.end(), payload.begin(), payload.end());
    packet.bytes.resize(packet.bytes.size() + (m_moduleDelimiter == ZEL_DELIMITER_MCPU ? 1 : 2));
    m_checksums.CalculateChecksums(packet.bytes.data(), packet.bytes.size());
    if (m_out)
        m_out->push_back(std::move(packet));
}

void CSimDevice::Confirm(std::uint8_t id, std::optional<std::uint8_t> packetNumber)
{
    Bytes payload{id};
    if (packetNumber)
        payload.push_back(*packetNumber); // flash writes echo their packet number
    SendMCPU(kModuleConfirm, payload);
}

void CSimDevice::SendModuleError(std::uint8_t code, std::uint32_t data)
{
    Bytes payload{code};
    Put32(payload, data);
    SendMCPU(kModuleError, payload);
}
