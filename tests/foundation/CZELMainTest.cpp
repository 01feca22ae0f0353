#include "zel/foundation/CZELCommandLine.h"
#include "zel/foundation/CZELMain.h"
#include "zel/foundation/ZELStatus.h"

#include <gtest/gtest.h>

TEST(CZELMain, InformationIsEmptyUntilSet)
{
    CZELMain main;
    std::string name = "x";
    std::string version = "y";
    EXPECT_EQ(main.GetApplicationInformation(name, version), ZEL_STATUS_SUCCESS);
    EXPECT_EQ(name, "");
    EXPECT_EQ(version, "");

    EXPECT_EQ(main.SetApplicationInformation("Tarn Update", "V 01.00.00"), ZEL_STATUS_SUCCESS);
    main.GetApplicationInformation(name, version);
    EXPECT_EQ(name, "Tarn Update");
    EXPECT_EQ(version, "V 01.00.00");
}

TEST(CZELCommandLine, HandsOutTheProcessArguments)
{
    CZELCommandLine commandLine;
    std::string argument;
    ASSERT_EQ(commandLine.GetArgument(0, argument), ZEL_STATUS_SUCCESS);
    EXPECT_NE(argument.find("zel_foundation_tests"), std::string::npos) << argument;

    const int count = commandLine.GetArgumentCount();
    ASSERT_GE(count, 1);
    argument = "untouched";
    EXPECT_EQ(commandLine.GetArgument(count, argument), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(commandLine.GetArgument(-1, argument), ZEL_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(argument, "untouched");
}
