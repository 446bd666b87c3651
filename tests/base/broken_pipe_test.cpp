#include "hollowkit/base/broken_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/testing/bounded_child.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

// Console lines to the real standard output; system-log lines kept out of
// the machine's journal.
class StdoutSink final : public LogSink {
public:
    void writeConsole(std::string_view line) override { PocketLog::standardSink().writeConsole(line); }
    void writeSystem(std::string_view) override {}
};

// SIGPIPE as this process has it now.
struct sigaction currentBrokenPipe() {
    struct sigaction current {};
    ::sigaction(SIGPIPE, nullptr, &current);
    return current;
}

// The handler this test found is put back when it ends.
class BrokenPipeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &previous_), 0); }
    void TearDown() override { ::sigaction(SIGPIPE, &previous_, nullptr); }

private:
    struct sigaction previous_ {};
};

// The log's standard output is a pipe whose reader has gone (a log reader
// that exited): logging goes on, the process lives, and the sink gives that
// output up, so a later line tries it no more.
TEST_F(BrokenPipeTest, TheLogOutlivesItsStandardOutputsReader) {
    const auto outcome = testsupport::runInChild(
        [] {
            if (!installBrokenPipeHandler()) return 10;
            int closed[2];
            if (::pipe2(closed, O_CLOEXEC) != 0) return 11;
            std::fflush(stdout);
            if (::dup2(closed[1], STDOUT_FILENO) < 0) return 12;
            ::close(closed[0]);
            ::close(closed[1]);
            StdoutSink sink;
            PocketLog::setSinkForTesting(&sink);
            for (int line = 0; line < 100; ++line) PocketLog::logf("line %d", line);
            // A reader again on the same descriptor: nothing reaches it.
            int open[2];
            if (::pipe2(open, O_CLOEXEC | O_NONBLOCK) != 0) return 13;
            if (::dup2(open[1], STDOUT_FILENO) < 0) return 14;
            PocketLog::log("after the reader came back");
            char byte = 0;
            const ssize_t read = ::read(open[0], &byte, 1);
            PocketLog::setSinkForTesting(nullptr);
            return read == 1 ? 3 : 0;
        },
        30s);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0) << "-1: ended by a signal; 3: the broken output was written to again";
}

// Caught, not ignored; and what this process starts has SIGPIPE at its
// default again, whether started by the command runner (which resets every
// disposition) or by a plain fork and exec (as popen does, and the
// relaunch's QProcess::startDetached).
TEST_F(BrokenPipeTest, TheSignalIsCaughtHereAndAtItsDefaultInChildren) {
    ASSERT_TRUE(installBrokenPipeHandler());
    const struct sigaction installed = currentBrokenPipe();
    EXPECT_NE(installed.sa_handler, SIG_DFL);
    EXPECT_NE(installed.sa_handler, SIG_IGN);
    ASSERT_TRUE(installBrokenPipeHandler()) << "a second install is harmless";

    const CommandResult runner =
        CommandRunner::run("/bin/sh", {"-c", "kill -PIPE $$; exit 0"}, {}, /*logged=*/false, 10s);
    EXPECT_EQ(runner.status, 128 + SIGPIPE);
    const CommandResult listed = CommandRunner::run("/bin/sh", {"-c", "grep '^Sig[IC][ga][nt]:' /proc/self/status"},
                                                    {}, /*logged=*/false, 10s);
    EXPECT_EQ(listed.status, 0) << listed.output;
    unsigned long long ignored = 0;
    unsigned long long caught = 0;
    ASSERT_EQ(std::sscanf(listed.output.c_str(), "SigIgn: %llx SigCgt: %llx", &ignored, &caught), 2) << listed.output;
    EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0ULL) << "ignored in the command runner's child";

    FILE* child = ::popen("kill -PIPE $$; exit 0", "r");
    ASSERT_NE(child, nullptr);
    const int status = ::pclose(child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGPIPE) << "a plain fork and exec leaves SIGPIPE at its default";
}

}  // namespace
}  // namespace hollowkit
