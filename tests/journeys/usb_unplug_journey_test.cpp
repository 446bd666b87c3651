// A fault on the way: the Pocket's cable is pulled while the application
// records a movie from it. The video node fails, the camera leaves the USB
// bus and udev says so, and its microphone leaves the sound server. The
// application says what happened, the recording ends, and the movie left
// on disk plays to its end.

#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/journeys/journey_movies.h"
#include "tests/journeys/usb_journey_steps.h"

namespace lumenhollow::journey {
namespace {

constexpr const char* kDisconnectedNotice = "The camera was disconnected";

class UsbUnplugJourney : public ReturningUserJourney {};

TEST_F(UsbUnplugJourney, UnpluggedMidRecordingTheMovieEndsSaidAndPlayable) {
    const PocketSoundSource sound = addPocketSoundSource(desktop_);
    ASSERT_TRUE(sound.module) << sound.error;
    JourneyApp app(desktop_, "unplug", LUMENHOLLOW_JOURNEY_USB_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();

    ASSERT_TRUE(app.key("ctrl+r"));
    // Three seconds of reports while recording.
    ASSERT_TRUE(app.waitForRecording(30, 60s)) << app.describe();

    app.signal(SIGUSR1);
    desktop_.pulse().pactl({"unload-module", *sound.module});
    // The notice may come and go between two reports' reads: any report
    // that showed it counts.
    bool told = false;
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            told = told || (s["notice"].is_string() &&
                            s["notice"].get<std::string>().rfind(kDisconnectedNotice, 0) == 0);
            return told && s["recording"] == false;
        },
        60s))
        << "no notice of the unplugged camera, or the recording went on\n" << app.describe();
    EXPECT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["cameraOff"] == true; }))
        << "the window does not say the camera is gone\n" << app.describe();

    std::optional<ProbedMovie> movie;
    std::string error;
    std::filesystem::path file;
    ASSERT_TRUE(waitFor(
        [&] {
            const std::vector<std::filesystem::path> movies = moviesIn(desktop_.outputFolder());
            if (movies.size() != 1) return false;
            file = movies.front();
            movie = probeMovie(file, &error);
            return movie && movie->durationSeconds > 0;
        },
        90s))
        << "no playable movie: " << error << "\n" << app.describe();
    EXPECT_EQ(movie->videoStreams, 1);
    EXPECT_GE(movie->durationSeconds, 1.0);
    EXPECT_TRUE(lastFramesDecode(file)) << "the movie's last second has no picture";

    // Still running, and quits as usual.
    EXPECT_TRUE(app.running()) << app.describe();
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
