// A start on a desktop without a session bus whose dbus-launch never
// answers (as a launcher stuck before it runs anything leaves it): the
// program still shows its picture and ends on SIGTERM with 0. Left to the
// D-Bus library, the look for a bus runs that launcher from the main thread
// once the tray icon is made, and waits for its answer for ever.

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {
namespace {

class SessionBusJourney : public ReturningUserJourney {};

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

}  // namespace
}  // namespace lumenhollow::journey
