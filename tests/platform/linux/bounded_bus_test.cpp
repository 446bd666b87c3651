// Bounded greetings and calls against a bus that answers, one that is not
// there, and one that accepts and never answers.

#include "lumenhollow/platform/linux/bounded_bus.h"

#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "hollowkit/testing/private_dbus_daemon.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/platform/linux/session_bus_address.h"
#include "hollowkit/testing/hello_only_bus.h"
#include "hollowkit/testing/silent_bus.h"

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;
using hollowkit::testsupport::SilentBus;
using BusKind = BusFailure::Kind;

// A descriptor that is readable from the start: a stop asked before the wait.
struct AskedStop {
    AskedStop() {
        if (::pipe(fds) == 0) [[maybe_unused]] const ssize_t written = ::write(fds[1], "x", 1);
    }
    ~AskedStop() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int fd() const { return fds[0]; }
    int fds[2] = {-1, -1};
};

// A dbus-daemon stopped as SIGSTOP stops it, let go again at the end.
struct StoppedDaemon {
    explicit StoppedDaemon(pid_t pid) : pid_(pid) { ::kill(pid_, SIGSTOP); }
    ~StoppedDaemon() { ::kill(pid_, SIGCONT); }
    pid_t pid_;
};

std::optional<BusKind> greetingFailure(const std::string& address, hollowkit::Duration limit, int stopFd = -1) {
    const auto opened = BoundedBus::open(address, limit, stopFd);
    if (opened) return std::nullopt;
    return opened.error().kind;
}

TEST(BoundedBus, AGreetingEndsAsTheBusMeetsItWithinItsLimit) {
    SilentBus silent;
    ASSERT_TRUE(silent.listening());
    hollowkit::testsupport::TempDir folder;
    AskedStop stop;
    const struct {
        const char* name;
        std::string address;
        hollowkit::Duration limit;
        int stopFd;
        std::optional<BusKind> expected;
    } cases[] = {
        {"no socket there", unixPathAddress(folder.file("none")), 10min, -1, BusKind::refused},
        {"the address every library refuses", kNoSessionBus, 10min, -1, BusKind::refused},
        {"no address", "", 10min, -1, BusKind::refused},
        // The limit is what ends it: the bus never says anything.
        {"accepts and never answers", silent.address(), 200ms, -1, BusKind::silent},
        {"never answers, and a stop is asked", silent.address(), 10min, stop.fd(), BusKind::stopped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(greetingFailure(c.address, c.limit, c.stopFd), c.expected);
    }
}

TEST(BoundedBus, ARealBusAnswersAndAStoppedOneIsSilent) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "no dbus-daemon on this machine";
    hollowkit::PrivateDbusDaemon daemon;
    ASSERT_TRUE(daemon.start());
    EXPECT_EQ(greetingFailure(daemon.address(), 60s), std::nullopt);
    const StoppedDaemon stopped(daemon.pid());
    EXPECT_EQ(greetingFailure(daemon.address(), 200ms), BusKind::silent);
}

TEST(BoundedBus, ACallEndsWithItsReplyItsErrorItsLimitOrAStop) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "no dbus-daemon on this machine";
    hollowkit::PrivateDbusDaemon daemon;
    ASSERT_TRUE(daemon.start());
    auto bus = BoundedBus::open(daemon.address(), 60s);
    ASSERT_TRUE(bus) << bus.error().text;
    const auto call = [&](const char* destination, hollowkit::Duration limit, int stopFd = -1) {
        return (*bus)->call(destination, "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                            [](sd_bus_message* message) {
                                return sd_bus_message_append(message, "s", "org.freedesktop.DBus");
                            },
                            limit, stopFd);
    };

    auto owner = call("org.freedesktop.DBus", 60s);
    ASSERT_TRUE(owner) << owner.error().text;
    const char* name = nullptr;
    ASSERT_GE(sd_bus_message_read(owner->get(), "s", &name), 0);
    EXPECT_STREQ(name, "org.freedesktop.DBus");

    auto unknown = call("org.example.Nobody", 60s);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().kind, BusKind::refused);
    EXPECT_NE(unknown.error().text.find("org.freedesktop.DBus.Error.ServiceUnknown"), std::string::npos)
        << unknown.error().text;

    const StoppedDaemon stopped(daemon.pid());
    auto late = call("org.freedesktop.DBus", 200ms);
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error().kind, BusKind::silent) << late.error().text;
    AskedStop stop;
    auto cut = call("org.freedesktop.DBus", 10min, stop.fd());
    ASSERT_FALSE(cut);
    EXPECT_EQ(cut.error().kind, BusKind::stopped) << cut.error().text;
}

// The start's greeting of the session bus, and what it leaves in the
// environment for the libraries that connect after it.
class SessionBusGreetingTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* value = std::getenv("DBUS_SESSION_BUS_ADDRESS")) had_ = value;
    }
    void TearDown() override {
        if (had_) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", had_->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }
    static std::string environment() {
        const char* value = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        return value ? value : "(unset)";
    }

    std::optional<std::string> had_;
};

TEST_F(SessionBusGreetingTest, ABusSilentForTheLimitIsTakenForNoneAndSaidSoOnce) {
    SilentBus silent;
    ASSERT_TRUE(silent.listening());
    hollowkit::testsupport::TempDir folder;
    AskedStop stop;
    const struct {
        const char* name;
        std::string address;
        hollowkit::Duration limit;
        int interruptFd;
        SessionBusGreeting expected;
        std::string left;
        int told;
    } cases[] = {
        {"silent", silent.address(), 200ms, -1, SessionBusGreeting::silent, kNoSessionBus, 1},
        // A signal ends the start; what the environment holds no longer matters.
        {"silent, interrupted", silent.address(), 10min, stop.fd(), SessionBusGreeting::interrupted,
         silent.address(), 0},
        // The libraries fail as fast as the greeting did.
        {"no socket", unixPathAddress(folder.file("none")), 10min, -1, SessionBusGreeting::absent,
         unixPathAddress(folder.file("none")), 0},
        {"none settled", kNoSessionBus, 10min, -1, SessionBusGreeting::absent, kNoSessionBus, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::testsupport::LogCapture log;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", c.address.c_str(), 1);
        EXPECT_EQ(greetSessionBus(c.limit, c.interruptFd), c.expected);
        EXPECT_EQ(environment(), c.left);
        EXPECT_EQ(log.count("did not answer within"), c.told) << ::testing::PrintToString(log.lines());
    }
}

TEST_F(SessionBusGreetingTest, ABusThatAnswersIsKept) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "no dbus-daemon on this machine";
    hollowkit::PrivateDbusDaemon daemon;
    ASSERT_TRUE(daemon.start());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", daemon.address().c_str(), 1);
    EXPECT_EQ(greetSessionBus(60s), SessionBusGreeting::answered);
    EXPECT_EQ(environment(), daemon.address());
}

// The accessibility bus's greeting: a launcher or bus that never answers
// is taken for none, which Qt's bridge then fails at once; one that answers,
// or none offered, is left as it is.
TEST_F(SessionBusGreetingTest, ASilentAccessibilityBusOrLauncherIsTakenForNoneAndAnAnsweringOneKept) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "no dbus-daemon on this machine";
    std::optional<std::string> hadAccessibility;
    if (const char* value = std::getenv("AT_SPI_BUS_ADDRESS")) hadAccessibility = value;
    hollowkit::PrivateDbusDaemon daemon;
    ASSERT_TRUE(daemon.start());
    SilentBus silent;
    ASSERT_TRUE(silent.listening());
    hollowkit::testsupport::TempDir folder;
    // Answers each client's Hello only: the launcher's question goes unanswered.
    hollowkit::testsupport::HelloOnlyBus helloOnly(folder.file("bus"));
    ASSERT_TRUE(helloOnly.listening());
    AskedStop stop;
    const struct {
        const char* name;
        std::string session;
        std::optional<std::string> accessibility;
        int interruptFd;
        SessionBusGreeting expected;
        std::string left;
        int told;
    } cases[] = {
        {"the launcher never answers", helloOnly.address(), std::nullopt, -1, SessionBusGreeting::silent,
         kNoSessionBus, 1},
        {"the bus named never answers", daemon.address(), silent.address(), -1, SessionBusGreeting::silent,
         kNoSessionBus, 1},
        {"the bus named answers", daemon.address(), daemon.address(), -1, SessionBusGreeting::answered,
         daemon.address(), 0},
        {"no launcher on the session bus", daemon.address(), std::nullopt, -1, SessionBusGreeting::absent,
         "(unset)", 0},
        {"none settled", daemon.address(), std::string(kNoSessionBus), -1, SessionBusGreeting::absent,
         kNoSessionBus, 0},
        {"interrupted", daemon.address(), silent.address(), stop.fd(), SessionBusGreeting::interrupted,
         silent.address(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::testsupport::LogCapture log;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", c.session.c_str(), 1);
        if (c.accessibility) {
            ::setenv("AT_SPI_BUS_ADDRESS", c.accessibility->c_str(), 1);
        } else {
            ::unsetenv("AT_SPI_BUS_ADDRESS");
        }
        EXPECT_EQ(greetAccessibilityBus(c.interruptFd >= 0 ? 10min : 300ms, c.interruptFd), c.expected);
        const char* left = std::getenv("AT_SPI_BUS_ADDRESS");
        EXPECT_EQ(left ? std::string(left) : std::string("(unset)"), c.left);
        EXPECT_EQ(log.count("did not answer within"), c.told) << ::testing::PrintToString(log.lines());
    }
    if (hadAccessibility) {
        ::setenv("AT_SPI_BUS_ADDRESS", hadAccessibility->c_str(), 1);
    } else {
        ::unsetenv("AT_SPI_BUS_ADDRESS");
    }
}

// Owns the tray watcher's name and answers whether a tray shows items, but
// never the watcher's description: a panel that hangs in its first answer
// to Qt.
class DescriptionlessWatcher {
public:
    explicit DescriptionlessWatcher(const std::string& address) {
        if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
            sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 ||
            sd_bus_request_name(bus_, "org.kde.StatusNotifierWatcher", 0) < 0 ||
            sd_bus_add_object(bus_, nullptr, "/StatusNotifierWatcher", &DescriptionlessWatcher::handle, nullptr) < 0) {
            return;
        }
        serving_ = std::thread([this] {
            while (!stop_) {
                while (sd_bus_process(bus_, nullptr) > 0) {
                }
                sd_bus_wait(bus_, 50'000);
            }
        });
    }
    ~DescriptionlessWatcher() {
        stop_ = true;
        if (serving_.joinable()) serving_.join();
        sd_bus_flush_close_unref(bus_);
    }
    bool serving() const { return serving_.joinable(); }

private:
    static int handle(sd_bus_message* call, void*, sd_bus_error*) {
        if (sd_bus_message_is_method_call(call, "org.freedesktop.DBus.Introspectable", "Introspect")) {
            return 1;  // taken, never answered
        }
        if (sd_bus_message_is_method_call(call, "org.freedesktop.DBus.Properties", "Get")) {
            return sd_bus_reply_method_return(call, "v", "b", 1);
        }
        return 0;
    }

    sd_bus* bus_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread serving_;
};

// The tray watcher's greeting: a watcher whose owner never answers costs
// the tray icon and is said once; one that answers, or none at all, leaves
// the tray to Qt.
TEST_F(SessionBusGreetingTest, ATrayWatcherThatNeverAnswersIsSaidOnceAndOneThatAnswersKept) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "no dbus-daemon on this machine";
    constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";
    hollowkit::PrivateDbusDaemon withoutWatcher;
    ASSERT_TRUE(withoutWatcher.start());
    // Owns the name and answers the watcher's question.
    hollowkit::PrivateDbusDaemon answering;
    ASSERT_TRUE(answering.start());
    auto answeringOwner = sdbus::createSessionBusConnectionWithAddress(answering.address());
    answeringOwner->requestName(kWatcher);
    auto watcher = sdbus::createObject(*answeringOwner, "/StatusNotifierWatcher");
    watcher->registerProperty("IsStatusNotifierHostRegistered").onInterface(kWatcher).withGetter([] {
        return true;
    });
    watcher->finishRegistration();
    answeringOwner->enterEventLoopAsync();
    // Owns the name and never reads a message: a stopped panel.
    hollowkit::PrivateDbusDaemon stopped;
    ASSERT_TRUE(stopped.start());
    auto stoppedOwner = sdbus::createSessionBusConnectionWithAddress(stopped.address());
    stoppedOwner->requestName(kWatcher);
    hollowkit::PrivateDbusDaemon descriptionless;
    ASSERT_TRUE(descriptionless.start());
    DescriptionlessWatcher hangsInItsDescription(descriptionless.address());
    ASSERT_TRUE(hangsInItsDescription.serving());
    AskedStop stop;
    const struct {
        const char* name;
        std::string session;
        int interruptFd;
        SessionBusGreeting expected;
        int told;
    } cases[] = {
        {"the watcher answers", answering.address(), -1, SessionBusGreeting::answered, 0},
        {"the watcher never describes itself", descriptionless.address(), -1, SessionBusGreeting::silent, 1},
        {"no watcher", withoutWatcher.address(), -1, SessionBusGreeting::absent, 0},
        {"the watcher never answers", stopped.address(), -1, SessionBusGreeting::silent, 1},
        {"interrupted", stopped.address(), stop.fd(), SessionBusGreeting::interrupted, 0},
        {"no session bus", kNoSessionBus, -1, SessionBusGreeting::absent, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::testsupport::LogCapture log;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", c.session.c_str(), 1);
        // Only the silent case waits out its limit: the others end on an answer.
        EXPECT_EQ(greetTrayWatcher(c.expected == SessionBusGreeting::silent ? 300ms : 10min, c.interruptFd),
                  c.expected);
        EXPECT_EQ(log.count("did not answer within"), c.told) << ::testing::PrintToString(log.lines());
    }
    answeringOwner->leaveEventLoop();
}

// Whether the watcher has an owner, from the bus alone: an owner that never
// answers is still an owner, and a bus that never answers says nothing.
TEST_F(SessionBusGreetingTest, TheTrayWatchersOwnerIsTheBussWordNeverTheOwners) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "no dbus-daemon on this machine";
    hollowkit::PrivateDbusDaemon withoutWatcher;
    ASSERT_TRUE(withoutWatcher.start());
    hollowkit::PrivateDbusDaemon stopped;
    ASSERT_TRUE(stopped.start());
    auto stoppedOwner = sdbus::createSessionBusConnectionWithAddress(stopped.address());
    stoppedOwner->requestName("org.kde.StatusNotifierWatcher");
    SilentBus silent;
    ASSERT_TRUE(silent.listening());
    const struct {
        const char* name;
        std::string session;
        TrayWatcherOwner expected;
    } cases[] = {
        {"an owner that never answers", stopped.address(), TrayWatcherOwner::owned},
        {"no watcher", withoutWatcher.address(), TrayWatcherOwner::none},
        {"a bus that never answers", silent.address(), TrayWatcherOwner::unknown},
        {"no session bus", kNoSessionBus, TrayWatcherOwner::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", c.session.c_str(), 1);
        EXPECT_EQ(trayWatcherOwner(c.expected == TrayWatcherOwner::unknown ? 300ms : 10min), c.expected);
    }
}

}  // namespace
}  // namespace lumenhollow
