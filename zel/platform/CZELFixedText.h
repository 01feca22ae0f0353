#pragma once

#include <cstddef>
#include <cstdint>

// Text built in a fixed buffer without allocating, locking or touching the locale, so that a
// signal handler may use it. What does not fit is cut off; the text always ends with a zero.
class CZELFixedText
{
public:
    static constexpr std::size_t kCapacity = 4096;

    CZELFixedText& Append(const char* text)
    {
        if (text == nullptr)
            return *this;
        while (*text != '\0' && m_length + 1 < kCapacity)
            m_buffer[m_length++] = *text++;
        m_buffer[m_length] = '\0';
        return *this;
    }

    CZELFixedText& Append(char c)
    {
        const char text[2] = {c, '\0'};
        return Append(text);
    }

    // `value` in base 10 or 16 with at least `width` digits, padded with zeros.
    CZELFixedText& AppendUnsigned(std::uint64_t value, int width = 1, unsigned base = 10)
    {
        char digits[24];
        int count = 0;
        do {
            const unsigned digit = static_cast<unsigned>(value % base);
            digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
            value /= base;
        } while (value != 0 && count < 24);
        while (count < width && count < 24)
            digits[count++] = '0';
        char text[25];
        for (int i = 0; i < count; ++i)
            text[i] = digits[count - 1 - i];
        text[count] = '\0';
        return Append(text);
    }

    CZELFixedText& AppendSigned(std::int64_t value)
    {
        if (value < 0) {
            Append('-');
            return AppendUnsigned(static_cast<std::uint64_t>(-(value + 1)) + 1);
        }
        return AppendUnsigned(static_cast<std::uint64_t>(value));
    }

    // "0x" and `digits` hexadecimal digits.
    CZELFixedText& AppendHex(std::uint64_t value, int digits = 16)
    {
        Append("0x");
        return AppendUnsigned(value, digits, 16);
    }

    void Clear()
    {
        m_length = 0;
        m_buffer[0] = '\0';
    }

    const char* Text() const { return m_buffer; }
    std::size_t Length() const { return m_length; }

private:
    char m_buffer[kCapacity] = {};
    std::size_t m_length = 0;
};
