// The D-Bus power assertion against fake desktop services on a private bus.

#include "lumenhollow/platform/linux/freedesktop_power_assertion.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <memory>
#include <optional>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/private_dbus_daemon.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/fake_session_services.h"
#include "hollowkit/testing/silent_bus.h"

namespace lumenhollow {
namespace {

using hollowkit::testsupport::LogCapture;

constexpr const char* kNoSleep = "Could not keep the system awake";

struct Bus {
    hollowkit::PrivateDbusDaemon daemon;
    std::optional<FakeSessionServices> services;

    // False (with the reason) when the machine cannot run a bus.
    testing::AssertionResult start(FakeSessionServices::Options options) {
        if (!hollowkit::PrivateDbusDaemon::program()) return testing::AssertionFailure() << "no dbus-daemon";
        if (auto started = daemon.start(); !started) return testing::AssertionFailure() << started.error();
        services.emplace(options);
        if (auto served = services->start(daemon.address()); !served) {
            return testing::AssertionFailure() << served.error();
        }
        return testing::AssertionSuccess();
    }

    // Both buses on the private daemon.
    FreedesktopPowerAssertion::Options backendOptions() const {
        FreedesktopPowerAssertion::Options options;
        options.sessionBusAddress = daemon.address();
        options.systemBusAddress = daemon.address();
        options.connectTimeout = std::chrono::seconds(30);
        options.callTimeout = std::chrono::seconds(30);
        options.endTimeout = std::chrono::seconds(30);
        return options;
    }
};

#define START_BUS_OR_SKIP(bus, options)                            \
    do {                                                           \
        if (!hollowkit::PrivateDbusDaemon::program()) {            \
            GTEST_SKIP() << "no dbus-daemon on this machine";      \
        }                                                          \
        ASSERT_TRUE((bus).start(options));                         \
    } while (false)

TEST(FreedesktopPowerAssertionTest, TheScreenSaverIsAskedFirstAndLogindOnlyWhenItDoesNotAnswer) {
    enum class Holder { screenSaver, logind, nothing };
    const struct {
        const char* name;
        FakeSessionServices::Options services;
        Holder holder;
        std::vector<std::string> callsWhileHeld;
    } cases[] = {
        {"screen saver present", {.screenSaver = true, .logind = true}, Holder::screenSaver,
         {"Inhibit Lumenhollow|Recording video -> 1"}},
        {"no screen saver", {.logind = true}, Holder::logind,
         {"login1.Inhibit idle|Lumenhollow|Recording video|block"}},
        {"screen saver refuses", {.screenSaver = true, .screenSaverRefuses = true, .logind = true}, Holder::logind,
         {"Inhibit Lumenhollow|Recording video -> refused", "login1.Inhibit idle|Lumenhollow|Recording video|block"}},
        {"neither", {}, Holder::nothing, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus bus;
        START_BUS_OR_SKIP(bus, c.services);
        LogCapture log;
        auto power = std::make_unique<FreedesktopPowerAssertion>(bus.backendOptions());
        PowerActivity activity = power->begin("Recording video");
        switch (c.holder) {
            case Holder::screenSaver:
                ASSERT_TRUE(bus.services->waitForCall(c.callsWhileHeld.back()));
                EXPECT_EQ(bus.services->screenSaverHeld(), 1);
                activity.end();
                ASSERT_TRUE(bus.services->waitForCall("UnInhibit 1"));
                EXPECT_EQ(bus.services->screenSaverHeld(), 0);
                break;
            case Holder::logind:
                ASSERT_TRUE(bus.services->waitForCall(c.callsWhileHeld.back()));
                ASSERT_TRUE(bus.services->waitForLogindHeld(1));
                activity.end();
                ASSERT_TRUE(bus.services->waitForLogindHeld(0)) << "the descriptor is closed at the end";
                break;
            case Holder::nothing:
                activity.end();
                break;
        }
        power.reset();  // waits for the queue
        std::vector<std::string> expected = c.callsWhileHeld;
        if (c.holder == Holder::screenSaver) expected.push_back("UnInhibit 1");
        EXPECT_EQ(bus.services->calls(), expected);
        EXPECT_EQ(log.count(kNoSleep), c.holder == Holder::nothing ? 1 : 0);
    }
}

TEST(FreedesktopPowerAssertionTest, WithoutAnyBusTheActivityHoldsNothingAndSaysSoOnce) {
    LogCapture log;
    FreedesktopPowerAssertion::Options options;
    options.sessionBusAddress = "unix:path=/nonexistent/session-bus";
    options.systemBusAddress = "unix:path=/nonexistent/system-bus";
    {
        FreedesktopPowerAssertion power(options);
        PowerActivity activity = power.begin("Recording video");
        EXPECT_TRUE(activity.active());
    }
    EXPECT_EQ(log.count(kNoSleep), 1);
}

TEST(FreedesktopPowerAssertionTest, AHungScreenSaverBlocksNeitherBeginNorEndAndTheEndStillReachesIt) {
    Bus bus;
    START_BUS_OR_SKIP(bus, (FakeSessionServices::Options{.screenSaver = true, .holdScreenSaver = true}));
    FreedesktopPowerAssertion power(bus.backendOptions());
    // Both return while the service sits on its answer (were either to wait
    // for it, the test would never get to the release below).
    PowerActivity first = power.begin("Recording video");
    PowerActivity second = power.begin("Composing");
    first.end();
    bus.services->releaseScreenSaver();
    // The end waited behind the answer, so it hands back the right cookie.
    ASSERT_TRUE(bus.services->waitForCall("UnInhibit 1"));
    ASSERT_TRUE(bus.services->waitForCall("Inhibit Lumenhollow|Composing -> 2"));
    EXPECT_EQ(bus.services->screenSaverHeld(), 1);
}

TEST(FreedesktopPowerAssertionTest, DestroyingTheAssertionGivesBackWhatIsHeldAndLaterEndsDoNothing) {
    Bus bus;
    START_BUS_OR_SKIP(bus, (FakeSessionServices::Options{.screenSaver = true, .logind = true}));
    PowerActivity first;
    PowerActivity second;
    {
        FreedesktopPowerAssertion power(bus.backendOptions());
        first = power.begin("Recording video");
        second = power.begin("Composing");
        ASSERT_TRUE(bus.services->waitForCall("Inhibit Lumenhollow|Composing -> 2"));
    }
    EXPECT_EQ(bus.services->screenSaverHeld(), 0);
    first.end();
    second.end();
    EXPECT_EQ(bus.services->calls(),
              (std::vector<std::string>{"Inhibit Lumenhollow|Recording video -> 1", "Inhibit Lumenhollow|Composing -> 2",
                                        "UnInhibit 1", "UnInhibit 2"}));
}

// A bus that stops answering must not hold the program's end: the end cuts
// short a greeting under way, and waits for the screen saver's answer to a
// release only briefly (closing the connection gives back the rest). Each
// case runs in a child held to a bound far below the limits it would
// otherwise wait for, so a wait that is not cut short fails the case.
TEST(FreedesktopPowerAssertionTest, ABusThatNeverAnswersHoldsNeitherTheStartNorTheEnd) {
    const auto outcome = hollowkit::testsupport::runInChild(
        [] {
            hollowkit::testsupport::SilentBus silent;
            if (!silent.listening()) return 2;
            FreedesktopPowerAssertion::Options options;
            options.sessionBusAddress = silent.address();
            options.systemBusAddress = "unix:path=/nonexistent/system-bus";
            options.connectTimeout = std::chrono::minutes(10);
            auto power = std::make_unique<FreedesktopPowerAssertion>(options);
            PowerActivity activity = power->begin("Recording video");
            // The greeting is under way when the owner ends.
            if (!silent.waitForClient(std::chrono::seconds(20))) return 3;
            power.reset();
            activity.end();
            return 0;
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(outcome.finished) << "the end waited for a bus that never answers";
    EXPECT_EQ(outcome.exitCode, 0);
}

TEST(FreedesktopPowerAssertionTest, ABusThatStopsWhileAnInhibitionIsHeldDoesNotHoldTheEnd) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "no dbus-daemon on this machine";
    const auto outcome = hollowkit::testsupport::runInChild(
        [] {
            Bus bus;
            if (!bus.start(FakeSessionServices::Options{.screenSaver = true})) return 2;
            FreedesktopPowerAssertion::Options options = bus.backendOptions();
            options.callTimeout = std::chrono::minutes(10);
            options.endTimeout = std::chrono::milliseconds(200);
            PowerActivity first;
            PowerActivity second;
            {
                FreedesktopPowerAssertion power(options);
                first = power.begin("Recording video");
                second = power.begin("Composing");
                if (!bus.services->waitForCall("Inhibit Lumenhollow|Composing -> 2")) return 3;
                // The desktop's bus stops (as a dbus-daemon under SIGSTOP).
                ::kill(bus.daemon.pid(), SIGSTOP);
            }
            ::kill(bus.daemon.pid(), SIGCONT);
            return 0;
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(outcome.finished) << "the end waited for a bus that stopped";
    EXPECT_EQ(outcome.exitCode, 0);
}

}  // namespace
}  // namespace lumenhollow
