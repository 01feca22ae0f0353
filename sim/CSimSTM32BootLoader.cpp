#include "sim/CSimSTM32BootLoader.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::uint8_t kAck = 0x79;
constexpr std::uint8_t kNack = 0x1F;

} // namespace

CSimSTM32BootLoader::CSimSTM32BootLoader()
    : CSimSTM32BootLoader(Settings{})
{
}

CSimSTM32BootLoader::CSimSTM32BootLoader(Settings settings)
    : m_settings(std::move(settings))
    , m_flash(m_settings.flashSize, 0xFF)
    , m_ram(64 * 1024, 0)
    , m_readyAt(std::chrono::steady_clock::now() + m_settings.readyDelay)
{
}

void CSimSTM32BootLoader::Reset()
{
    m_synchronised = false;
    m_started = false;
    m_command = 0;
    m_input.clear();
    m_readyAt = std::chrono::steady_clock::now() + m_settings.readyDelay;
}

std::vector<std::uint8_t> CSimSTM32BootLoader::ProgrammedImage() const
{
    const auto last = std::find_if(m_flash.rbegin(), m_flash.rend(), [](std::uint8_t b) { return b != 0xFF; });
    return std::vector<std::uint8_t>(m_flash.begin(), last.base());
}

std::vector<std::uint8_t> CSimSTM32BootLoader::Receive(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> out;
    if (m_started)
        return out; // the firmware runs; the bootloader no longer listens
    if (std::chrono::steady_clock::now() < m_readyAt)
        return out; // still starting
    m_input.insert(m_input.end(), data, data + size);
    while (!m_input.empty() && !m_started && ProcessOne(out) == Parse::Done) {
    }
    if (m_settings.silent)
        out.clear();
    return out;
}

bool CSimSTM32BootLoader::InFlash(std::uint32_t address, std::uint32_t size) const
{
    return address >= kFlashBase && size <= m_flash.size() && address - kFlashBase <= m_flash.size() - size;
}

void CSimSTM32BootLoader::ErasePages(std::uint32_t first, std::uint32_t count)
{
    const std::uint32_t begin = std::min<std::uint32_t>(first * m_settings.pageSize, static_cast<std::uint32_t>(m_flash.size()));
    const std::uint32_t end = std::min<std::uint32_t>(begin + count * m_settings.pageSize, static_cast<std::uint32_t>(m_flash.size()));
    std::fill(m_flash.begin() + begin, m_flash.begin() + end, 0xFF);
    ++m_eraseCount;
}

CSimSTM32BootLoader::Parse CSimSTM32BootLoader::ReadAddress(std::size_t offset, std::uint32_t& address, bool& valid) const
{
    if (m_input.size() < offset + 5)
        return Parse::NeedMore;
    address = 0;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        address = (address << 8) | m_input[offset + i];
        sum ^= m_input[offset + i];
    }
    valid = sum == m_input[offset + 4];
    return Parse::Done;
}

CSimSTM32BootLoader::Parse CSimSTM32BootLoader::ProcessOne(std::vector<std::uint8_t>& out)
{
    const auto consume = [this](std::size_t n) { m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(n)); };

    if (!m_synchronised) {
        // Everything before the synchronisation byte is line noise to the bootloader.
        const std::uint8_t byte = m_input.front();
        consume(1);
        if (byte == 0x7F) {
            m_synchronised = true;
            out.push_back(kAck);
        }
        return Parse::Done;
    }
    if (m_command == 0 && m_input.front() == 0x7F) {
        consume(1);
        out.push_back(kNack); // already synchronised
        return Parse::Done;
    }
    if (m_command == 0) {
        if (m_input.size() < 2)
            return Parse::NeedMore;
        if (static_cast<std::uint8_t>(~m_input[0]) != m_input[1]) {
            consume(1);
            out.push_back(kNack);
            return Parse::Done;
        }
    }
    const bool extended = m_settings.version >= 0x30;
    if (m_command == 0) {
        // A new command: its byte and the complement, answered at once.
        const std::uint8_t command = m_input[0];
        consume(2);
        const bool known = std::string_view("\x00\x01\x02\x11\x21\x31\x43\x44\x73\x92", 10).find(char(command))
            != std::string_view::npos;
        if (command == 0x11)
            ++m_readCount;
        const bool refused = !known || m_settings.nackCommands.count(command) != 0 || (command == 0x43 && extended)
            || (command == 0x44 && !extended) || (command == 0x11 && m_settings.readProtected);
        if (refused) {
            out.push_back(kNack);
            return Parse::Done;
        }
        out.push_back(kAck);
        switch (command) {
        case 0x00: {
            const std::uint8_t commands[] = {0x00, 0x01, 0x02, 0x11, 0x21, 0x31,
                extended ? std::uint8_t(0x44) : std::uint8_t(0x43), 0x63, 0x73, 0x82, 0x92};
            out.push_back(static_cast<std::uint8_t>(std::size(commands)));
            out.push_back(m_settings.version);
            out.insert(out.end(), std::begin(commands), std::end(commands));
            out.push_back(kAck);
            return Parse::Done;
        }
        case 0x01:
            out.insert(out.end(), {m_settings.version, 0x00, 0x00, kAck});
            return Parse::Done;
        case 0x02:
            out.insert(out.end(), {m_settings.getIdCount, static_cast<std::uint8_t>(m_settings.chipId >> 8),
                                      static_cast<std::uint8_t>(m_settings.chipId), kAck});
            return Parse::Done;
        case 0x73:
        case 0x92:
            if (command == 0x92)
                ErasePages(0, static_cast<std::uint32_t>(m_flash.size() / m_settings.pageSize));
            out.push_back(kAck);
            m_synchronised = false; // the chip resets
            return Parse::Done;
        default:
            m_command = command; // more bytes to come
            m_haveAddress = false;
            return Parse::Done;
        }
    }

    const std::uint8_t command = m_command;
    if ((command == 0x11 || command == 0x21 || command == 0x31) && !m_haveAddress) {
        std::uint32_t address = 0;
        bool valid = false;
        if (ReadAddress(0, address, valid) == Parse::NeedMore)
            return Parse::NeedMore;
        consume(5);
        const bool inRam = address >= kRamBase && address - kRamBase < m_ram.size();
        if (!valid || (!InFlash(address, 1) && !inRam)) {
            m_command = 0;
            out.push_back(kNack);
            return Parse::Done;
        }
        out.push_back(kAck);
        if (command == 0x21) {
            m_command = 0;
            m_started = true;
            m_startAddress = address;
            return Parse::Done;
        }
        m_address = address;
        m_haveAddress = true;
        return Parse::Done;
    }

    switch (command) {
    case 0x11: {
        if (m_input.size() < 2)
            return Parse::NeedMore;
        const std::uint32_t count = m_input[0] + 1u;
        const bool countValid = static_cast<std::uint8_t>(~m_input[0]) == m_input[1];
        consume(2);
        m_command = 0;
        if (!countValid || !InFlash(m_address, count)) {
            out.push_back(kNack);
            return Parse::Done;
        }
        out.push_back(kAck);
        const auto begin = m_flash.begin() + (m_address - kFlashBase);
        out.insert(out.end(), begin, begin + count);
        return Parse::Done;
    }
    case 0x31: {
        // Length byte, data, XOR of both.
        if (m_input.empty())
            return Parse::NeedMore;
        const std::uint32_t count = m_input[0] + 1u;
        if (m_input.size() < 1 + count + 1)
            return Parse::NeedMore;
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < 1 + count; ++i)
            sum ^= m_input[i];
        const bool sumValid = sum == m_input[1 + count];
        std::vector<std::uint8_t> data(m_input.begin() + 1, m_input.begin() + 1 + count);
        consume(1 + count + 1);
        m_command = 0;
        const bool isProtected = m_settings.protectedFrom != 0 && m_address + count > m_settings.protectedFrom;
        if (!sumValid || !InFlash(m_address, count) || (m_settings.wholeWordWrites && count % 4 != 0) || isProtected) {
            out.push_back(kNack);
            return Parse::Done;
        }
        auto target = m_flash.begin() + (m_address - kFlashBase);
        // Flash bits only go from 1 to 0; programming a word that is not erased fails on the chip.
        if (!std::all_of(target, target + count, [](std::uint8_t b) { return b == 0xFF; })) {
            out.push_back(kNack);
            return Parse::Done;
        }
        std::copy(data.begin(), data.end(), target);
        const std::uint32_t corrupt = m_settings.corruptWriteAt;
        if (corrupt >= m_address && corrupt - m_address < count)
            target[corrupt - m_address] ^= 0xFF;
        ++m_writeCount;
        out.push_back(kAck);
        return Parse::Done;
    }
    case 0x43: {
        if (m_input.empty())
            return Parse::NeedMore;
        if (m_input[0] == 0xFF) {
            if (m_input.size() < 2)
                return Parse::NeedMore;
            const bool valid = m_input[1] == 0x00;
            consume(2);
            m_command = 0;
            if (valid)
                ErasePages(0, static_cast<std::uint32_t>(m_flash.size() / m_settings.pageSize));
            out.push_back(valid ? kAck : kNack);
            return Parse::Done;
        }
        const std::size_t pages = m_input[0] + 1u;
        if (m_input.size() < 1 + pages + 1)
            return Parse::NeedMore;
        std::uint8_t sum = m_input[0];
        for (std::size_t i = 0; i < pages; ++i)
            sum ^= m_input[1 + i];
        const bool valid = sum == m_input[1 + pages];
        std::vector<std::uint8_t> list(m_input.begin() + 1, m_input.begin() + 1 + static_cast<std::ptrdiff_t>(pages));
        consume(1 + pages + 1);
        m_command = 0;
        if (valid) {
            for (const std::uint8_t page : list)
                ErasePages(page, 1);
        }
        out.push_back(valid ? kAck : kNack);
        return Parse::Done;
    }
    case 0x44: {
        if (m_input.size() < 2)
            return Parse::NeedMore;
        const std::uint16_t code = static_cast<std::uint16_t>(m_input[0] << 8 | m_input[1]);
        if (code >= 0xFFFD) {
            if (m_input.size() < 3)
                return Parse::NeedMore;
            const bool valid = static_cast<std::uint8_t>(m_input[0] ^ m_input[1]) == m_input[2];
            consume(3);
            m_command = 0;
            if (valid)
                ErasePages(0, static_cast<std::uint32_t>(m_flash.size() / m_settings.pageSize));
            out.push_back(valid ? kAck : kNack);
            return Parse::Done;
        }
        const std::size_t pages = code + 1u;
        const std::size_t length = 2 + pages * 2 + 1;
        if (m_input.size() < length)
            return Parse::NeedMore;
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < length - 1; ++i)
            sum ^= m_input[i];
        const bool valid = sum == m_input[length - 1];
        std::vector<std::uint16_t> list;
        for (std::size_t i = 0; i < pages; ++i)
            list.push_back(static_cast<std::uint16_t>(m_input[2 + 2 * i] << 8 | m_input[3 + 2 * i]));
        consume(length);
        m_command = 0;
        if (valid) {
            for (const std::uint16_t page : list)
                ErasePages(page, 1);
        }
        out.push_back(valid ? kAck : kNack);
        return Parse::Done;
    }
    default:
        consume(2);
        out.push_back(kNack);
        return Parse::Done;
    }
}

bool CSimSTM32BootLoader::TakeCablePull()
{
    if (m_cablePulled || m_settings.cablePulledAfterWrites <= 0 || m_writeCount < m_settings.cablePulledAfterWrites)
        return false;
    m_cablePulled = true;
    return true;
}
