#include "UpdaterTestSupport.h"

#include "zel/foundation/CZELTimeTable.h"

#include <future>

using namespace UpdaterTest;

namespace {

class Waits : public ::testing::Test
{
protected:
    Waits()
    {
        link.silent = true;
        link.InitializeReceivingThread();
        EXPECT_EQ(dialog.StartMessageQueue(), ZEL_STATUS_SUCCESS);
    }
    ~Waits() override { dialog.StopMessageQueue(); }

    RecordingView view;
    SimLink link;
    CZELCommandSet commands;
    LogRecorder log;
    CUpdaterDlg dialog{view, link, commands, "./NoFirmware", log.Sink()};
    std::uint8_t request[512] = {};
    std::uint32_t length = 0;
};

} // namespace

// Resent after each interval, given up after the time-out: 5 s / 11 s, the module list 10 s / 22 s.
TEST_F(Waits, ResendScheduleAndTimeOut)
{
    struct Case
    {
        const char* name;
        bool flash;
        long first;
        std::chrono::milliseconds resend;
        std::chrono::milliseconds timeout;
    };
    const CZELTimeTable& times = ZELTimes();
    const Case cases[] = {
        { "request step", false, 1, times.requestResend, times.requestTimeout },
        { "module list", false, 17, times.moduleListResend, times.moduleListTimeout },
        { "flash step", true, 2, times.requestResend, times.requestTimeout },
    };
    length = commands.PrepareReqGetExpanders(request);
    for (const Case& c : cases) {
        const std::size_t before = link.CountSent(0x0013);
        const auto start = std::chrono::steady_clock::now();
        const long result = c.flash ? dialog.WaitForFlashStep(c.first, c.first + 1, request, length)
                                    : dialog.WaitForRequestStep(c.first, c.first + 1, request, length);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(result, ZEL_STATUS_NO_CONNECTION) << c.name;
        ExpectResends(link.CountSent(0x0013) - before, c.resend, c.timeout, elapsed, c.name);
        EXPECT_GE(elapsed, c.timeout) << c.name;
    }
}

TEST_F(Waits, TheAnswerEndsTheWaitAtOnce)
{
    length = commands.PrepareReqGetExpanders(request);
    dialog.ArmRequestStep(9);
    const auto start = std::chrono::steady_clock::now();
    auto wait = std::async(std::launch::async, [&] { return dialog.WaitForRequestStep(9, 10, request, length); });
    const Bytes answer = Ack(0x42, 0x4013, { 0 });
    PublishReceived(answer.data(), answer.size());
    ASSERT_EQ(wait.wait_for(kWait), std::future_status::ready);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(wait.get(), ZEL_STATUS_SUCCESS);
    // Resent only if the answer took a whole interval to get through.
    EXPECT_LE(link.CountSent(0x0013), static_cast<std::size_t>(elapsed / ZELTimes().requestResend));
}

// An answer that arrives before the wait starts is kept when the step was armed before the request.
TEST_F(Waits, AnArmedStepKeepsAnEarlyAnswer)
{
    length = commands.PrepareReqGetExpanders(request);
    dialog.ArmRequestStep(9);
    const Bytes answer = Ack(0x42, 0x4013, { 0 });
    dialog.ProcessMainProtocolPacket(answer.data(), answer.size());
    EXPECT_EQ(dialog.WaitForRequestStep(9, 10, request, length), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(link.CountSent(0x0013), 0u);

    // Without arming, the step of an earlier exchange does not end a new wait.
    EXPECT_EQ(dialog.WaitForRequestStep(9, 10, request, length), ZEL_STATUS_NO_CONNECTION);
}

// A late answer to an earlier request never completes a later wait.
TEST_F(Waits, ALateAnswerDoesNotCompleteALaterWait)
{
    length = commands.PrepareReqGetProductionInfo(request);
    dialog.ArmRequestStep(5);
    const Bytes late = Ack(0x42, 0x4052, { 0 });
    dialog.ProcessMainProtocolPacket(late.data(), late.size());
    EXPECT_EQ(dialog.WaitForRequestStep(5, 6, request, length), ZEL_STATUS_NO_CONNECTION);
}
