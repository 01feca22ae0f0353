#pragma once

#include <cstdint>
#include <memory>

// Message types published on the hub.
inline constexpr std::uint32_t ZEL_MESSAGE_SERIAL_DEVICE_ATTACHED = 0x10000001;
inline constexpr std::uint32_t ZEL_MESSAGE_SERIAL_DEVICE_DETACHED = 0x10000002;
inline constexpr std::uint32_t ZEL_MESSAGE_SERIAL_DATA_RECEIVED = 0x10000003; // serial-traffic record
inline constexpr std::uint32_t ZEL_MESSAGE_SERIAL_DATA_SENT = 0x10000004;     // serial-traffic record
inline constexpr std::uint32_t ZEL_MESSAGE_TRANSFER_PROGRESS = 0x20000001;    // one byte, percent done
inline constexpr std::uint32_t ZEL_MESSAGE_TRANSFER_PHASE = 0x20000002;       // one byte, ZEL_TRANSFER_PHASE_*
// The progress after a phase message counts that phase from 0 to 100 percent.
inline constexpr std::uint8_t ZEL_TRANSFER_PHASE_VERIFY = 1;

// A type number and a private copy of its bytes. Copies are deep; a copy from a message without
// bytes is a message without bytes.
class CZELMessage
{
public:
    CZELMessage() = default;
    // Copies `size` bytes from `source`; without a source (or when memory runs out) no buffer.
    CZELMessage(std::uint32_t type, const void* source, int size);
    CZELMessage(const CZELMessage& other);
    CZELMessage& operator=(const CZELMessage& other);
    // Takes the bytes over; the source is left without buffer.
    CZELMessage(CZELMessage&& other) noexcept;
    CZELMessage& operator=(CZELMessage&& other) noexcept;
    virtual ~CZELMessage();

    std::uint32_t GetMessageType() const { return m_type; }
    long SetMessageType(std::uint32_t type);
    int GetBufferSize() const { return m_size; }
    virtual void* GetBuffer();
    const void* GetBuffer() const { return m_buffer.get(); }

    // Replaces the bytes with a copy of `size` bytes from `source`. A null source changes nothing.
    // ZEL_STATUS_INVALID_PARAMETER for a negative size (the message is unchanged),
    // ZEL_STATUS_NO_MEMORY when the copy cannot be made (the message is left without buffer).
    virtual long SetBuffer(const void* source, int size);
    // Resizes keeping the leading bytes (new bytes are zero); returns the new size, or
    // ZEL_STATUS_NO_MEMORY / ZEL_STATUS_INVALID_PARAMETER with the buffer unchanged.
    int SetBufferSize(int size);

private:
    long CreateBuffer(const void* source, int size);
    void FreeBuffer();

    std::uint32_t m_type = 0;
    int m_size = 0;
    std::unique_ptr<std::uint8_t[]> m_buffer;
};
