#pragma once

#include <chrono>

// Every protocol time of the system in one place, with the shipped values as defaults.
// Tests may scale the table down once, before any thread starts, through ScaleForTests; the
// shipped programs never call it. Counts (rounds, repetitions) are not scaled.
struct CZELTimeTable
{
    using ms = std::chrono::milliseconds;

    // Update workflow
    ms stepPoll{100};               // polls of a step counter or a ready flag
    ms requestResend{5000};         // resend of an unanswered request
    ms requestTimeout{11000};       // give up on an unanswered request
    ms moduleListResend{10000};     // resend of the MCPU module list request
    ms moduleListTimeout{22000};    // give up on the MCPU module list
    ms targetRound{10000};          // one round of waiting for a processor's ready flag
    ms pauseShort{100};
    ms pauseMedium{200};
    ms pauseLong{500};
    ms pauseRestart{4000};          // a processor restarting after its transfer
    ms expanderCollection{3000};    // collecting expander notifications
    ms expanderFoundRound{250};
    ms expanderFoundTimeout{10000};
    ms portReturnWindow{5000};      // a port gone during an update may come back this soon (a cable re-plugged)
    ms dialogTimer{500};

    // Serial link
    ms framerSilence{2000};         // an unfinished packet is dropped after this silence
    ms statisticsPeriod{1000};      // statistics and dump-mode line
    ms sendSlotWait{100};           // a sender waits this long for the one pending-packet slot
    ms portReopenPause{10};         // between attempts to reopen a port whose device went away
    ms radioStatisticsGap{1};       // a gap this long ends a burst of radio statistics bytes
    ms portListPoll{1000};          // where no event tells of ports coming and going, the port list
                                    // is compared this often

    // STM32 bootloader and firmware blocks
    ms stm32AnswerTimeout{5000};    // one answer byte
    // 0x7F is repeated this long for a bootloader still starting, each waiting this long for its
    // answer. Tests do not scale them: a loaded machine answers no sooner in a test, and an answer
    // later than its attempt would be taken for the next command's.
    ms stm32SyncTimeout{2000};
    ms stm32SyncAttempt{200};
    ms stm32QuietLine{20};          // a probe takes the line's answers as ended after this silence
    ms stm32EraseTimeout{120000};   // a whole erase
    ms ecpuBlockResend{5000};       // a firmware block the device has not acknowledged
    int ecpuBlockMaxResends = 12;

    // Threads and supervision
    ms workerLoopWait{500};         // longest wait of a worker loop per pass
    ms threadMonitorPeriod{500};
    ms threadHangThreshold{900000};

    // Crash handling
    ms secondFaultWait{2000};       // a fault numbered n waits n times this before its report
    ms fatalLogFlush{1000};         // a fatal end waits this long for the log to write its records
    ms crashReportLimit{30000};     // longest time for a crash report's symbolised back-trace; a
                                    // bound on work, so tests do not scale it

    // Message queue
    ms queuePopLockTimeout{100};    // a worker gives up on its queue's lock for this pass

    // Divides every time by `divisor` (at least 1 ms each).
    void ScaleForTests(int divisor);
};

// The process-wide table.
const CZELTimeTable& ZELTimes();

// The one test hook: scales the process-wide table down. Call before any module starts.
void ZELScaleTimesForTests(int divisor);
