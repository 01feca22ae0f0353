#include "zel/foundation/CZELTimeTable.h"

#include <gtest/gtest.h>

namespace {

// Protocol times a twentieth of the shipped ones: a 10 s ready wait takes 500 ms, a 4000 ms pause
// 200 ms; long enough for the bootloader's answers under the sanitizers.
class ScaledTimes : public ::testing::Environment
{
public:
    void SetUp() override { ZELScaleTimesForTests(20); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ScaledTimes);

} // namespace
