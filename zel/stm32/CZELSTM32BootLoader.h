#pragma once

#include "zel/log/CZELSystemLogEx.h"
#include "zel/platform/CZELEvent.h"
#include "zel/platform/CZELSerialDevice.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Client of the STM32 ROM bootloader on a serial port (8E1), for the main flash at 0x08000000.
// The protocol operations return small result codes, not status codes:
//   0 success, 1 port not opened or configured, 2 protocol failure (answer missing, unreadable or
//   not ACK), 3 no valid answer to the synchronisation byte, 5 port not open.
// What exactly went wrong is kept in LastFailure() for the log.
class CZELSTM32BootLoader
{
public:
    // Fills `buffer` with up to `count` bytes of the image; 0 at its end.
    using ReadFunction = std::function<std::uint32_t(std::uint8_t* buffer, std::uint32_t count)>;
    // Told the number of bytes transferred so far; may be empty.
    using ProgressFunction = std::function<void(std::uint32_t transferred)>;

    static constexpr std::uint8_t kSync = 0x7F;
    static constexpr std::uint8_t kAck = 0x79;
    static constexpr std::uint8_t kNack = 0x1F;
    static constexpr std::uint32_t kFlashBase = 0x08000000;
    static constexpr std::uint32_t kMaxBlock = 256;
    static constexpr std::uint32_t kBaudRate = 115200;
    static constexpr unsigned char kWriteMemory = 0x31;
    static constexpr unsigned char kReadMemory = 0x11;

    enum class Failure
    {
        None,
        PortNotOpen,
        OpenFailed,  // errno in LastError()
        Timeout,     // no answer byte in time
        ReadFailed,  // errno in LastError()
        WriteFailed, // errno in LastError()
        PortLost,    // the port went away (adapter unplugged, cable pulled); errno in LastError()
        Nack,        // the bootloader refused
        Unexpected,  // some other byte, in LastByte()
        BlockNotAcknowledged, // the device never confirmed a firmware block
        SendRefused, // the device link refused a request; its status in LastError()
        VerifyMismatch, // a byte read back differs from the image; see MismatchAddress()
        DeviceLinkGone, // through the device: its port went away and did not come back
    };

    // What a bootloader says of itself.
    struct Identity
    {
        unsigned char major = 0;
        unsigned char minor = 0;
        unsigned short chipId = 0;
    };

    // The plain image every transfer writes into the current directory and leaves there.
    static constexpr const char* kTransferFileName = "temp.bin";

    CZELSTM32BootLoader() = default;
    CZELSTM32BootLoader(const CZELSTM32BootLoader&) = delete;
    CZELSTM32BootLoader& operator=(const CZELSTM32BootLoader&) = delete;
    virtual ~CZELSTM32BootLoader();

    // Flashes a processor whose bootloader listens on `portName`: decrypt, synchronise, check the
    // bootloader version, read the chip id, erase, write, (verify,) start. ZEL_STATUS_SUCCESS, the status of
    // the decryption when the file is not a sound firmware file (the port is then never opened),
    // or ZEL_STATUS_UNSPECIFIC_ERROR.
    long TransmitFirmware(const std::string& portName, const std::string& filePath);
    // Looks for a bootloader waiting on `portName` (8E1): one synchronisation byte, answered by ACK
    // or, by a bootloader synchronised before, NACK; then Get and Get ID. It costs little more than
    // two synchronisation attempts when nothing answers, and a device that is off or runs its
    // firmware sees only a byte it ignores. ZEL_STATUS_SUCCESS with `found` filled in,
    // ZEL_STATUS_NOT_FOUND when no bootloader answered, ZEL_STATUS_NO_CONNECTION when the port could
    // not be opened (the cause in LastFailure() and LastError()).
    long ProbeBootloader(const std::string& portName, Identity& found);
    // The bootloader of the last direct transfer, as far as it was read (zero before Get ID).
    Identity LastIdentity() const { return m_identity; }
    // Image bytes the last transfer had written (through the device: had acknowledged) when it
    // ended; a verify after the write does not change them.
    std::uint32_t LastBytesWritten() const { return m_bytesWritten; }

    // Flashes a processor that the device programs on our behalf: every write block goes out as a
    // send-firmware request over the device link, acknowledged through SetBlockAcknowledged.
    long TransmitFirmwareECPU(const std::string& filePath);

    // With it on, TransmitFirmware reads the written flash back and compares it with the image
    // before Go; a difference fails the transfer and leaves the processor in its bootloader. A
    // bootloader that refuses to be read (read-out protection) is only warned about. Off by default.
    void SetVerifyAfterWrite(bool verify) { m_verifyAfterWrite = verify; }
    bool GetVerifyAfterWrite() const { return m_verifyAfterWrite; }
    // Of the last direct transfer: the image was read back and matched; or the read-back was
    // asked for but the bootloader refused to be read (read-out protection).
    bool LastVerified() const { return m_verified; }
    bool LastVerifyRefused() const { return m_verifyRefused; }

    // Told by the packet handler that the device acknowledged a firmware block; wakes the
    // waiting transfer at once.
    void SetBlockAcknowledged(bool acknowledged);
    bool GetBlockAcknowledged() const { return m_blockAcknowledged; }

    Failure LastFailure() const { return m_failure; }
    int LastError() const { return m_lastError; }
    int LastByte() const { return m_lastByte; }
    // The bootloader command of the last exchange (0x7F for the synchronisation).
    unsigned char LastCommand() const { return m_lastCommand; }
    // Of the last VerifyMismatch: the first differing address, the byte read there and the image's.
    std::uint32_t MismatchAddress() const { return m_lastAddress; }
    int MismatchRead() const { return m_mismatchRead; }
    int MismatchWritten() const { return m_mismatchWritten; }
    // One line describing the last failure, such as "NACK (0x1F) to command 0x44".
    std::string DescribeLastFailure() const;

protected:
    int stm32_init(const char* portName, std::uint32_t baudRate);
    void stm32_close();
    int stm32h_connect_to_bl();
    int stm32h_send_command(unsigned char command);
    int stm32h_read_byte();
    int stm32h_send_packet_with_checksum(const unsigned char* bytes, std::uint32_t count);
    int stm32h_send_address(std::uint32_t address);
    int stm32_get_version(unsigned char* major, unsigned char* minor);
    int stm32_get_chip_id(unsigned short* chipId);
    int stm32_write_unprotect();
    int stm32_erase_flash();
    int stm32_extended_erase_flash();
    int stm32_write_flash(const ReadFunction& read, const ProgressFunction& progress);
    int stm32_go_command();
    // Read Memory of 1 to kMaxBlock bytes: 0, 2, 4 (the bootloader refuses the command itself, as
    // under read-out protection) or 5.
    int stm32_read_memory(std::uint32_t address, unsigned char* buffer, std::uint32_t count);
    // Reads the flash back block by block as stm32_write_flash wrote it and compares it with what
    // `read` delivers: 0, 2, 4 (refused before anything was read), 5, or 6 for a difference.
    int stm32_verify_flash(const ReadFunction& read, const ProgressFunction& progress);

    int stm32_write_flash_ECPU(const ReadFunction& read, const ProgressFunction& progress);
    int stm32_go_command_ECPU();

    // Hands a finished device request to the serial link, which fills in its sequence number and
    // checksums; the link's status. Tests replace the link.
    virtual long SendDeviceRequest(std::uint8_t* packet, std::uint32_t length);
    // How long the device link's port has been gone (zero while it is there).
    virtual std::chrono::milliseconds DeviceLinkGoneFor() const;

    bool IsPortOpen() const { return m_port.IsOpen(); }

private:
    // Sends the command and its complement and expects ACK.
    int SendCommandExpectAck(unsigned char command);
    // Reads one byte and expects ACK; `deadline` bounds the wait.
    int ExpectAck(const CZELDeadline& deadline);
    int ExpectAck();
    int ReadByte(const CZELDeadline& deadline);
    // Reads exactly `count` bytes; every byte may take up to the answer time. False on failure.
    bool ReadBytes(unsigned char* buffer, std::size_t count);
    // Maps a read's result to the failure kept for the log; true for Done.
    bool TakeReadResult(CZELSerialDevice::IoResult result);
    bool WriteBytes(const unsigned char* bytes, std::size_t count);
    // The line itself failed (a read, a write, the port gone), as opposed to the bootloader's answer.
    bool LineFailed() const;

    long AddOutput(const std::string& message, _ZELSystemLogExEventType type);
    long AddText(long text, _ZELSystemLogExEventType type);
    std::string DescribeFailureKind() const;
    // The protocol failure behind a failure text, for whoever reads the log.
    void AddFailureCause();
    // Decrypts the firmware file into the transfer file, opens and measures it.
    long PrepareTransferFile(const std::string& filePath);
    void CloseTransferFile();
    std::uint32_t ReadTransferFile(std::uint8_t* buffer, std::uint32_t count);
    // Publishes the share of the transfer file that `transferred` bytes make.
    void ReportProgress(std::uint32_t transferred);
    // Tells the front ends that the transfer enters another phase (ZEL_TRANSFER_PHASE_*).
    void ReportPhase(std::uint8_t phase);
    // The verify step of TransmitFirmware over the open transfer file; false when the transfer
    // must fail (the causes are logged).
    bool VerifyWrittenImage();
    // Sends a copy of a device request; the link's status (a refusal is kept as the failure).
    long SendRequestCopy(const std::uint8_t* request, std::uint32_t length);
    // Sends 0x7F and waits for the answer once.
    int TrySynchronise(const CZELDeadline& answerDeadline);
    // Fills `block` with up to kMaxBlock image bytes, asking `read` until the block is full or the
    // image ends; the number of image bytes.
    static std::uint32_t FillBlock(const ReadFunction& read, unsigned char* block);

    CZELSerialDevice m_port;
    std::FILE* m_transferFile = nullptr;
    std::uint32_t m_transferSize = 0;
    std::uint32_t m_progressThreshold = 1;
    std::atomic<bool> m_blockAcknowledged{false};
    CZELEvent m_blockAcknowledgedEvent;
    Failure m_failure = Failure::None;
    int m_lastError = 0; // errno, or the link's status for SendRefused
    int m_lastByte = -1;
    unsigned char m_lastCommand = 0;
    std::uint32_t m_lastAddress = 0;
    Identity m_identity;
    std::uint32_t m_bytesWritten = 0;
    int m_mismatchRead = -1;
    int m_mismatchWritten = -1;
    bool m_verifyAfterWrite = false;
    bool m_verified = false;
    bool m_verifyRefused = false;
};

CZELSTM32BootLoader& GetZELSTM32BootLoader();
