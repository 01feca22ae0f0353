// How `tarn sim` learns that it should end, for each kind of standard input it can be started with:
// a background job of an interactive shell must not be stopped by its terminal, and /dev/null (the
// input of a background job in a script) never ends it; the terminal of a foreground job still does.
#include "SimTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

using namespace SimTest;

namespace {

enum class Input
{
    DevNull,
    BackgroundTerminal, // the controlling terminal, whose foreground job is another one
    ForegroundTerminal,
};

// `tarn sim` in a session of its own, under a leader that waits for it and ends with its exit code.
class SimProcess
{
public:
    explicit SimProcess(Input input)
    {
        int out[2] = {-1, -1};
        int pid[2] = {-1, -1};
        if (::pipe(out) != 0 || ::pipe(pid) != 0)
            throw std::runtime_error("no pipe");
        std::string slave;
        if (input != Input::DevNull) {
            m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
            if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
                throw std::runtime_error("no pseudo-terminal");
            slave = ::ptsname(m_master);
        }
        const char* const inputPath = input == Input::DevNull ? "/dev/null" : slave.c_str();
        m_leader = ::fork();
        if (m_leader == 0) {
            // Only async-signal-safe calls from here on.
            ::setsid();
            // The session leader's first terminal becomes its controlling terminal, with the
            // leader's group in the foreground.
            const int in = ::open(inputPath, O_RDWR);
            const pid_t sim = ::fork();
            if (sim == 0) {
                if (input == Input::BackgroundTerminal)
                    ::setpgid(0, 0);
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(in, 0);
                ::dup2(out[1], 1);
                ::dup2(null, 2);
                ::execl(TARN_PROGRAM, TARN_PROGRAM, "sim", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            (void)!::write(pid[1], &sim, sizeof sim);
            int status = 0;
            ::waitpid(sim, &status, 0);
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        }
        ::close(out[1]);
        ::close(pid[1]);
        m_out = out[0];
        if (::read(pid[0], &m_sim, sizeof m_sim) != static_cast<ssize_t>(sizeof m_sim))
            m_sim = -1;
        ::close(pid[0]);
    }
    ~SimProcess()
    {
        if (m_leader > 0 && !m_waited) {
            if (m_sim > 0)
                ::kill(m_sim, SIGKILL);
            ::waitpid(m_leader, nullptr, 0);
        }
        ::close(m_out);
        if (m_master >= 0)
            ::close(m_master);
    }

    // The first line of standard output: the port.
    std::string Port()
    {
        std::string line;
        const CZELDeadline deadline(kWait);
        while (line.find('\n') == std::string::npos) {
            pollfd readable{m_out, POLLIN, 0};
            if (::poll(&readable, 1, static_cast<int>(deadline.Remaining().count())) <= 0)
                return {};
            char buffer[256];
            const ssize_t got = ::read(m_out, buffer, sizeof buffer);
            if (got <= 0)
                return {};
            line.append(buffer, static_cast<std::size_t>(got));
        }
        return line.substr(0, line.find('\n'));
    }
    void Signal(int signal) const { ::kill(m_sim, signal); }
    void Type(const std::string& text) const { (void)!::write(m_master, text.data(), text.size()); }
    // The simulator's exit code, or -1 when it is still running after the wait.
    int Wait()
    {
        const CZELDeadline deadline(kWait);
        pollfd closed{m_out, POLLIN, 0};
        // The leader's exit closes the last writer of the output pipe.
        while (!deadline.Expired()) {
            char discard[256];
            if (::poll(&closed, 1, static_cast<int>(deadline.Remaining().count())) <= 0)
                break;
            if (::read(m_out, discard, sizeof discard) <= 0) {
                int status = 0;
                ::waitpid(m_leader, &status, 0);
                m_waited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        }
        return -1;
    }

private:
    pid_t m_leader = -1;
    pid_t m_sim = -1;
    int m_out = -1;
    int m_master = -1;
    bool m_waited = false;
};

// The device answers a device-information request, which a stopped or ended process cannot.
bool Answers(ProgramSide& program)
{
    program.Send([](CZELCommandSet& c, std::uint8_t* b) { return c.PrepareReqGetDeviceInfo(b); });
    const std::optional<Bytes> answer = program.Next();
    return answer && ProgramSide::Id(*answer) == 0x4001;
}

} // namespace

TEST(TarnSim, RunsUntilWhatCanEndItForEachStandardInput)
{
    struct Case
    {
        const char* name;
        Input input;
        bool endsByInput; // else a signal ends it
    };
    const Case cases[] = {
        {"/dev/null", Input::DevNull, false},
        {"terminal of a background job", Input::BackgroundTerminal, false},
        {"terminal of the foreground job, Ctrl-D", Input::ForegroundTerminal, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.input);
        const std::string port = sim.Port();
        ASSERT_FALSE(port.empty());
        ProgramSide program(port);
        EXPECT_TRUE(Answers(program)) << "the simulator ended or was stopped";
        // The operator types into the terminal of the shell meanwhile.
        if (c.input != Input::DevNull)
            sim.Type("typed\n");
        EXPECT_TRUE(Answers(program)) << "the simulator ended or was stopped";
        program.Close();
        if (c.endsByInput)
            sim.Type("\x04");
        else
            sim.Signal(SIGTERM);
        EXPECT_EQ(sim.Wait(), 0);
    }
}
