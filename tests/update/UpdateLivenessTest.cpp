// The thread monitor watches the update thread through a run whose waits are each within their
// bounds but together last longer than the hang threshold: such a run must never count as hung.
#include "UpdaterTestSupport.h"

#include "app/core/CUpdateProcedures.h"
#include "zel/threads/CZELThreadMonitor.h"

#include <gtest/gtest.h>

using namespace UpdaterTest;

namespace {

// A five-hundredth of the shipped times: the hang threshold is 1.8 s, while a poll cannot go below
// 1 ms, so an expander's 1000 rounds of waiting for its answer take a whole second.
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ScaledTimesWithHub(500));

// Answers Yes, and from then on the device ignores every request.
class FallSilentView : public RecordingView
{
public:
    explicit FallSilentView(SimLink& link)
        : m_link(link)
    {
        answer = ZEL_IDYES;
    }
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned int style) override
    {
        if ((style & 0x0F) == ZEL_MB_YESNO)
            m_link.silent = true; // the update thread does not run yet
        return RecordingView::ShowMessageBox(text, caption, style);
    }

private:
    SimLink& m_link;
};

CSimDevice::Settings ThreeExpanders()
{
    CSimDevice::Settings settings;
    EXPECT_TRUE(CSimDevice::ApplyHardwareName("QTR-1", settings));
    settings.versions[CSimDevice::Processor::CCPU] = "V 02.09.30";
    for (const std::uint16_t type : { 33, 34, 35 })
        settings.expanders.push_back({ type, "V 02.03.00", {} });
    return settings;
}

} // namespace

TEST(UpdateThreadLiveness, ExpandersThatNeverAnswerKeepTheThreadAlive)
{
    SimLink link(ThreeExpanders());
    FallSilentView view(link);
    CZELCommandSet commands;
    LogRecorder log;
    CUpdaterDlg dialog(view, link, commands, "./NoFirmware", log.Sink());
    CUpdateProcedures procedures(dialog);
    // The catalogue's slot names no real file: the check of the PC side is not what this is about.
    dialog.SetPreflightProcedure(nullptr);
    AddFirmware(dialog.GetCatalogue(), CUpdateProcedures::SLOT_ECPU, "V 09.00.00");
    dialog.GetCatalogue().Slot(CUpdateProcedures::SLOT_ECPU).header.payloadSize = 4096;
    ASSERT_EQ(dialog.StartMessageQueue(), ZEL_STATUS_SUCCESS);
    ASSERT_EQ(GetZELThreadMonitor().Initialize(), ZEL_STATUS_SUCCESS);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(dialog.StartUpdate(), StartOutcome::UpdateStarted);
    const bool ended = dialog.WaitForUpdateThread(60s);
    const auto lasted = std::chrono::steady_clock::now() - start;
    GetZELThreadMonitor().Terminate();
    dialog.StopMessageQueue();
    ASSERT_TRUE(ended);

    // Each expander waited out its rounds: together longer than the threshold.
    std::vector<TargetOutcome> outcomes;
    for (const TargetResult& result : dialog.GetTargetResults())
        outcomes.push_back(result.outcome);
    EXPECT_EQ(outcomes, std::vector<TargetOutcome>(3, TargetOutcome::NotStarted));
    EXPECT_GT(lasted, ZELTimes().threadHangThreshold);
    EXPECT_FALSE(GetZELThreadMonitor().IsObjectTimeout());
}
