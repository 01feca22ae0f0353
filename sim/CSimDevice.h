#pragma once

#include "sim/CSimSTM32BootLoader.h"
#include "zel/commands/CZELCommandSet.h"
#include "zel/serial/CZELPacketFramer.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// One simulated device of the family as the update program sees it on its serial line: it frames the
// requests, answers them in the layouts of the command set, keeps the versions of its processors and
// hands the line to a processor's ROM bootloader after acknowledging its bootloader switch. It has no
// thread and does no I/O: the server feeds it bytes and sends what it gives back.
class CSimDevice
{
public:
    enum class Processor
    {
        CCPU,
        KCPU,
        LCPU,
        MCPU,
        ECPU, // the remote control's own ECPU (expander type 16)
        RCPU,
        WCPU,
        Veltrix,
        Ombra,
    };
    static constexpr std::size_t kProcessorCount = 9;

    // What answers on the line.
    enum class Family
    {
        Main,    // QTR, VHX: delimiter 0x42
        CCPU2,   // ZT Remote V2: delimiter 0x19
        Radio,   // radio modems: the 0x0C.. requests under 0x42
        Veltrix, // the Veltrix box alone: 0x05
        Ombra,   // the Ombra box alone: 0x85
        Module,  // an MCPU in module mode: the MCPU framing from the start
    };

    // Where the remote control's own ECPU reports that it enters its bootloader.
    enum class EcpuReadySource
    {
        Value,        // 0x4011, item 0x80, ready code 6
        Control,      // 0x4011, item 0x7F
        Notification, // 0x8011 with status 0 and item 0x7F
    };

    struct Expander
    {
        std::uint16_t type = 0;
        std::string version;
        std::string versionAfterUpdate; // empty: taken from the flashed image
    };

    struct CanDriver
    {
        std::uint8_t module = 1;
        std::uint16_t board = 100;
        std::uint16_t bootloader = 100;
        std::uint16_t main = 100;              // shown as V main/100.main%100.00
        std::uint16_t mainAfterUpdate = 0;     // 0: taken from the flashed image
    };

    struct Settings
    {
        std::string hardwareName = "QTR-1";
        std::uint16_t hardwareType = 0x1000;
        Family family = Family::Main;
        std::uint8_t protocolVersion = 2; // of the device-information answer
        std::string hardwareVersion = "HW 1.0";
        std::string serialNumber = "SIM-000001";
        std::string productionDate = "2024-01-15";
        std::string productionUser = "simulator";
        std::map<Processor, std::string> versions;
        std::map<Processor, std::string> versionsAfterUpdate; // empty: taken from the flashed image
        std::vector<Expander> expanders;
        // Answer of the prepare-firmware-update request.
        std::uint8_t fsCanConnections = 0;
        std::uint8_t ffCanConnections = 0;
        std::uint8_t lbusConnections = 0;
        std::uint8_t emergencyButton = 2; // 1 pressed, 2 released
        bool ombraPresent = false;
        std::uint16_t ombraType = 0x0080;
        bool veltrixPresent = false;
        std::uint16_t veltrixType = 0x0091;
        std::string modemVersion = "M 1.0";
        std::uint8_t channel = 1;
        std::uint8_t region = 0;
        std::uint8_t power = 3;
        std::vector<CanDriver> canDrivers;
        std::uint8_t boardState = 1;
        EcpuReadySource ecpuReadySource = EcpuReadySource::Value;
        std::chrono::milliseconds expanderRestart{0}; // from the expander's Go to "expanders found again"
        CSimSTM32BootLoader::Settings bootLoader;
    };

    // One packet (or raw bytes) for the line.
    struct Outgoing
    {
        std::vector<std::uint8_t> bytes;
        std::uint8_t delimiter = 0;
        std::uint16_t id = 0; // command id of the packet
        std::chrono::milliseconds delay{0};
    };

    // What to do with a complete request, asked before it is handled (the scenario's faults).
    struct Verdict
    {
        bool ignore = false;
        std::chrono::milliseconds delay{0}; // answers leave this much later
    };
    using RequestHook = std::function<Verdict(std::uint8_t delimiter, std::uint16_t id)>;

    CSimDevice();
    explicit CSimDevice(Settings settings);

    // Fills hardware type and family for a name ("QTR-1", "VHX-360", "ZT Remote V2", "EMIP400",
    // "Veltrix", "Ombra", "MCPU", ...); false for an unknown name.
    static bool ApplyHardwareName(const std::string& name, Settings& settings);
    static const char* ProcessorName(Processor processor);
    static std::optional<Processor> ProcessorFromName(const std::string& name);
    // The first "V dd.dd.dd" text in an image, or empty.
    static std::string FindVersionText(const std::vector<std::uint8_t>& image);
    // The MCPU board-information word that reads back as `version` ("V 03.03.04"); 0 when it is no version.
    static std::uint32_t BoardInfoWord(const std::string& version);

    void SetRequestHook(RequestHook hook) { m_hook = std::move(hook); }

    // Bytes from the line; answers are appended to `out`.
    void Receive(const std::uint8_t* data, std::size_t size, std::vector<Outgoing>& out);
    // Drops an unfinished request after the framer's silence.
    void CheckTimeout(std::chrono::steady_clock::time_point now);
    bool IsFramingPartialPacket() const { return m_framer.IsTimeoutPending(); }
    // After a disconnection: line state back to the start, processors and flash kept.
    void ResetLine();
    // The line is cut but the device keeps its power: a processor in its bootloader stays there.
    void CutLine();
    // True once after a bootloader's write pulled the cable; `away` is how long the line stays cut.
    bool TakeCablePull(std::chrono::milliseconds& away);

    const Settings& GetSettings() const { return m_settings; }
    std::string Version(Processor processor) const;
    bool InModuleMode() const { return m_moduleMode; }
    // The processor that owns the line through its bootloader, if any.
    std::optional<Processor> BootLoaderOwner() const { return m_lineOwner; }
    CSimSTM32BootLoader& BootLoader(Processor processor) { return m_bootLoaders[Index(processor)]; }
    const std::vector<std::uint8_t>& ExpanderImage() const { return m_expanderImage; }
    // The last image an expander of this type started with Go; empty when none.
    std::vector<std::uint8_t> ExpanderImage(std::uint16_t type) const
    {
        const auto found = m_expanderImages.find(type);
        return found == m_expanderImages.end() ? std::vector<std::uint8_t>{} : found->second;
    }
    std::vector<std::uint16_t> ExpanderTypesFlashed() const
    {
        std::vector<std::uint16_t> types;
        for (const auto& [type, image] : m_expanderImages)
            types.push_back(type);
        return types;
    }
    // The CAN driver image of the last module flash, as far as it was written.
    const std::vector<std::uint8_t>& ModuleFlashImage() const { return m_flashImage; }
    std::uint32_t UnansweredRequests() const { return m_unanswered; }
    const CZELPacketFramer::Counters& FramerCounters() const { return m_framer.GetCounters(); }

private:
    static std::size_t Index(Processor processor) { return static_cast<std::size_t>(processor); }

    void HandlePacket(const std::uint8_t* packet, std::size_t length);
    bool HandleMain(std::uint16_t id, const std::uint8_t* payload, std::size_t size);
    bool HandleRadio(std::uint16_t id);
    bool HandleCCPU2(std::uint16_t id);
    bool HandleBox(std::uint8_t delimiter, std::uint16_t id);
    bool HandleModule(std::uint8_t id, const std::uint8_t* payload, std::size_t size);
    void HandleControl(const std::uint8_t* payload, std::size_t size);
    void HandleReadMemory(const std::uint8_t* payload, std::size_t size);
    void HandleSendFirmware(const std::uint8_t* payload, std::size_t size);
    void HandleExpanderGo();
    void HandleFlashStart(const std::uint8_t* payload, std::size_t size);
    void HandleFlashWrite(const std::uint8_t* payload, std::size_t size);
    void HandleFlashFinish(const std::uint8_t* payload, std::size_t size);
    void EnterBootLoader(Processor processor);
    void FinishBootLoader();

    void SendCCPU(std::uint8_t delimiter, std::uint16_t id, const std::vector<std::uint8_t>& payload);
    void SendMCPU(std::uint8_t id, const std::vector<std::uint8_t>& payload);
    void Confirm(std::uint8_t id, std::optional<std::uint8_t> packetNumber = std::nullopt);
    void SendModuleError(std::uint8_t code, std::uint32_t data);
    void SendDeviceInfo();
    std::vector<std::uint8_t> HardwareInfoPayload() const;
    std::vector<std::uint8_t> ProductionInfoPayload() const;
    std::vector<std::uint8_t> IdentityPayload(std::uint16_t type, std::initializer_list<std::string> texts) const;
    std::string NewVersion(Processor processor, const std::vector<std::uint8_t>& image) const;
    CanDriver* FindCanDriver(std::uint8_t module);

    Settings m_settings;
    CZELPacketFramer m_framer;
    CZELCommandSet m_checksums; // sequence numbers and checksums of the answers
    RequestHook m_hook;
    std::vector<Outgoing>* m_out = nullptr;
    std::chrono::milliseconds m_delay{0};
    bool m_moduleMode = false;
    std::uint8_t m_moduleDelimiter = 0x24; // the framing the program speaks in module mode
    std::optional<Processor> m_lineOwner;
    std::optional<std::chrono::milliseconds> m_cablePull;
    bool m_cableWasPulled = false;
    std::array<CSimSTM32BootLoader, kProcessorCount> m_bootLoaders;
    std::uint32_t m_unanswered = 0;

    // Expander transfer through the device.
    int m_expanderInUpdate = -1; // index into the expanders
    std::vector<std::uint8_t> m_expanderImage;
    std::map<std::uint16_t, std::vector<std::uint8_t>> m_expanderImages;

    // Module flash of a CAN driver.
    bool m_flashOpen = false;
    std::uint8_t m_flashModule = 0;
    std::vector<std::uint8_t> m_flashImage;
};
