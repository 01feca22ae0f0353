#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <set>
#include <vector>

// The STM32 ROM bootloader of one simulated processor: the USART protocol (synchronisation, Get,
// Get Version, Get ID, Read Memory, Go, Write Memory, Erase, Extended Erase, Write Unprotect,
// Readout Unprotect) over a model of the processor's flash. Bytes go in through Receive(); the
// answers come back from it. Like the real chip it refuses to program flash that is not erased.
class CSimSTM32BootLoader
{
public:
    struct Settings
    {
        std::uint8_t version = 0x31;      // 3.1: Extended Erase; below 3.0: Erase
        std::uint16_t chipId = 0x0413;
        std::uint32_t flashSize = 256 * 1024;
        std::uint32_t pageSize = 2048;
        std::set<std::uint8_t> nackCommands; // commands answered with NACK
        bool silent = false;                 // answers nothing at all
        std::uint8_t getIdCount = 1;         // N of the Get ID answer (1 on every real chip)
        // After a reset (the switch into the bootloader) the chip ignores the line this long.
        std::chrono::milliseconds readyDelay{0};
        // Write Memory of a count that is not a multiple of 4 is refused, as on several families.
        bool wholeWordWrites = true;
        // Writes that reach this address or above are refused, as in a write-protected sector; 0 for none.
        std::uint32_t protectedFrom = 0;
        // After this many accepted writes the cable is pulled, once a device: the line goes away for
        // `cableAway` while the processor keeps its power and stays in its bootloader; 0 for never.
        int cablePulledAfterWrites = 0;
        std::chrono::milliseconds cableAway{300};
        // The byte written at this address is stored XOR 0xFF, as by a failing flash cell; 0 for none.
        std::uint32_t corruptWriteAt = 0;
        // Read-out protection: Read Memory is refused (NACK) at its command byte.
        bool readProtected = false;
    };

    static constexpr std::uint32_t kFlashBase = 0x08000000;
    static constexpr std::uint32_t kRamBase = 0x20000000;

    CSimSTM32BootLoader();
    explicit CSimSTM32BootLoader(Settings settings);

    // Takes bytes from the line and returns what the bootloader answers; bytes that arrive before
    // the chip is ready are lost.
    std::vector<std::uint8_t> Receive(const std::uint8_t* data, std::size_t size);

    // Back to reset state: not synchronised, flash kept, ready after the ready delay from now.
    void Reset();

    bool IsSynchronised() const { return m_synchronised; }
    // True once Go has been accepted; the processor then runs its firmware and the bootloader is gone.
    bool HasStarted() const { return m_started; }
    std::uint32_t StartAddress() const { return m_startAddress; }
    const std::vector<std::uint8_t>& Flash() const { return m_flash; }
    // The programmed image: flash up to its last byte that is not erased.
    std::vector<std::uint8_t> ProgrammedImage() const;
    int EraseCount() const { return m_eraseCount; }
    int WriteCount() const { return m_writeCount; }
    // True once, when the write that pulls the cable has been accepted.
    bool TakeCablePull();
    int ReadCount() const { return m_readCount; }
    Settings& Configuration() { return m_settings; }

private:
    enum class Parse
    {
        NeedMore,
        Done,
    };

    Parse ProcessOne(std::vector<std::uint8_t>& out);
    Parse ReadAddress(std::size_t offset, std::uint32_t& address, bool& valid) const;
    bool InFlash(std::uint32_t address, std::uint32_t size) const;
    void ErasePages(std::uint32_t first, std::uint32_t count);

    Settings m_settings;
    std::vector<std::uint8_t> m_flash;
    std::vector<std::uint8_t> m_ram;
    std::deque<std::uint8_t> m_input;
    std::uint8_t m_command = 0; // command whose further bytes are awaited
    bool m_haveAddress = false;
    std::uint32_t m_address = 0;
    bool m_synchronised = false;
    bool m_started = false;
    std::uint32_t m_startAddress = 0;
    int m_eraseCount = 0;
    int m_writeCount = 0;
    bool m_cablePulled = false;
    int m_readCount = 0; // Read Memory commands received, refused ones included
    std::chrono::steady_clock::time_point m_readyAt;
};
