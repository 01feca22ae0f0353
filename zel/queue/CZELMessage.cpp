#include "zel/queue/CZELMessage.h"

#include "zel/foundation/ZELStatus.h"

#include <algorithm>
#include <cstring>
#include <new>

CZELMessage::CZELMessage(std::uint32_t type, const void* source, int size)
    : m_type(type)
{
    if (source != nullptr)
        CreateBuffer(source, size);
}

CZELMessage::CZELMessage(const CZELMessage& other)
    : m_type(other.m_type)
{
    if (other.m_buffer)
        CreateBuffer(other.m_buffer.get(), other.m_size);
}

CZELMessage& CZELMessage::operator=(const CZELMessage& other)
{
    if (this == &other)
        return *this;
    m_type = other.m_type;
    if (other.m_buffer)
        SetBuffer(other.m_buffer.get(), other.m_size);
    else
        FreeBuffer();
    return *this;
}

CZELMessage::CZELMessage(CZELMessage&& other) noexcept
    : m_type(other.m_type)
    , m_size(other.m_size)
    , m_buffer(std::move(other.m_buffer))
{
    other.m_size = 0;
}

CZELMessage& CZELMessage::operator=(CZELMessage&& other) noexcept
{
    if (this != &other) {
        m_type = other.m_type;
        m_size = other.m_size;
        m_buffer = std::move(other.m_buffer);
        other.m_size = 0;
    }
    return *this;
}

CZELMessage::~CZELMessage() = default;

long CZELMessage::SetMessageType(std::uint32_t type)
{
    m_type = type;
    return ZEL_STATUS_SUCCESS;
}

void* CZELMessage::GetBuffer()
{
    return m_buffer.get();
}

long CZELMessage::SetBuffer(const void* source, int size)
{
    if (source == nullptr)
        return ZEL_STATUS_SUCCESS;
    return CreateBuffer(source, size);
}

int CZELMessage::SetBufferSize(int size)
{
    if (size == m_size)
        return size;
    if (size < 0)
        return static_cast<int>(ZEL_STATUS_INVALID_PARAMETER);
    if (size == 0) {
        FreeBuffer();
        return 0;
    }
    std::unique_ptr<std::uint8_t[]> resized(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size)]());
    if (!resized)
        return static_cast<int>(ZEL_STATUS_NO_MEMORY);
    if (m_buffer)
        std::memcpy(resized.get(), m_buffer.get(), static_cast<std::size_t>(std::min(size, m_size)));
    m_buffer = std::move(resized);
    m_size = size;
    return size;
}

long CZELMessage::CreateBuffer(const void* source, int size)
{
    if (size < 0)
        return ZEL_STATUS_INVALID_PARAMETER;
    // The source may lie inside the old buffer, so the copy is made before the old one goes.
    std::unique_ptr<std::uint8_t[]> copy;
    if (size > 0) {
        copy.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size)]);
        if (!copy) {
            FreeBuffer();
            return ZEL_STATUS_NO_MEMORY;
        }
        std::memcpy(copy.get(), source, static_cast<std::size_t>(size));
    }
    m_buffer = std::move(copy);
    m_size = size;
    return ZEL_STATUS_SUCCESS;
}

void CZELMessage::FreeBuffer()
{
    m_buffer.reset();
    m_size = 0;
}
