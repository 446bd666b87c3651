#include "hollowkit/base/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

class CommandRunnerTest : public ::testing::Test {
protected:
    static CommandResult sh(const std::string& script, std::vector<std::string> extra = {},
                            Duration timeout = 10s) {
        std::vector<std::string> arguments = {"-c", script, "sh"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return CommandRunner::run("/bin/sh", arguments, {}, false, timeout);
    }

    testsupport::LogCapture log_;
};

TEST_F(CommandRunnerTest, ReportsStatusAndTrimmedOutput) {
    struct Case {
        const char* name;
        const char* script;
        int status;
        std::string output;
    };
    const Case cases[] = {
        {"success", "echo hello", 0, "hello"},
        {"exit status", "echo failed; exit 3", 3, "failed"},
        {"stderr shares the pipe", "echo out; echo err >&2", 0, "out\nerr"},
        {"white space only", R"(printf ' \n\t\r\n  ')", 0, ""},
        {"trimmed at both ends only", R"(printf '\n  two  words \r\n\n')", 0, "two  words"},
        {"unicode white space", R"(printf '\302\240caf\303\251\342\200\250\n')", 0, "caf\u00e9"},
        {"invalid UTF-8 keeps the status", R"(printf 'ok\377'; exit 4)", 4, ""},
        {"surrogate is invalid", R"(printf '\355\240\200')", 0, ""},
        {"killed by a signal", "echo partial; kill -9 $$", 128 + SIGKILL, "partial"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CommandResult result = sh(c.script);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.output, c.output);
        EXPECT_FALSE(result.timedOut);
    }
}

TEST_F(CommandRunnerTest, ChildReadsEndOfFileFromStdin) {
    // Give this process a stdin that never ends: a child that inherited it
    // would wait in `cat` until the time-out.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd pipeRead(ends[0]);
    UniqueFd pipeWrite(ends[1]);
    UniqueFd savedStdin(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
    ASSERT_GE(::dup2(pipeRead.get(), STDIN_FILENO), 0);

    CommandResult result = sh("cat; echo done", {}, 5s);

    if (savedStdin) ::dup2(savedStdin.get(), STDIN_FILENO);
    else ::close(STDIN_FILENO);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "done");
}

// Output is read while the child runs, so several MiB on both streams never
// leave it blocked on a full pipe; only the first MiB is kept, the rest is
// read and dropped, and the result and one log line say so.
TEST_F(CommandRunnerTest, KeepsTheFirstMebibyteOfOutputAndDrainsTheRest) {
    constexpr size_t kLimit = CommandRunner::kMaxOutputBytes;
    static_assert(kLimit == 1048576, "the scripts below are written for 1 MiB");
    struct Case {
        const char* name;
        const char* script;
        int status;
        bool truncated;
        size_t size;
        char first;
        char last;
    };
    const Case cases[] = {
        {"exactly the limit", "head -c 1048576 /dev/zero | tr '\\000' a", 0, false, kLimit, 'a', 'a'},
        {"one byte more", "head -c 1048577 /dev/zero | tr '\\000' a", 0, true, kLimit, 'a', 'a'},
        {"megabytes on both streams",
         R"(head -c 3145728 /dev/zero | tr '\000' a
            head -c 3145728 /dev/zero | tr '\000' b >&2
            exit 7)",
         7, true, kLimit, 'a', 'a'},
        {"stderr past the limit after stdout",
         R"(head -c 1048000 /dev/zero | tr '\000' a
            head -c 2097152 /dev/zero | tr '\000' b >&2)",
         0, true, kLimit, 'a', 'b'},
        // 'a' and then two-byte characters: the cut splits one, which is
        // left out so the rest still reads as text.
        {"cut inside a character", R"(printf a; yes 'é' | tr -d '\n' | head -c 2097152)", 0, true, kLimit - 1, 'a',
         '\xA9'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log_.clear();
        CommandResult result = sh(c.script, {}, 60s);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.truncated, c.truncated);
        ASSERT_EQ(result.output.size(), c.size);
        EXPECT_EQ(result.output.front(), c.first);
        EXPECT_EQ(result.output.back(), c.last);
        EXPECT_EQ(log_.count("/bin/sh wrote more than 1048576 bytes; "), c.truncated ? 1 : 0);
    }
}

TEST_F(CommandRunnerTest, ChildThatCannotStartGivesErrorText) {
    testsupport::TempDir dir;
    const std::string notExecutable = dir.file("not-executable");
    ::close(::open(notExecutable.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    struct Case {
        std::string path;
        int error;
    };
    const Case cases[] = {
        {"/nonexistent/tool", ENOENT},
        {notExecutable, EACCES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        log_.clear();
        CommandResult result = CommandRunner::run(c.path, {"--flag"});
        EXPECT_EQ(result.status, -1);
        EXPECT_EQ(result.output, std::strerror(c.error));
        EXPECT_FALSE(result.timedOut);
        // The command line is logged before the start, and nothing after it.
        EXPECT_EQ(log_.lines(), std::vector<std::string>{"$ " + c.path + " --flag"});
    }
    log_.clear();
    EXPECT_EQ(CommandRunner::run("/nonexistent/tool", {}, {}, false).status, -1);
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(CommandRunnerTest, RedactedArgumentReachesChildButNotLog) {
    const std::vector<std::string> arguments = {"-c", R"(printf '%s' "$1")", "sh", "s3cret pass"};
    CommandResult result = CommandRunner::run("/bin/sh", arguments, {3, 7, -1});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "s3cret pass");
    ASSERT_EQ(log_.lines().size(), 1u);
    EXPECT_EQ(log_.lines()[0], R"($ /bin/sh -c printf '%s' "$1" sh <redacted>)");
}

TEST_F(CommandRunnerTest, HangingChildIsKilledAtTheTimeOut) {
    // The second closes its output first, so the time-out must also cover
    // the wait for its exit.
    const char* scripts[] = {"sleep 30", "exec >/dev/null 2>&1; sleep 30"};
    for (const char* script : scripts) {
        SCOPED_TRACE(script);
        const TimePoint start = SteadyClock::now();
        CommandResult result = sh(script, {}, 200ms);
        EXPECT_LT(SteadyClock::now() - start, 10s);
        EXPECT_EQ(result.status, -1);
        EXPECT_TRUE(result.timedOut);
        EXPECT_EQ(result.output, "Timed out after 0.2 s");
    }
}

// A stop flag set while the tool runs (also after it closed its output)
// kills it at once; one set before never starts it.
TEST_F(CommandRunnerTest, AStopFlagEndsTheToolOrKeepsItFromStarting) {
    struct Case {
        const char* name;
        const char* script;
        bool stopBeforeStart;
    };
    const Case cases[] = {
        {"while it writes", R"(: >"$1"; sleep 30)", false},
        {"after it closed its output", R"(: >"$1"; exec >/dev/null 2>&1; sleep 30)", false},
        {"before it starts", R"(: >"$1"; sleep 30)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        const std::string started = dir.file("started");
        StopFlag stop;
        if (c.stopBeforeStart) stop.set();
        std::thread stopper([&] {
            if (c.stopBeforeStart) return;
            const TimePoint deadline = SteadyClock::now() + 10s;
            while (!std::filesystem::exists(started) && SteadyClock::now() < deadline) {
                std::this_thread::yield();
            }
            stop.set();
        });
        // Only the flag can end it before the 20 s time-out.
        CommandResult result = CommandRunner::run("/bin/sh", {"-c", c.script, "sh", started}, {}, false, 20s, &stop);
        stopper.join();
        EXPECT_TRUE(result.stopped);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, -1);
        EXPECT_EQ(result.output, "Stopped");
        EXPECT_EQ(std::filesystem::exists(started), !c.stopBeforeStart);
    }
}

TEST_F(CommandRunnerTest, TimeOutAlsoKillsWhatTheChildStarted) {
    // The grandchild holds a FIFO open for writing; once it is dead the
    // reader sees end of file.
    testsupport::TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(reader.valid());

    CommandResult result = sh(R"((printf x; exec sleep 30) >"$1" & wait)", {fifo}, 1s);
    EXPECT_TRUE(result.timedOut);

    std::string received;
    bool ended = false;
    const TimePoint deadline = SteadyClock::now() + 10s;
    while (!ended && SteadyClock::now() < deadline) {
        pollfd entry{reader.get(), POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) continue;
        char byte = 0;
        ssize_t n = ::read(reader.get(), &byte, 1);
        if (n > 0) received += byte;
        ended = n == 0 && !received.empty();
    }
    EXPECT_EQ(received, "x");
    EXPECT_TRUE(ended) << "the grandchild still holds the FIFO";
}

TEST_F(CommandRunnerTest, ChildStartsWithDefaultSignalHandling) {
    // A blocked or ignored signal in the caller must not carry over to tools.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigset_t previousMask;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousPipe {};
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previousPipe), 0);

    CommandResult term = sh("kill -TERM $$; exit 0");
    CommandResult pipe = sh("kill -PIPE $$; exit 0");

    ::sigaction(SIGPIPE, &previousPipe, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    EXPECT_EQ(term.status, 128 + SIGTERM);
    EXPECT_EQ(pipe.status, 128 + SIGPIPE);
}

TEST_F(CommandRunnerTest, LeavesNoFileDescriptorsOpen) {
    // An fd opened without O_CLOEXEC must not reach the child either.
    UniqueFd inheritable(::open("/dev/null", O_RDONLY));
    ASSERT_TRUE(inheritable.valid());
    const int before = testsupport::openDescriptors();
    CommandResult probe = sh(R"(if [ -e "/proc/$$/fd/$1" ]; then echo leaked; else echo closed; fi)",
                             {std::to_string(inheritable.get())});
    EXPECT_EQ(probe.output, "closed");
    sh("echo hi");
    sh("exit 2");
    sh("sleep 30", {}, 100ms);
    sh("exec >&-; sleep 30", {}, 100ms);
    CommandRunner::run("/nonexistent/tool", {}, {}, false);
    EXPECT_EQ(testsupport::openDescriptors(), before);
}

}  // namespace
}  // namespace hollowkit
