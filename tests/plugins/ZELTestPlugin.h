#pragma once

// What the small test plug-ins record about the calls of their entry points. Each test plug-in
// library holds one instance and hands it out through ZELTestPluginGetCalls.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

struct ZELTestPluginCalls
{
    std::atomic<int> initialize{0};
    std::atomic<int> terminate{0};
    std::atomic<int> showDialog{0};
    std::atomic<int> processEvent{0};
    std::atomic<long> lastEvent{0};
    std::atomic<long> lastValue{-1};

    // Event 2 makes the plug-in call the manager from inside its entry point.
    long managerStatusFromEntry = 1;
    std::string nameFromEntry;

    // With holdDialog set, PluginShowDialog reports that it runs and waits until released.
    std::mutex mutex;
    std::condition_variable changed;
    bool holdDialog = false;
    bool dialogEntered = false;
    bool dialogReleased = false;
};

inline constexpr long kTestEventCallManager = 2;

using ZELTestPluginGetCallsEntry = ZELTestPluginCalls* (*)();
