#include "lumenhollow/app/termination_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "event_loop_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <string>
#include <vector>


namespace lumenhollow {
namespace {

using test::spinUntil;

TEST(TerminationSignalsTest, EachSignalReachesTheGuiThreadAndTheProcessLivesOn) {
    ASSERT_TRUE(TerminationSignals::install().has_value());
    ASSERT_TRUE(TerminationSignals::install().has_value()) << "a second install is harmless";
    std::vector<int> received;
    TerminationSignalNotifier notifier([&](int signal) { received.push_back(signal); });
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGTERM}) ASSERT_EQ(::kill(::getpid(), signal), 0);
    ASSERT_TRUE(spinUntil([&] { return received.size() == 4; }));
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP, SIGTERM}));
}

// Ignoring SIGTERM would pass to every program the application starts (its
// relaunched self, the Wi-Fi tools), which then could not be stopped.
TEST(TerminationSignalsTest, ChildProcessesStartWithTheSignalsAtTheirDefault) {
    ASSERT_TRUE(TerminationSignals::install().has_value());
    for (const int signal : TerminationSignals::kSignals) {
        struct sigaction current {};
        ASSERT_EQ(::sigaction(signal, nullptr, &current), 0);
        EXPECT_NE(current.sa_handler, SIG_IGN) << signal;
        EXPECT_NE(current.sa_handler, SIG_DFL) << signal;
    }
    // popen starts the child as is, without resetting what it inherits.
    FILE* child = ::popen("grep '^SigIgn:' /proc/self/status", "r");
    ASSERT_NE(child, nullptr);
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, child) != nullptr;
    ASSERT_EQ(::pclose(child), 0);
    ASSERT_TRUE(read);
    unsigned long long ignored = 0;
    ASSERT_EQ(std::sscanf(line, "SigIgn: %llx", &ignored), 1) << line;
    for (const int signal : TerminationSignals::kSignals) {
        EXPECT_EQ(ignored & (1ULL << (signal - 1)), 0ULL) << "signal " << signal << " ignored in the child";
    }
}

// Before the event loop runs nothing reads the pipe (the tray icon may wait
// on the session bus there): a signal then ends the start by itself, with
// the status given, until the event loop takes the signals back.
TEST(TerminationSignalsTest, BeforeTheEventLoopASignalEndsTheProcessAtOnce) {
    enum class Step { endAtOnce, signalThenEndAtOnce, endAtOnceThenServed };
    const struct {
        const char* name;
        Step step;
        int status;
    } cases[] = {
        {"ending at once", Step::endAtOnce, 7},
        {"a signal that came before the switch", Step::signalThenEndAtOnce, 7},
        {"served by the event loop again: into the pipe", Step::endAtOnceThenServed, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            if (!TerminationSignals::install()) ::_exit(90);
            if (c.step == Step::signalThenEndAtOnce) ::raise(SIGTERM);
            TerminationSignals::endAtOnce(c.status);
            if (c.step == Step::endAtOnceThenServed) TerminationSignals::servedByEventLoop();
            if (::write(ready[1], "r", 1) != 1) ::_exit(91);
            // Still here: the signal must reach the pipe.
            pollfd watched{TerminationSignals::readFd(), POLLIN, 0};
            while (::poll(&watched, 1, 30000) < 0) {
            }
            unsigned char byte = 0;
            ::_exit(::read(TerminationSignals::readFd(), &byte, 1) == 1 && byte == SIGTERM ? 3 : 92);
        }
        ::close(ready[1]);
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
        ASSERT_GE(pidfd, 0);
        char byte = 0;
        const bool madeReady = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        if (madeReady) ::kill(child, SIGTERM);
        pollfd ended{pidfd, POLLIN, 0};
        const bool endedInTime = ::poll(&ended, 1, 10000) == 1;
        if (!endedInTime) ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(pidfd);
        EXPECT_TRUE(endedInTime) << "the signal left the process running";
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), c.status);
    }
}

}  // namespace
}  // namespace lumenhollow
