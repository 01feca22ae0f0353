#pragma once

// One whole update run against the simulated device over a pseudo-terminal, with firmware files
// packed from images that name their version.
#include "app/core/CSerialPortLink.h"
#include "app/core/CUpdaterApp.h"
#include "app/core/CUpdateProcedures.h"
#include "sim/CSimScenario.h"
#include "sim/CSimServer.h"
#include "support/ZELTestSupport.h"
#include "update/UpdaterTestSupport.h"
#include "zel/firmware/CZELFileHeader.h"
#include "zel/foundation/CZELLanguage.h"
#include "zel/log/CZELSystemLogEx.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ProceduresTest {

using UpdaterTest::Bytes;
using namespace std::chrono_literals;

constexpr auto kRunTimeout = 300s;

struct Firmware
{
    int type;
    const char* version;
    std::size_t size;
};

// A plain image that names its version (the simulator reports it after the flash) and does not end
// in an erased byte.
Bytes Image(const Firmware& file)
{
    Bytes image(file.size);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 31 + static_cast<std::size_t>(file.type) * 7);
    const std::size_t length = std::min(image.size(), std::strlen(file.version));
    std::memcpy(image.data(), file.version, length);
    image.back() = 0x5A;
    return image;
}

std::string FileName(int type)
{
    return "t" + std::to_string(type) + ".tarn";
}

void Pack(const Firmware& file)
{
    const Bytes image = Image(file);
    const std::string plain = "plain-" + std::to_string(file.type) + ".bin";
    ZELTest::WriteFile(plain, std::string(image.begin(), image.end()));
    _FILE_HEADER header {};
    header.fileType = static_cast<std::uint32_t>(file.type);
    std::strncpy(header.version, file.version, sizeof header.version - 1);
    ASSERT_EQ(GetZELFileHeader().CreateNewFile(plain, "Firmware/" + FileName(file.type), &header), 0);
}

// A view that notes when each status text was shown, and tells of every progress value.
class TimedView : public UpdaterTest::RecordingView
{
public:
    void SetProgress(int percent) override
    {
        RecordingView::SetProgress(percent);
        if (onProgress)
            onProgress(percent);
    }
    std::function<void(int)> onProgress;

    void SetStatusText(const std::string& text) override
    {
        {
            std::lock_guard lock(m_timesLock);
            m_times.emplace_back(std::chrono::steady_clock::now(), text);
        }
        RecordingView::SetStatusText(text);
    }
    // When `text` was first shown; the epoch when never.
    std::chrono::steady_clock::time_point When(const std::string& text) const
    {
        std::lock_guard lock(m_timesLock);
        for (const auto& [time, shown] : m_times)
            if (shown == text)
                return time;
        return {};
    }

private:
    mutable std::mutex m_timesLock;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> m_times;
};

class UpdateRun;

// What a test does to a run: before the start (after the firmware folder was read), and at each
// progress value the view shows.
struct RunHooks
{
    std::function<void(UpdateRun&)> beforeStart;
    std::function<void(UpdateRun&, int)> onProgress;
};

// One run as an operator who answers Yes; the server keeps the device for inspection.
class UpdateRun
{
public:
    UpdateRun(const std::string& scenarioJson, std::uint16_t protocol, bool mcpuMode,
        const std::vector<Firmware>& files, const RunHooks& hooks = {})
        : m_here(m_folder.Path())
    {
        std::filesystem::create_directories("Firmware");
        for (const Firmware& file : files)
            Pack(file);
        CSimScenario scenario;
        std::string error;
        EXPECT_TRUE(CSimScenario::Parse(scenarioJson, scenario, error)) << error;
        server = std::make_unique<CSimServer>(std::move(scenario));
        EXPECT_EQ(server->Start(), 0);

        GetZELLanguage().SetLanguage(ZEL_LANGUAGE_ENGLISH);
        GetZELSystemLogEx().SetFileFilter(0xFFFFFFFFu);
        view.answer = ZEL_IDYES;
        link.SetSerialPortSettings(server->Path(), link.GetBaudRateAsID());
        UpdaterSettings settings;
        settings.protocol = protocol;
        settings.mcpuMode = mcpuMode;
        dialog.SetSettings(settings);
        CUpdaterApp app(dialog);
        app.StartModules();
        dialog.ScanFirmwareFolder();
        if (hooks.beforeStart)
            hooks.beforeStart(*this);
        if (hooks.onProgress)
            view.onProgress = [this, &hooks](int percent) { hooks.onProgress(*this, percent); };
        outcome = dialog.StartUpdate();
        if (outcome == StartOutcome::UpdateStarted)
            finished = dialog.WaitForUpdateThread(kRunTimeout);
        const std::string path = GetZELSystemLogEx().GetFilePath();
        app.ShutdownModules();
        view.onProgress = nullptr;
        log = ZELTest::ReadFile(path);
    }

    ZELTest::ScopedLanguage m_language;
    ZELTest::ScopedLogFilters m_filters;
    ZELTest::TemporaryDirectory m_folder;
    ZELTest::ScopedCurrentDirectory m_here;
    std::unique_ptr<CSimServer> server;
    TimedView view;
    CSerialPortLink link;
    CUpdaterDlg dialog{view, link};
    CUpdateProcedures procedures{dialog};
    StartOutcome outcome = StartOutcome::Failed;
    bool finished = false;
    std::string log;
};


} // namespace ProceduresTest
