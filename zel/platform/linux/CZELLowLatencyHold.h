#pragma once

#include <string>

// Low latency on a USB serial adapter for as long as the program holds its port. Such an adapter
// (FTDI's, whose driver turns ASYNC_LOW_LATENCY into a 1 ms latency timer) otherwise keeps received
// bytes up to 16 ms before it sends them on; the bootloader waits for three acknowledgements per
// block, each of which would pay that. The adapter's own setting comes back on release.
class CZELLowLatencyHold
{
public:
    // ASYNC_LOW_LATENCY of the serial drivers' flag word.
    static constexpr int kLowLatency = 1 << 13;

    // The port's flag word; each Set follows a Get. 0 or an errno.
    class Access
    {
    public:
        virtual ~Access() = default;
        virtual int Get(int& flags) = 0;
        virtual int Set(int flags) = 0;
    };

    // Whether the tty with the device number major:minor has a latency timer, as sysfs under
    // `sysfsRoot` (normally "/sys") shows it.
    static bool HasLatencyTimer(const std::string& sysfsRoot, unsigned int major, unsigned int minor);

    // Sets low latency unless it is set already. 0, or the errno of what failed; then nothing is
    // held and nothing will be restored.
    int Take(Access& port);
    // Clears low latency again if Take set it, keeping whatever else changed meanwhile. 0 or the
    // errno; either way nothing is held afterwards.
    int Release(Access& port);
    bool Holding() const { return m_holding; }

private:
    bool m_holding = false;
};
