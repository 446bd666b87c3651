// SIGTERM during a recording: Ctrl+R starts a movie on the computer, and
// once it holds a couple of seconds the session's end (SIGTERM, as a
// logout sends it) ends the program with status 0 in good time, leaving the
// movie finished (one index, no fragments left): ffprobe reads its length,
// its picture and its sound, and its last frames decode.

#include <signal.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

class SigtermJourney : public ReturningUserJourney {};

TEST_F(SigtermJourney, ARecordingCutShortBySigtermIsFinishedAndPlays) {
    JourneyApp app(desktop_, "sigterm", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_EQ(app.state()["welcome"], false) << "the stored settings should spare the welcome";

    ASSERT_TRUE(app.key("ctrl+r"));
    // Two seconds by the report's own clock (one sample every 100 ms) after
    // the recording began, with the movie on disk.
    ASSERT_TRUE(app.waitForRecording(20, 60s, [&] { return !moviesIn(desktop_.outputFolder()).empty(); }))
        << app.describe();

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();

    const auto movies = moviesIn(desktop_.outputFolder());
    ASSERT_EQ(movies.size(), 1u) << app.log();
    std::string error;
    const std::optional<ProbedMovie> movie = probeMovie(movies.front(), &error);
    ASSERT_TRUE(movie) << movies.front() << " cannot be read: " << error << "\n" << app.log();
    EXPECT_TRUE(isFinishedMovie(movies.front()));
    EXPECT_GT(movie->durationSeconds, 1.0);
    EXPECT_GT(movie->videoStreams, 0);
    EXPECT_GT(movie->audioStreams, 0) << "the computer's microphone plays a tone";
    EXPECT_TRUE(lastFramesDecode(movies.front()));
}

}  // namespace
}  // namespace lumenhollow::journey
