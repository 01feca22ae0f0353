// The two firmware transmissions: straight to a bootloader on the PC's port, and block by block
// through the device.

#include "zel/stm32/CZELSTM32BootLoader.h"

#include "zel/commands/CZELCommandSet.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/queue/CZELMessage.h"
#include "zel/queue/CZELMessageQueue.h"
#include "zel/serial/CZELSerialPort.h"

#include <array>
#include <thread>
#include <vector>

namespace {

// Texts of the bootloader's language module.
enum : long
{
    kTextFileNotOpened = 1,
    kTextPreparing = 2,
    kTextPrepared = 3,
    kTextNoConnection = 4,
    kTextNoVersion = 5,
    kTextVersion = 6,
    kTextVersionNotSupported = 7,
    kTextNoChipId = 8,
    kTextChipId = 9,
    kTextErasing = 16,
    kTextExtendedEraseFailed = 17,
    kTextExtendedErased = 18,
    kTextEraseFailed = 19,
    kTextErased = 20,
    kTextProgramming = 21,
    kTextProgrammingFailed = 22,
    kTextProgrammed = 23,
    kTextSendingGo = 24,
    kTextGoFailed = 25,
    kTextGoSent = 32,
    kTextVerifying = 33,
    kTextVerified = 34,     // %u: the bytes compared
    kTextVerifyFailed = 35,
    kTextVerifyMismatch = 36, // %08X address, %02X read, %02X written
    kTextReadProtected = 37,
};

constexpr int kLowestSupportedVersion = 0x201; // 2.1
constexpr int kExtendedEraseMajor = 3;
constexpr int kProtocolFailed = 2;
constexpr int kReadRefused = 4;

constexpr auto kError = ZEL_SYSTEM_LOG_EX_EVENT_ERROR;
constexpr auto kInformation = ZEL_SYSTEM_LOG_EX_EVENT_INFORMATION;
constexpr auto kWarning = ZEL_SYSTEM_LOG_EX_EVENT_WARNING;

const char* Text(long text)
{
    return GetZELLanguage().GetString(ZEL_MODULE_STM32_BOOTLOADER, text);
}

std::string Format(const char* format, auto... arguments)
{
    char line[512];
    std::snprintf(line, sizeof line, format, arguments...);
    return line;
}

} // namespace

CZELSTM32BootLoader::~CZELSTM32BootLoader()
{
    CloseTransferFile();
}

long CZELSTM32BootLoader::AddOutput(const std::string& message, _ZELSystemLogExEventType type)
{
    return GetZELSystemLogEx().AddOutput(message, type, "", "CZELSTM32BootLoader", "");
}

long CZELSTM32BootLoader::AddText(long text, _ZELSystemLogExEventType type)
{
    return AddOutput(Text(text), type);
}

void CZELSTM32BootLoader::AddFailureCause()
{
    if (m_failure != Failure::None)
        AddOutput(DescribeLastFailure(), ZEL_SYSTEM_LOG_EX_EVENT_DEBUG);
}

void CZELSTM32BootLoader::SetBlockAcknowledged(bool acknowledged)
{
    m_blockAcknowledged = acknowledged;
    if (acknowledged)
        m_blockAcknowledgedEvent.Set();
    else
        m_blockAcknowledgedEvent.Reset();
}

long CZELSTM32BootLoader::PrepareTransferFile(const std::string& filePath)
{
    CloseTransferFile();
    m_progressThreshold = 1;
    CZELFileHeader header;
    if (const long status = header.DecryptFile(filePath, kTransferFileName); status != ZEL_STATUS_SUCCESS) {
        AddOutput(Format("%s %s", Text(kTextFileNotOpened), filePath.c_str()), kError);
        return status;
    }
    m_transferFile = std::fopen(kTransferFileName, "rb");
    if (m_transferFile == nullptr) {
        AddOutput(Format("%s %s", Text(kTextFileNotOpened), kTransferFileName), kError);
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    AddText(kTextPreparing, kInformation);
    long size = -1;
    if (std::fseek(m_transferFile, 0, SEEK_END) == 0)
        size = std::ftell(m_transferFile);
    if (size < 0 || std::fseek(m_transferFile, 0, SEEK_SET) != 0 || static_cast<unsigned long>(size) > UINT32_MAX) {
        AddOutput(Format("%s %s", Text(kTextFileNotOpened), kTransferFileName), kError);
        CloseTransferFile();
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    m_transferSize = static_cast<std::uint32_t>(size);
    AddText(kTextPrepared, kInformation);
    return ZEL_STATUS_SUCCESS;
}

void CZELSTM32BootLoader::CloseTransferFile()
{
    if (m_transferFile != nullptr) {
        std::fclose(m_transferFile);
        m_transferFile = nullptr;
    }
}

std::uint32_t CZELSTM32BootLoader::ReadTransferFile(std::uint8_t* buffer, std::uint32_t count)
{
    if (m_transferFile == nullptr || std::feof(m_transferFile))
        return 0;
    return static_cast<std::uint32_t>(std::fread(buffer, 1, count, m_transferFile));
}

void CZELSTM32BootLoader::ReportProgress(std::uint32_t transferred)
{
    if (m_transferSize == 0)
        return;
    // Whole percent in 32 bits as the progress bars expect; the 64-bit product avoids the
    // wrap-around of images over 42 MB.
    const auto percent = static_cast<std::uint32_t>(std::uint64_t(transferred) * 100 / m_transferSize);
    if (percent < m_progressThreshold)
        return;
    ++m_progressThreshold;
    const auto value = static_cast<std::uint8_t>(percent);
    CZELMessage message(ZEL_MESSAGE_TRANSFER_PROGRESS, &value, 1);
    GetZELMessageQueue().Notify(message);
}

void CZELSTM32BootLoader::ReportPhase(std::uint8_t phase)
{
    CZELMessage message(ZEL_MESSAGE_TRANSFER_PHASE, &phase, 1);
    GetZELMessageQueue().Notify(message);
}

bool CZELSTM32BootLoader::VerifyWrittenImage()
{
    AddText(kTextVerifying, kInformation);
    if (m_transferFile == nullptr || std::fseek(m_transferFile, 0, SEEK_SET) != 0) {
        m_failure = Failure::None; // the image, not the chip, could not be read
        return false;
    }
    ReportPhase(ZEL_TRANSFER_PHASE_VERIFY);
    std::uint32_t compared = 0;
    const auto read = [this](std::uint8_t* buffer, std::uint32_t count) { return ReadTransferFile(buffer, count); };
    const auto progress = [this, &compared](std::uint32_t done) {
        compared = done;
        ReportProgress(done);
    };
    const int result = stm32_verify_flash(read, progress);
    m_progressThreshold = 1;
    if (result == kReadRefused) {
        AddText(kTextReadProtected, kWarning);
        m_failure = Failure::None;
        m_verifyRefused = true;
        return true;
    }
    if (result != 0) {
        if (m_failure == Failure::VerifyMismatch)
            AddOutput(Format(Text(kTextVerifyMismatch), MismatchAddress(), m_mismatchRead, m_mismatchWritten), kError);
        return false;
    }
    AddOutput(Format(Text(kTextVerified), static_cast<unsigned>(compared)), kInformation);
    m_verified = true;
    return true;
}

long CZELSTM32BootLoader::TransmitFirmware(const std::string& portName, const std::string& filePath)
{
    m_identity = {};
    m_bytesWritten = 0;
    m_verified = false;
    m_verifyRefused = false;
    if (const long status = PrepareTransferFile(filePath); status != ZEL_STATUS_SUCCESS)
        return status;

    const auto fail = [this](long text) {
        AddText(text, kError);
        AddFailureCause();
        stm32_close();
        CloseTransferFile();
        m_progressThreshold = 1;
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    };

    if (stm32_init(portName.c_str(), kBaudRate) != 0)
        return fail(kTextNoConnection);

    unsigned char major = 0;
    unsigned char minor = 0;
    if (stm32_get_version(&major, &minor) != 0)
        return fail(kTextNoVersion);
    AddOutput(Format("%s %i.%i", Text(kTextVersion), major, minor), kInformation);
    m_identity.major = major;
    m_identity.minor = minor;
    if (major * 256 + minor < kLowestSupportedVersion)
        return fail(kTextVersionNotSupported);

    unsigned short chipId = 0;
    if (stm32_get_chip_id(&chipId) != 0)
        return fail(kTextNoChipId);
    AddOutput(Format("%s 0x%04X", Text(kTextChipId), chipId), kInformation);
    m_identity.chipId = chipId;

    if (major == kExtendedEraseMajor) {
        AddText(kTextErasing, kInformation);
        if (stm32_extended_erase_flash() != 0)
            return fail(kTextExtendedEraseFailed);
        AddText(kTextExtendedErased, kInformation);
    } else {
        if (stm32_erase_flash() != 0)
            return fail(kTextEraseFailed);
        AddText(kTextErased, kInformation);
    }

    AddText(kTextProgramming, kInformation);
    const auto read = [this](std::uint8_t* buffer, std::uint32_t count) { return ReadTransferFile(buffer, count); };
    const auto progress = [this](std::uint32_t transferred) {
        m_bytesWritten = transferred;
        ReportProgress(transferred);
    };
    if (stm32_write_flash(read, progress) != 0)
        return fail(kTextProgrammingFailed);
    AddText(kTextProgrammed, kInformation);
    m_progressThreshold = 1;
    // A chip that does not hold the image stays in its bootloader, ready for another attempt.
    if (m_verifyAfterWrite && !VerifyWrittenImage())
        return fail(kTextVerifyFailed);
    CloseTransferFile();

    AddText(kTextSendingGo, kInformation);
    if (stm32_go_command() != 0) {
        AddText(kTextGoFailed, kError);
        AddFailureCause();
        stm32_close();
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    AddText(kTextGoSent, kInformation);
    stm32_close();
    return ZEL_STATUS_SUCCESS;
}

long CZELSTM32BootLoader::TransmitFirmwareECPU(const std::string& filePath)
{
    m_bytesWritten = 0;
    if (const long status = PrepareTransferFile(filePath); status != ZEL_STATUS_SUCCESS)
        return status;

    AddText(kTextProgramming, kInformation);
    const auto read = [this](std::uint8_t* buffer, std::uint32_t count) { return ReadTransferFile(buffer, count); };
    const auto progress = [this](std::uint32_t transferred) { ReportProgress(transferred); };
    if (stm32_write_flash_ECPU(read, progress) != 0) {
        AddText(kTextProgrammingFailed, kError);
        AddFailureCause();
        CloseTransferFile();
        m_progressThreshold = 1;
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    AddText(kTextProgrammed, kInformation);
    m_progressThreshold = 1;
    CloseTransferFile();

    AddText(kTextSendingGo, kInformation);
    if (stm32_go_command_ECPU() != 0) {
        AddText(kTextGoFailed, kError);
        AddFailureCause();
        return ZEL_STATUS_UNSPECIFIC_ERROR;
    }
    AddText(kTextGoSent, kInformation);
    // The device needs a moment to pass the Go on before it is asked anything else.
    std::this_thread::sleep_for(ZELTimes().pauseShort);
    return ZEL_STATUS_SUCCESS;
}

long CZELSTM32BootLoader::SendRequestCopy(const std::uint8_t* request, std::uint32_t length)
{
    // The link stamps a new sequence number and checksums into the bytes it is given, so every
    // attempt starts from the unstamped request.
    std::array<std::uint8_t, 512> packet {};
    std::copy_n(request, length, packet.begin());
    const long status = SendDeviceRequest(packet.data(), length);
    if (status != ZEL_STATUS_SUCCESS) {
        m_failure = Failure::SendRefused;
        m_lastError = static_cast<int>(status);
    }
    return status;
}

int CZELSTM32BootLoader::stm32_write_flash_ECPU(const ReadFunction& read, const ProgressFunction& progress)
{
    m_failure = Failure::None;
    std::uint32_t address = kFlashBase;
    std::uint32_t count = 0;
    // Length byte, up to 256 data bytes, XOR: one Write Memory data frame of the bootloader.
    std::array<std::uint8_t, kMaxBlock + 2> block {};
    std::array<std::uint8_t, 512> request {};
    for (;;) {
        const std::uint32_t n = FillBlock(read, block.data() + 1);
        if (n == 0)
            return 0;
        if (n > kMaxBlock) {
            m_failure = Failure::Unexpected;
            return kProtocolFailed;
        }
        block[0] = static_cast<std::uint8_t>(n - 1);
        std::uint8_t sum = 0;
        for (std::uint32_t i = 0; i <= n; ++i)
            sum ^= block[i];
        block[n + 1] = sum;
        const std::uint16_t length = GetZELCommandSet().PrepareReqSendFirmware(
            request.data(), address, static_cast<std::uint16_t>(n + 2), block.data());
        m_lastAddress = address;

        // An acknowledgement of an earlier block's repetition must not count for this block.
        SetBlockAcknowledged(false);
        // A busy link takes the request at the next round; any other refusal is final.
        const auto send = [&] {
            const long status = SendRequestCopy(request.data(), length);
            return status == ZEL_STATUS_SUCCESS || status == ZEL_STATUS_BUSY;
        };
        if (!send())
            return kProtocolFailed;
        int resends = 0;
        while (!m_blockAcknowledgedEvent.Wait(ZELTimes().ecpuBlockResend)) {
            // A port that stays gone takes no block: resending for the rest of the minute is waiting for nothing.
            if (DeviceLinkGoneFor() >= ZELTimes().portReturnWindow) {
                m_failure = Failure::DeviceLinkGone;
                return kProtocolFailed;
            }
            if (resends == ZELTimes().ecpuBlockMaxResends) {
                // The last refusal, if the link never took the request, is the better cause.
                if (m_failure != Failure::SendRefused)
                    m_failure = Failure::BlockNotAcknowledged;
                return kProtocolFailed;
            }
            ++resends;
            m_failure = Failure::None;
            if (!send())
                return kProtocolFailed;
        }
        SetBlockAcknowledged(false);
        m_failure = Failure::None;
        count += n + 2;
        // The progress counts the frames; the image bytes are what the journal needs.
        m_bytesWritten = address + n - kFlashBase;
        if (progress)
            progress(count);
        address += n;
    }
}

int CZELSTM32BootLoader::stm32_go_command_ECPU()
{
    // Device request 0x0016 with the flash base as its payload; the link fills in bytes 5, 6, 11.
    std::uint8_t packet[12] = { 0x42, 0x16, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00 };
    m_failure = Failure::None;
    m_lastAddress = kFlashBase;
    return SendRequestCopy(packet, sizeof packet) == ZEL_STATUS_SUCCESS ? 0 : kProtocolFailed;
}

long CZELSTM32BootLoader::SendDeviceRequest(std::uint8_t* packet, std::uint32_t length)
{
    return GetZELSerialPort().SendCommand(packet, length);
}

std::chrono::milliseconds CZELSTM32BootLoader::DeviceLinkGoneFor() const
{
    return GetZELSerialPort().GoneFor();
}

long CZELSTM32BootLoader::ProbeBootloader(const std::string& portName, Identity& found)
{
    m_failure = Failure::None;
    const std::string path = CZELSerialDevice::ResolvePortName(portName);
    if (const int error = m_port.Open(path, kBaudRate, CZELSerialDevice::Parity::Even); error != 0) {
        m_failure = Failure::OpenFailed;
        m_lastError = error;
        return ZEL_STATUS_NO_CONNECTION;
    }
    m_lastCommand = kSync;
    // Answers still on their way (a bootloader answers whatever a program sent before, with NACKs)
    // must not be taken for the probe's: the line is read until it has gone quiet.
    const auto waitForQuiet = [this] {
        const CZELDeadline bound(ZELTimes().stm32SyncAttempt);
        while (!bound.Expired() && ReadByte(CZELDeadline(std::min(ZELTimes().stm32QuietLine, bound.Remaining()))) >= 0) {
        }
    };
    waitForQuiet();
    bool answered = TrySynchronise(CZELDeadline(ZELTimes().stm32SyncAttempt)) == 0;
    if (!answered && !LineFailed()) {
        // A bootloader left in the middle of a command (the cable went during a block) takes what
        // comes as the rest of it: enough synchronisation bytes end any command with a NACK, and
        // once the answers have stopped, one more byte is answered on its own.
        std::vector<unsigned char> flush(kMaxBlock + 8, kSync);
        if (WriteBytes(flush.data(), flush.size())) {
            waitForQuiet();
            answered = TrySynchronise(CZELDeadline(ZELTimes().stm32SyncAttempt)) == 0;
        }
    }
    if (answered)
        waitForQuiet();
    Identity identity;
    const bool identified = answered && stm32_get_version(&identity.major, &identity.minor) == 0
        && stm32_get_chip_id(&identity.chipId) == 0;
    stm32_close();
    if (!identified)
        return ZEL_STATUS_NOT_FOUND;
    found = identity;
    AddOutput(Format("A bootloader answers on %s: version %i.%i, chip 0x%04X", portName.c_str(), identity.major,
                  identity.minor, identity.chipId),
        kInformation);
    return ZEL_STATUS_SUCCESS;
}
