// SIGTERM during a recording: Ctrl+R starts a movie on the computer, and
// once it holds a couple of seconds the session's end (SIGTERM, as a
// logout sends it) ends the program with status 0 in good time, leaving the
// movie finished (one index, no fragments left): ffprobe reads its length,
// its picture and its sound, and its last frames decode.

#include <signal.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

class SigtermJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        desktop_.start();
        storeWelcomed(desktop_);
    }

    JourneyDesktop desktop_;
};

TEST_F(SigtermJourney, ARecordingCutShortBySigtermIsFinishedAndPlays) {
    JourneyApp app(desktop_, "sigterm", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_EQ(app.state()["welcome"], false) << "the stored settings should spare the welcome";

    ASSERT_TRUE(app.key("ctrl+r"));
    uint64_t recordingFrom = 0;
    // Two seconds by the report's own clock (one sample every 100 ms) after
    // the recording began, with the movie on disk.
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            if (s["recording"] != true) return false;
            if (recordingFrom == 0) recordingFrom = s["sample"].get<uint64_t>();
            return s["sample"].get<uint64_t>() >= recordingFrom + 20 && !moviesIn(desktop_.outputFolder()).empty();
        },
        60s))
        << app.describe();

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();

    const auto movies = moviesIn(desktop_.outputFolder());
    ASSERT_EQ(movies.size(), 1u) << app.log();
    const std::optional<MovieReading> movie = readMovie(movies.front());
    ASSERT_TRUE(movie) << movies.front() << " cannot be read\n" << app.log();
    EXPECT_TRUE(isFinishedMovie(movies.front()));
    EXPECT_GT(movie->seconds, 1.0);
    EXPECT_TRUE(movie->hasVideo);
    EXPECT_TRUE(movie->hasAudio) << "the computer's microphone plays a tone";
    EXPECT_TRUE(lastFramesDecode(movies.front()));
}

}  // namespace
}  // namespace lumenhollow::journey
