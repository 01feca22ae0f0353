#include "zel/foundation/CZELTimeTable.h"

#include <algorithm>

namespace {

CZELTimeTable& MutableTimes()
{
    static CZELTimeTable table;
    return table;
}

void Scale(std::chrono::milliseconds& value, int divisor)
{
    value = std::max(std::chrono::milliseconds(1), value / divisor);
}

} // namespace

void CZELTimeTable::ScaleForTests(int divisor)
{
    if (divisor <= 1)
        return;
    for (ms* value : {&stepPoll, &requestResend, &requestTimeout, &moduleListResend, &moduleListTimeout,
             &targetRound, &pauseShort, &pauseMedium, &pauseLong, &pauseRestart, &expanderCollection,
             &expanderFoundRound, &expanderFoundTimeout, &portReturnWindow, &dialogTimer, &framerSilence, &statisticsPeriod,
             &sendSlotWait, &portReopenPause, &radioStatisticsGap, &portListPoll,
             &stm32AnswerTimeout, &stm32EraseTimeout, &ecpuBlockResend, &workerLoopWait,
             &threadMonitorPeriod, &threadHangThreshold, &queuePopLockTimeout, &secondFaultWait, &fatalLogFlush})
        Scale(*value, divisor);
}

const CZELTimeTable& ZELTimes()
{
    return MutableTimes();
}

void ZELScaleTimesForTests(int divisor)
{
    MutableTimes().ScaleForTests(divisor);
}
