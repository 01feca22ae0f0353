#include "zel/stm32/CZELSTM32BootLoader.h"

#include "zel/foundation/CZELTimeTable.h"
#include "zel/foundation/ZELStatus.h"
#include "zel/serial/CZELSerialPort.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr int kOk = 0;
constexpr int kPortFailed = 1;
constexpr int kProtocolFailed = 2;
constexpr int kNoSync = 3;
constexpr int kRefused = 4;
constexpr int kNotOpen = 5;
constexpr int kMismatch = 6;

// Bound on the bytes thrown away before synchronising, so a device that keeps talking cannot
// hold the client forever.
constexpr int kMaxDrainBytes = 65536;

unsigned char Xor(const unsigned char* bytes, std::size_t count)
{
    unsigned char sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum ^= bytes[i];
    return sum;
}

CZELDeadline AnswerDeadline()
{
    return CZELDeadline(ZELTimes().stm32AnswerTimeout);
}

} // namespace

std::string CZELSTM32BootLoader::DescribeLastFailure() const
{
    std::string cause = DescribeFailureKind();
    // A refused or unanswered write or read is found again by the block it was for.
    const bool block = m_lastCommand == kWriteMemory || m_lastCommand == kReadMemory;
    if (block && m_failure != Failure::None && m_failure != Failure::SendRefused
        && m_failure != Failure::BlockNotAcknowledged && m_failure != Failure::PortNotOpen
        && m_failure != Failure::VerifyMismatch) {
        char where[40];
        std::snprintf(where, sizeof where, " (%s at 0x%08X)", m_lastCommand == kWriteMemory ? "write" : "read",
            m_lastAddress);
        cause += where;
    }
    return cause;
}

std::string CZELSTM32BootLoader::DescribeFailureKind() const
{
    char text[160];
    switch (m_failure) {
    case Failure::None: return "no failure";
    case Failure::PortNotOpen: return "the bootloader port is not open";
    case Failure::OpenFailed:
        std::snprintf(text, sizeof text, "the port could not be opened: %s", std::strerror(m_lastError));
        return text;
    case Failure::Timeout:
        std::snprintf(text, sizeof text, "no answer to command 0x%02X in time", m_lastCommand);
        return text;
    case Failure::ReadFailed:
        std::snprintf(text, sizeof text, "reading the answer to command 0x%02X failed: %s", m_lastCommand,
            std::strerror(m_lastError));
        return text;
    case Failure::WriteFailed:
        std::snprintf(text, sizeof text, "sending command 0x%02X failed: %s", m_lastCommand, std::strerror(m_lastError));
        return text;
    case Failure::PortLost:
        // The port's name may be long (a by-id link): it is not cut to the buffer.
        std::snprintf(text, sizeof text, " went away at command 0x%02X (adapter unplugged or cable pulled?): %s",
            m_lastCommand, std::strerror(m_lastError));
        return "the port " + m_port.Path() + text;
    case Failure::Nack:
        std::snprintf(text, sizeof text, "NACK (0x1F) to command 0x%02X", m_lastCommand);
        return text;
    case Failure::Unexpected:
        std::snprintf(text, sizeof text, "unexpected byte 0x%02X in the answer to command 0x%02X", m_lastByte & 0xFF,
            m_lastCommand);
        return text;
    case Failure::SendRefused:
        std::snprintf(text, sizeof text, "the device link did not take the request for 0x%08X: %s (%s)", m_lastAddress,
            m_lastError == ZEL_STATUS_BUSY ? "its port is busy or gone" : "the request was refused",
            GetZELStatusAsString(m_lastError).c_str());
        return text;
    case Failure::DeviceLinkGone:
        return "the port " + GetZELSerialPort().GetCOMPort()
            + " went away during the transfer and did not come back (adapter unplugged or cable pulled?)";
    case Failure::BlockNotAcknowledged:
        std::snprintf(text, sizeof text, "the device did not acknowledge the firmware block for 0x%08X", m_lastAddress);
        return text;
    case Failure::VerifyMismatch:
        std::snprintf(text, sizeof text, "the byte at 0x%08X reads 0x%02X, written 0x%02X", m_lastAddress,
            m_mismatchRead & 0xFF, m_mismatchWritten & 0xFF);
        return text;
    }
    return "unknown failure";
}

int CZELSTM32BootLoader::stm32_init(const char* portName, std::uint32_t baudRate)
{
    m_failure = Failure::None;
    const std::string path = CZELSerialDevice::ResolvePortName(portName != nullptr ? portName : "");
    const int error = m_port.Open(path, baudRate, CZELSerialDevice::Parity::Even);
    if (error != 0) {
        m_failure = Failure::OpenFailed;
        m_lastError = error;
        return kPortFailed;
    }
    return stm32h_connect_to_bl();
}

void CZELSTM32BootLoader::stm32_close()
{
    m_port.Close();
}

int CZELSTM32BootLoader::stm32h_connect_to_bl()
{
    m_lastCommand = kSync;
    if (!m_port.IsOpen()) {
        m_failure = Failure::PortNotOpen;
        return kNoSync;
    }
    // A processor just switched to its bootloader may need a while before it listens: 0x7F goes
    // out again until it is answered or the time is up.
    const CZELDeadline bound(ZELTimes().stm32SyncTimeout);
    for (int attempt = 1;; ++attempt) {
        const CZELDeadline answer(std::min(ZELTimes().stm32SyncAttempt, bound.Remaining()));
        if (TrySynchronise(answer) == kOk) {
            // A bootloader that answered an earlier 0x7F late also answers the later one: that
            // answer must not be taken for the next command's.
            if (attempt > 1)
                ReadByte(CZELDeadline(ZELTimes().stm32SyncAttempt));
            m_failure = Failure::None;
            return kOk;
        }
        const bool lineFailed = LineFailed() || m_failure == Failure::PortNotOpen;
        if (lineFailed || bound.Expired())
            return kNoSync;
    }
}

int CZELSTM32BootLoader::TrySynchronise(const CZELDeadline& answerDeadline)
{
    // Throw away whatever is waiting: an answer to an earlier attempt must not be taken for ours.
    for (int drained = 0; drained < kMaxDrainBytes; ++drained) {
        std::uint8_t byte = 0;
        std::size_t received = 0;
        if (m_port.Read(&byte, 1, received, CZELDeadline(std::chrono::milliseconds(0))) != CZELSerialDevice::IoResult::Done)
            break;
    }
    const unsigned char sync = kSync;
    if (!WriteBytes(&sync, 1))
        return kNoSync;
    const int answer = ReadByte(answerDeadline);
    // A NACK comes from a bootloader that was synchronised before: it listens all the same.
    if (answer == kAck || answer == kNack)
        return kOk;
    if (answer >= 0) {
        m_failure = Failure::Unexpected;
        m_lastByte = answer;
    }
    return kNoSync;
}

int CZELSTM32BootLoader::stm32h_send_command(unsigned char command)
{
    m_lastCommand = command;
    const unsigned char bytes[2] = {command, static_cast<unsigned char>(~command)};
    WriteBytes(bytes, sizeof bytes);
    return kOk;
}

int CZELSTM32BootLoader::stm32h_read_byte()
{
    return ReadByte(AnswerDeadline());
}

int CZELSTM32BootLoader::stm32h_send_packet_with_checksum(const unsigned char* bytes, std::uint32_t count)
{
    // One write for the bytes and their checksum: the bootloader sees them back to back.
    unsigned char frame[kMaxBlock + 2];
    if (count > kMaxBlock + 1) {
        const unsigned char checksum = Xor(bytes, count);
        return WriteBytes(bytes, count) && WriteBytes(&checksum, 1) ? kOk : kProtocolFailed;
    }
    std::memcpy(frame, bytes, count);
    frame[count] = Xor(bytes, count);
    return WriteBytes(frame, count + 1) ? kOk : kProtocolFailed;
}

int CZELSTM32BootLoader::stm32h_send_address(std::uint32_t address)
{
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(address >> 24),
        static_cast<unsigned char>(address >> 16),
        static_cast<unsigned char>(address >> 8),
        static_cast<unsigned char>(address),
    };
    return stm32h_send_packet_with_checksum(bytes, 4);
}

int CZELSTM32BootLoader::stm32_get_version(unsigned char* major, unsigned char* minor)
{
    if (const int result = SendCommandExpectAck(0x00); result != kOk)
        return result;
    const int count = stm32h_read_byte();
    if (count < 0)
        return kProtocolFailed;
    int version = -1;
    // N + 1 bytes follow: the version, then the command codes the bootloader knows.
    for (int i = 0; i <= count; ++i) {
        const int byte = stm32h_read_byte();
        if (byte < 0)
            return kProtocolFailed;
        if (i == 0)
            version = byte;
    }
    if (const int result = ExpectAck(); result != kOk)
        return result;
    if (major != nullptr)
        *major = static_cast<unsigned char>(version >> 4);
    if (minor != nullptr)
        *minor = static_cast<unsigned char>(version & 0x0F);
    return kOk;
}

int CZELSTM32BootLoader::stm32_get_chip_id(unsigned short* chipId)
{
    if (const int result = SendCommandExpectAck(0x02); result != kOk)
        return result;
    const int count = stm32h_read_byte();
    if (count < 0)
        return kProtocolFailed;
    if (count != 1) {
        m_failure = Failure::Unexpected;
        m_lastByte = count;
        return kProtocolFailed;
    }
    const int high = stm32h_read_byte();
    const int low = high < 0 ? -1 : stm32h_read_byte();
    if (low < 0)
        return kProtocolFailed;
    if (const int result = ExpectAck(); result != kOk)
        return result;
    if (chipId != nullptr)
        *chipId = static_cast<unsigned short>(high * 256 + low);
    return kOk;
}

int CZELSTM32BootLoader::stm32_write_unprotect()
{
    if (const int result = SendCommandExpectAck(0x73); result != kOk)
        return result;
    if (const int result = ExpectAck(); result != kOk)
        return result;
    // The bootloader restarts after lifting the protection and must be synchronised again.
    std::this_thread::sleep_for(ZELTimes().pauseMedium);
    return stm32h_connect_to_bl();
}

int CZELSTM32BootLoader::stm32_erase_flash()
{
    if (const int result = SendCommandExpectAck(0x43); result != kOk)
        return result;
    const unsigned char global[2] = {0xFF, 0x00};
    if (!WriteBytes(global, 2))
        return kProtocolFailed;
    return ExpectAck(CZELDeadline(ZELTimes().stm32EraseTimeout));
}

int CZELSTM32BootLoader::stm32_extended_erase_flash()
{
    if (const int result = SendCommandExpectAck(0x44); result != kOk)
        return result;
    // Special code 0xFFFF (mass erase) and its checksum.
    const unsigned char mass[3] = {0xFF, 0xFF, 0x00};
    if (!WriteBytes(mass, 3))
        return kProtocolFailed;
    return ExpectAck(CZELDeadline(ZELTimes().stm32EraseTimeout));
}

std::uint32_t CZELSTM32BootLoader::FillBlock(const ReadFunction& read, unsigned char* block)
{
    std::uint32_t n = 0;
    while (n < kMaxBlock) {
        const std::uint32_t got = read ? read(block + n, kMaxBlock - n) : 0;
        if (got == 0)
            break;
        if (got > kMaxBlock - n)
            return kMaxBlock + 1; // more than asked for: the caller refuses the image
        n += got;
    }
    return n;
}

int CZELSTM32BootLoader::stm32_write_flash(const ReadFunction& read, const ProgressFunction& progress)
{
    if (!m_port.IsOpen()) {
        m_failure = Failure::PortNotOpen;
        return kNotOpen;
    }
    static_assert(kMaxBlock % 4 == 0, "a filled block must stay within the largest block");
    std::uint32_t address = kFlashBase;
    std::uint32_t count = 0;
    unsigned char block[kMaxBlock + 1];
    for (;;) {
        const std::uint32_t n = FillBlock(read, block + 1);
        if (n == 0)
            return kOk;
        if (n > kMaxBlock) {
            m_failure = Failure::Unexpected;
            return kProtocolFailed;
        }
        // The bootloader programs whole words and refuses a count that is not a multiple of 4 on
        // several chips: the last block is filled up with erased bytes. The flash starts on a word
        // and holds whole words, so the fill never reaches past it when the image fits.
        const std::uint32_t length = (n + 3) & ~std::uint32_t(3);
        std::fill(block + 1 + n, block + 1 + length, static_cast<unsigned char>(0xFF));
        block[0] = static_cast<unsigned char>(length - 1);
        m_lastAddress = address;
        if (const int result = SendCommandExpectAck(kWriteMemory); result != kOk)
            return result;
        if (const int result = stm32h_send_address(address); result != kOk)
            return result;
        if (const int result = ExpectAck(); result != kOk)
            return result;
        if (const int result = stm32h_send_packet_with_checksum(block, length + 1); result != kOk)
            return result;
        if (const int result = ExpectAck(); result != kOk)
            return result;
        count += n;
        if (progress)
            progress(count);
        address += length;
    }
}

int CZELSTM32BootLoader::stm32_go_command()
{
    if (const int result = SendCommandExpectAck(0x21); result != kOk)
        return result;
    stm32h_send_address(kFlashBase);
    return ExpectAck();
}

int CZELSTM32BootLoader::stm32_read_memory(std::uint32_t address, unsigned char* buffer, std::uint32_t count)
{
    if (count == 0 || count > kMaxBlock) {
        m_failure = Failure::Unexpected;
        return kProtocolFailed;
    }
    m_lastAddress = address;
    if (const int result = SendCommandExpectAck(kReadMemory); result != kOk)
        return m_failure == Failure::Nack ? kRefused : result;
    if (const int result = stm32h_send_address(address); result != kOk)
        return result;
    if (const int result = ExpectAck(); result != kOk)
        return result;
    const unsigned char length[2] = {static_cast<unsigned char>(count - 1), static_cast<unsigned char>(~(count - 1))};
    if (!WriteBytes(length, sizeof length))
        return kProtocolFailed;
    if (const int result = ExpectAck(); result != kOk)
        return result;
    return ReadBytes(buffer, count) ? kOk : kProtocolFailed;
}

int CZELSTM32BootLoader::stm32_verify_flash(const ReadFunction& read, const ProgressFunction& progress)
{
    if (!m_port.IsOpen()) {
        m_failure = Failure::PortNotOpen;
        return kNotOpen;
    }
    std::uint32_t address = kFlashBase;
    std::uint32_t compared = 0;
    unsigned char image[kMaxBlock];
    unsigned char flash[kMaxBlock];
    for (;;) {
        const std::uint32_t n = FillBlock(read, image);
        if (n == 0)
            return kOk;
        if (n > kMaxBlock) {
            m_failure = Failure::Unexpected;
            return kProtocolFailed;
        }
        // Only the image is compared, not the erased bytes that filled up the last block.
        const int result = stm32_read_memory(address, flash, n);
        if (result == kRefused && compared != 0)
            return kProtocolFailed; // a bootloader that has been read from is not protected
        if (result != kOk)
            return result;
        const auto differs = std::mismatch(image, image + n, flash);
        if (differs.first != image + n) {
            m_failure = Failure::VerifyMismatch;
            m_lastAddress = address + static_cast<std::uint32_t>(differs.first - image);
            m_mismatchWritten = *differs.first;
            m_mismatchRead = *differs.second;
            return kMismatch;
        }
        compared += n;
        if (progress)
            progress(compared);
        // The same steps as the write, whose last block may have been filled up to a word.
        address += (n + 3) & ~std::uint32_t(3);
    }
}

int CZELSTM32BootLoader::SendCommandExpectAck(unsigned char command)
{
    m_lastCommand = command;
    if (!m_port.IsOpen()) {
        m_failure = Failure::PortNotOpen;
        return kNotOpen;
    }
    m_failure = Failure::None;
    stm32h_send_command(command);
    if (m_failure != Failure::None)
        return kProtocolFailed;
    return ExpectAck();
}

int CZELSTM32BootLoader::ExpectAck()
{
    return ExpectAck(AnswerDeadline());
}

int CZELSTM32BootLoader::ExpectAck(const CZELDeadline& deadline)
{
    if (m_failure == Failure::WriteFailed || m_failure == Failure::PortLost)
        return kProtocolFailed;
    const int answer = ReadByte(deadline);
    if (answer == kAck)
        return kOk;
    if (answer == kNack) {
        m_failure = Failure::Nack;
        m_lastByte = answer;
    } else if (answer >= 0) {
        m_failure = Failure::Unexpected;
        m_lastByte = answer;
    }
    return kProtocolFailed;
}

int CZELSTM32BootLoader::ReadByte(const CZELDeadline& deadline)
{
    std::uint8_t byte = 0;
    std::size_t received = 0;
    if (!TakeReadResult(m_port.Read(&byte, 1, received, deadline)))
        return -1;
    m_lastByte = byte;
    return byte;
}

bool CZELSTM32BootLoader::ReadBytes(unsigned char* buffer, std::size_t count)
{
    for (std::size_t got = 0; got < count;) {
        std::size_t received = 0;
        if (!TakeReadResult(m_port.Read(buffer + got, count - got, received, AnswerDeadline())))
            return false;
        got += received;
    }
    return true;
}

bool CZELSTM32BootLoader::TakeReadResult(CZELSerialDevice::IoResult result)
{
    switch (result) {
    case CZELSerialDevice::IoResult::Done:
        return true;
    case CZELSerialDevice::IoResult::TimedOut:
    case CZELSerialDevice::IoResult::Woken:
        m_failure = Failure::Timeout;
        return false;
    case CZELSerialDevice::IoResult::Closed:
        m_failure = Failure::PortNotOpen;
        return false;
    case CZELSerialDevice::IoResult::Gone:
        m_failure = Failure::PortLost;
        m_lastError = m_port.LastError();
        return false;
    case CZELSerialDevice::IoResult::Failed:
        m_failure = Failure::ReadFailed;
        m_lastError = m_port.LastError();
        return false;
    }
    return false;
}

bool CZELSTM32BootLoader::WriteBytes(const unsigned char* bytes, std::size_t count)
{
    std::size_t written = 0;
    const CZELSerialDevice::IoResult result = m_port.Write(bytes, count, written, AnswerDeadline());
    if (result == CZELSerialDevice::IoResult::Done)
        return true;
    if (m_failure != Failure::WriteFailed && m_failure != Failure::PortLost) {
        m_failure = result == CZELSerialDevice::IoResult::Gone ? Failure::PortLost : Failure::WriteFailed;
        m_lastError = m_port.LastError();
    }
    return false;
}

bool CZELSTM32BootLoader::LineFailed() const
{
    return m_failure == Failure::WriteFailed || m_failure == Failure::ReadFailed || m_failure == Failure::PortLost;
}
