#include "lumenhollow/app/termination_signals.h"

#include <signal.h>
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

}  // namespace
}  // namespace lumenhollow
