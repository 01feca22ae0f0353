#pragma once

#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"

#include <QtGlobal>

#include <memory>
#include <string>

namespace ZELGuiTest {

// Only a failing test waits this long.
constexpr int kWaitMs = 20000;

// The simulator playing `json` on a pty; a scenario error or a failed start ends the test program.
inline std::unique_ptr<CSimServer> Serve(const std::string& json)
{
    CSimScenario scenario;
    std::string error;
    if (!CSimScenario::Parse(json, scenario, error))
        qFatal("scenario: %s", error.c_str());
    auto server = std::make_unique<CSimServer>(std::move(scenario));
    if (server->Start() != 0)
        qFatal("simulator did not start");
    return server;
}

} // namespace ZELGuiTest
