// A start on a desktop without a session bus whose dbus-launch never
// answers (as a launcher stuck before it runs anything leaves it): the
// program still shows its picture and ends on SIGTERM with 0. Left to the
// D-Bus library, the look for a bus runs that launcher from the main thread
// once the tray icon is made, and waits for its answer for ever.

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include "hollowkit/testing/hello_only_bus.h"
#include "hollowkit/testing/private_dbus_daemon.h"
#include "hollowkit/testing/silent_bus.h"
#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {
namespace {

class SessionBusJourney : public ReturningUserJourney {
protected:
    // A runtime folder of the user's alone, empty or holding a bus.
    std::filesystem::path runtimeFolder(const std::string& name) {
        const std::filesystem::path runtime = desktop_.home() / name;
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        return runtime;
    }

    // The picture comes although the start gave something on the bus up,
    // as the log says; SIGTERM then ends the program with 0.
    static void expectPictureThenEnd(JourneyApp& app, const std::string& told) {
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
            << app.describe();
        EXPECT_NE(app.log().find(told), std::string::npos) << app.log();
        app.signal(SIGTERM);
        EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();
    }
};

TEST_F(SessionBusJourney, AStartWhoseBusLauncherNeverAnswersStillShowsThePictureAndEnds) {
    if (!std::filesystem::exists("/etc/machine-id") && !std::filesystem::exists("/var/lib/dbus/machine-id")) {
        GTEST_SKIP() << "without a machine id no launcher is asked for a bus";
    }
    if (std::filesystem::exists("/usr/bin/dbus-launch")) GTEST_SKIP() << "the real dbus-launch is found first";
    const std::filesystem::path tools = desktop_.home() / "tools";
    std::filesystem::create_directories(tools);
    const std::filesystem::path asked = desktop_.home() / "launcher-asked";
    {
        std::ofstream launcher(tools / "dbus-launch");
        launcher << "#!/bin/sh\necho \"$@\" >> '" << asked.string() << "'\nexec sleep 600\n";
    }
    std::filesystem::permissions(tools / "dbus-launch", std::filesystem::perms::owner_all);
    // No bus in the runtime folder either.
    const std::filesystem::path runtime = desktop_.home() / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    JourneyApp app(desktop_, "nobus", LUMENHOLLOW_DEMO_PATH,
                   {"PATH=" + tools.string() + ":" + (path ? path : "/usr/bin:/bin"),
                    "XDG_RUNTIME_DIR=" + runtime.string()});
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    EXPECT_TRUE(std::filesystem::exists(asked)) << "the launcher was never asked: the journey shows nothing";
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();
}

// A session bus that accepts and never answers (a stopped dbus-daemon, a
// stale socket), named by the address or found in the runtime folder: the
// start gives it up after a bounded greeting and shows its picture without
// it (no tray icon, keyring or screen saver inhibition), and ends on
// SIGTERM. Left to Qt, the tray icon's connection waits for the bus's
// answer on the main thread for good, before any window exists.
TEST_F(SessionBusJourney, AStartOnABusThatNeverAnswersShowsThePictureWithoutIt) {
    const struct {
        const char* name;
        bool named;
    } cases[] = {{"named by the address", true}, {"in the runtime folder", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path runtime = runtimeFolder(std::string("runtime-") + (c.named ? "named" : "found"));
        hollowkit::testsupport::SilentBus silent(c.named ? desktop_.home() / (std::string(c.name).substr(0, 5) + "-bus")
                                                         : runtime / "bus");
        ASSERT_TRUE(silent.listening()) << silent.path();
        std::vector<std::string> environment{"XDG_RUNTIME_DIR=" + runtime.string()};
        if (c.named) environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + silent.address());
        JourneyApp app(desktop_, c.named ? "named" : "found", LUMENHOLLOW_DEMO_PATH, environment);
        ASSERT_TRUE(silent.waitForClient(60s)) << "the bus was never greeted\n" << app.log();
        ASSERT_NO_FATAL_FAILURE(expectPictureThenEnd(app, "did not answer within"));
    }
}

// A termination signal that comes while the start waits for the bus's
// answer, before any window exists, ends the start at once with 0.
TEST_F(SessionBusJourney, ASignalWhileTheStartWaitsForTheBusEndsItAtOnce) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        hollowkit::testsupport::SilentBus silent(desktop_.home() / ("bus-" + std::to_string(signal)));
        ASSERT_TRUE(silent.listening()) << silent.path();
        JourneyApp app(desktop_, "signal-" + std::to_string(signal), LUMENHOLLOW_DEMO_PATH,
                       {"XDG_RUNTIME_DIR=" + runtimeFolder("runtime-signal").string(),
                        "DBUS_SESSION_BUS_ADDRESS=" + silent.address()});
        ASSERT_TRUE(silent.waitForClient(60s)) << "the bus was never greeted\n" << app.log();
        app.signal(signal);
        EXPECT_EQ(app.waitForExit(20s), std::optional<int>(0)) << app.describe();
        // Ended in the greeting, not after giving the bus up.
        EXPECT_NE(app.log().find("Asked to end while waiting for the session bus"), std::string::npos) << app.log();
        EXPECT_EQ(app.log().find("did not answer within"), std::string::npos) << app.log();
    }
}

// A bus that answers the Hello and then nothing (a daemon stopped just
// after a greeting): the start's greeting asks it a call of its own as
// well, gives it up and shows the picture without it. Taken for a bus, it
// held the tray icon and the accessibility bridge on the main thread for
// Qt's 25 s each.
TEST_F(SessionBusJourney, ABusThatAnswersOnlyTheHelloIsGivenUp) {
    hollowkit::testsupport::HelloOnlyBus bus(desktop_.home() / "hello-bus");
    ASSERT_TRUE(bus.listening()) << bus.path();
    JourneyApp app(desktop_, "hello", LUMENHOLLOW_DEMO_PATH,
                   {"XDG_RUNTIME_DIR=" + runtimeFolder("runtime-hello").string(),
                    "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    expectPictureThenEnd(app, "did not answer within");
}

// A bus that passes the start's greeting and then holds Qt's blocking
// calls on the main thread, before the event loop runs: a signal there
// ends the start at once, as it ends one waiting in the greeting.
TEST_F(SessionBusJourney, ASignalWhileQtWaitsForTheBusBeforeTheWindowEndsTheStartAtOnce) {
    // The Hello and the greeting's call answered, nothing after.
    hollowkit::testsupport::HelloOnlyBus bus(desktop_.home() / "held-bus", 2);
    ASSERT_TRUE(bus.listening()) << bus.path();
    JourneyApp app(desktop_, "held", LUMENHOLLOW_DEMO_PATH,
                   {"XDG_RUNTIME_DIR=" + runtimeFolder("runtime-held").string(),
                    "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    ASSERT_TRUE(waitFor([&bus] { return bus.hellosAnswered() >= 2 && bus.callsIgnored() > 0; }, 60s))
        << "the start never waited on the bus\n"
        << app.describe();
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(10s), std::optional<int>(0)) << app.describe();
    EXPECT_EQ(app.log().find("did not answer within"), std::string::npos) << app.log();
}

// A session bus whose tray watcher's owner never answers (a stopped panel):
// the start asks the watcher itself, bounded, and shows its picture
// without a tray icon. Left to Qt, the tray icon's question held the main
// thread for D-Bus's 25 s before any window existed.
TEST_F(SessionBusJourney, AStartWhoseTrayWatcherNeverAnswersShowsThePictureWithoutATrayIcon) {
    if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "no dbus-daemon on this machine";
    hollowkit::PrivateDbusDaemon bus;
    ASSERT_TRUE(bus.start());
    // Takes the watcher's name and never reads a message.
    auto owner = sdbus::createSessionBusConnectionWithAddress(bus.address());
    owner->requestName("org.kde.StatusNotifierWatcher");
    JourneyApp app(desktop_, "tray-watcher", LUMENHOLLOW_DEMO_PATH,
                   {"XDG_RUNTIME_DIR=" + runtimeFolder("runtime-tray").string(),
                    "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    expectPictureThenEnd(app, "The tray watcher (org.kde.StatusNotifierWatcher) did not answer within");
}

}  // namespace
}  // namespace lumenhollow::journey
