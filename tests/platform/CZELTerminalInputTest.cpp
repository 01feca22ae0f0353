// Answers read from a pseudo-terminal in its line mode, and questions withdrawn by another thread.
#include "zel/platform/CZELTerminalInput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace {

using Result = CZELTerminalInput::Result;

// A terminal whose keyboard is the test: keys written to the master arrive on the slave as typed.
class TerminalFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(::grantpt(m_master), 0);
        ASSERT_EQ(::unlockpt(m_master), 0);
        m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_slave, 0);
    }
    void TearDown() override
    {
        ::close(m_slave);
        ::close(m_master);
    }
    void Type(const std::string& keys)
    {
        ASSERT_EQ(::write(m_master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // ReadLine on a thread of its own, so that a read that never returns fails the test.
    std::future<Result> ReadLater(CZELTerminalInput& input, std::string& line)
    {
        return std::async(std::launch::async, [&input, &line] { return input.ReadLine(line); });
    }
    static Result Within(std::future<Result>& read)
    {
        if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
            ADD_FAILURE() << "the read did not return";
        return read.get();
    }

    int m_master = -1;
    int m_slave = -1;
};

} // namespace

TEST_F(TerminalFixture, AWholeLineIsTheAnswerWithoutItsEnd)
{
    CZELTerminalInput input(m_slave);
    std::string line;
    std::future<Result> read = ReadLater(input, line);
    Type("ja");
    Type("\r"); // Enter: the terminal hands the line over only now
    EXPECT_EQ(Within(read), Result::Line);
    EXPECT_EQ(line, "ja");
}

TEST_F(TerminalFixture, AWithdrawnQuestionReturnsWithoutInput)
{
    CZELTerminalInput input(m_slave);
    std::string line;
    std::future<Result> read = ReadLater(input, line);
    input.Withdraw();
    EXPECT_EQ(Within(read), Result::Withdrawn);

    // The next question waits for its own answer again.
    read = ReadLater(input, line);
    Type("n\r");
    EXPECT_EQ(Within(read), Result::Line);
    EXPECT_EQ(line, "n");
}

// Each withdrawal ends one wait, also one that had not begun; Reset forgets those no wait took.
TEST_F(TerminalFixture, EachWithdrawalEndsOneWaitUntilReset)
{
    CZELTerminalInput input(m_slave);
    std::string line;
    input.Withdraw();
    input.Withdraw();
    EXPECT_EQ(input.ReadLine(line), Result::Withdrawn);
    input.Reset();
    std::future<Result> read = ReadLater(input, line);
    Type("y\r");
    EXPECT_EQ(Within(read), Result::Line);
    EXPECT_EQ(line, "y");
}

TEST_F(TerminalFixture, CtrlDOnAnEmptyLineEndsTheInput)
{
    CZELTerminalInput input(m_slave);
    std::string line;
    std::future<Result> read = ReadLater(input, line);
    Type("\x04");
    EXPECT_EQ(Within(read), Result::Ended);
}

// Only the terminal of the process's own foreground job is read: neither a terminal that is not
// the process's own nor a pipe is asked.
TEST_F(TerminalFixture, OnlyTheForegroundJobsTerminalIsInteractive)
{
    EXPECT_FALSE(CZELTerminalInput(m_slave).IsInteractive());
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    EXPECT_FALSE(CZELTerminalInput(pipe[0]).IsInteractive());
    ::close(pipe[0]);
    ::close(pipe[1]);
}
