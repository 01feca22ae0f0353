#include "zel/foundation/CZELTimeTable.h"
#include "zel/queue/CZELMessageQueue.h"

#include <gtest/gtest.h>

namespace {

// Protocol times a fiftieth of the shipped ones: an 11 s time-out takes 220 ms.
class ScaledTimes : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ZELScaleTimesForTests(50);
        GetZELMessageQueue().Initialize(false);
    }
    void TearDown() override { GetZELMessageQueue().Terminate(); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ScaledTimes);

} // namespace
