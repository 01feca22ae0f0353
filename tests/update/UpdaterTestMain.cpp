#include "UpdaterTestSupport.h"

#include <gtest/gtest.h>

namespace {

// Protocol times a fiftieth of the shipped ones: an 11 s time-out takes 220 ms.
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new UpdaterTest::ScaledTimesWithHub(50));

} // namespace
