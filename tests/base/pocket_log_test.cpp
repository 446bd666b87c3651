#include "hollowkit/base/pocket_log.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <latch>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/clock.h"
#include "hollowkit/testing/manual_clock.h"

namespace hollowkit {
namespace {

// Deliberately unlocked: PocketLog must serialise calls into its sink, and a
// sanitizer build reports it when it does not.
class CaptureSink final : public LogSink {
public:
    void writeConsole(std::string_view line) override { console.emplace_back(line); }
    void writeSystem(std::string_view message) override { system.emplace_back(message); }

    std::vector<std::string> console;
    std::vector<std::string> system;
};

class PocketLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        PocketLog::setSinkForTesting(&sink_);
        PocketLog::resetForTesting(&clock_);
    }
    void TearDown() override {
        PocketLog::setSinkForTesting(nullptr);
        PocketLog::resetForTesting(nullptr);
    }

    ManualClock clock_;
    CaptureSink sink_;
};

TEST_F(PocketLogTest, FirstLineReadsZeroSecondsWheneverItIsWritten) {
    clock_.advance(std::chrono::seconds(42));
    PocketLog::log("hello");
    ASSERT_EQ(sink_.console.size(), 1u);
    EXPECT_EQ(sink_.console[0], "[   0.00] hello");
}

TEST_F(PocketLogTest, PrefixShowsSecondsSinceFirstLine) {
    struct Case {
        double elapsedSeconds;
        const char* expected;
    };
    const Case cases[] = {
        {0.004, "[   0.00] next"},
        {12.5, "[  12.50] next"},
        {9999.99, "[9999.99] next"},
        {12345.67, "[12345.67] next"},  // wider than seven characters: never cut
        {1234567.5, "[1234567.50] next"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        PocketLog::resetForTesting(&clock_);
        sink_.console.clear();
        PocketLog::log("first");
        clock_.advance(toDuration(c.elapsedSeconds));
        PocketLog::log("next");
        ASSERT_EQ(sink_.console.size(), 2u);
        EXPECT_EQ(sink_.console[0], "[   0.00] first");
        EXPECT_EQ(sink_.console[1], c.expected);
    }
}

TEST_F(PocketLogTest, SystemLogGetsMessageWithoutPrefix) {
    clock_.advance(std::chrono::seconds(1));
    PocketLog::log("Camera connected");
    clock_.advance(std::chrono::milliseconds(1500));
    PocketLog::log("[not a prefix] 100%");
    EXPECT_EQ(sink_.system, (std::vector<std::string>{"Camera connected", "[not a prefix] 100%"}));
    EXPECT_EQ(sink_.console,
              (std::vector<std::string>{"[   0.00] Camera connected", "[   1.50] [not a prefix] 100%"}));
}

TEST_F(PocketLogTest, LogfFormatsShortAndLongMessages) {
    PocketLog::logf("Battery %d%% %s", 57, "charging");
    const std::string longText(5000, 'x');
    PocketLog::logf("<%s>", longText.c_str());
    ASSERT_EQ(sink_.system.size(), 2u);
    EXPECT_EQ(sink_.system[0], "Battery 57% charging");
    EXPECT_EQ(sink_.system[1], "<" + longText + ">");
    EXPECT_EQ(sink_.console[1], "[   0.00] <" + longText + ">");
}

// Text from outside (a network name, a device name, tool output) cannot
// forge a line, reach the terminal as a control sequence or carry bytes
// that are not UTF-8, in either destination.
TEST_F(PocketLogTest, OutsideTextIsEscapedInBothDestinations) {
    struct Case {
        const char* name;
        std::string text;
        std::string logged;
    };
    const Case cases[] = {
        {"forged line", "OSMO\n[   9.99] Camera connected", "OSMO\\n[   9.99] Camera connected"},
        {"carriage return overwrites", "net\rWi-Fi joined", "net\\rWi-Fi joined"},
        {"tab", "a\tb", "a\\tb"},
        {"terminal colour", "\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
        {"NUL would cut the journal field", std::string("ab\0cd", 5), "ab\\x00cd"},
        {"bell and DEL", "\a\x7f", "\\x07\\x7f"},
        {"C1 control sequence introducer", "\xc2\x9b" "2J", "\\u009b2J"},
        {"next line", "a\xc2\x85" "b", "a\\u0085b"},
        {"line separator", "a\xe2\x80\xa8" "b", "a\\u2028b"},
        {"invalid byte", "name\xff", "name\\xff"},
        {"cut sequence at the end", "caf\xc3", "caf\\xc3"},
        {"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
        {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"lead without its continuation", "\xe2\x80" "A", "\\xe2\\x80A"},
        {"text that is fine stays", "Caf\xc3\xa9 \xe3\x82\xab\xf0\x9f\x98\x80 100% \\d", "Caf\xc3\xa9 \xe3\x82\xab\xf0\x9f\x98\x80 100% \\d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sink_.system.clear();
        sink_.console.clear();
        PocketLog::log(c.text);
        PocketLog::logf("SSID %s!", c.text.c_str());
        ASSERT_EQ(sink_.system.size(), 2u);
        ASSERT_EQ(sink_.console.size(), 2u);
        EXPECT_EQ(sink_.system[0], c.logged);
        EXPECT_EQ(sink_.console[0], "[   0.00] " + c.logged);
        // Formatted text is escaped as well (%s stops at a NUL).
        if (c.text.find('\0') == std::string::npos) {
            EXPECT_EQ(sink_.system[1], "SSID " + c.logged + "!");
            EXPECT_EQ(sink_.console[1], "[   0.00] SSID " + c.logged + "!");
        }
    }
}

TEST_F(PocketLogTest, ConcurrentCallsWriteWholeLinesToBothDestinations) {
    constexpr int kThreads = 8;
    constexpr int kLines = 250;
    std::latch go(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &go] {
            go.arrive_and_wait();
            for (int n = 0; n < kLines; ++n) PocketLog::logf("thread %d line %d", t, n);
        });
    }
    for (auto& thread : threads) thread.join();

    ASSERT_EQ(sink_.system.size(), size_t(kThreads * kLines));
    ASSERT_EQ(sink_.console.size(), sink_.system.size());
    std::vector<int> nextLine(kThreads, 0);
    for (size_t i = 0; i < sink_.system.size(); ++i) {
        // Both forms of one call arrive together, and each thread's lines in order.
        EXPECT_EQ(sink_.console[i], "[   0.00] " + sink_.system[i]);
        int t = -1;
        int n = -1;
        ASSERT_EQ(std::sscanf(sink_.system[i].c_str(), "thread %d line %d", &t, &n), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(n, nextLine[t]++);
    }
}

// Sends console lines to the real standard output; keeps system-log lines
// out of the machine's journal.
class StdoutSink final : public LogSink {
public:
    void writeConsole(std::string_view line) override { PocketLog::standardSink().writeConsole(line); }
    void writeSystem(std::string_view) override {}
};

// Points fd 1 at a memory file while `body` runs and returns what reached
// it. `body` gets a reader for what has arrived so far; nothing flushes stdout
// before a read, so lines must be flushed by the log itself.
std::string redirectStdout(const std::function<void(const std::function<std::string()>&)>& body) {
    std::fflush(stdout);
    int file = ::memfd_create("stdout", MFD_CLOEXEC);
    int saved = ::dup(STDOUT_FILENO);
    if (file < 0 || saved < 0 || ::dup2(file, STDOUT_FILENO) < 0) return "capture failed";
    const std::function<std::string()> written = [file] {
        std::string text(1 << 20, '\0');
        ssize_t n = ::pread(file, text.data(), text.size(), 0);
        text.resize(n > 0 ? size_t(n) : 0);
        return text;
    };
    body(written);
    std::string text = written();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(file);
    return text;
}

TEST_F(PocketLogTest, StandardOutputLinesAreFlushedAndWhole) {
    StdoutSink stdoutSink;
    PocketLog::setSinkForTesting(&stdoutSink);
    constexpr int kThreads = 4;
    constexpr int kLines = 100;
    const std::string filler(300, '-');
    std::string afterFirst;
    const std::string text = redirectStdout([&](const std::function<std::string()>& written) {
        PocketLog::log("first");
        afterFirst = written();
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int n = 0; n < kLines; ++n) PocketLog::logf("%d %s %d", t, filler.c_str(), n);
            });
        }
        for (auto& thread : threads) thread.join();
    });

    EXPECT_EQ(afterFirst, "[   0.00] first\n");
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        if (count++ == 0) continue;
        int t = -1;
        int n = -1;
        char dashes[400] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "[   0.00] %d %399s %d", &t, dashes, &n), 3) << line;
        EXPECT_EQ(dashes, filler);
    }
    EXPECT_EQ(count, 1 + kThreads * kLines);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
}

}  // namespace
}  // namespace hollowkit
