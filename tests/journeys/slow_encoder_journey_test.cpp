// A movie recorded while the encoder cannot keep up: the program runs with
// an encoder that waits before every frame (LUMENHOLLOW_DEMO_ENCODER_DELAY),
// so it takes only some of the camera's frames, as on a loaded machine. The
// movie's picture and sound both start at its first frame and end together,
// within a frame period, and it decodes to its end.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

// The demo camera's frame period.
constexpr double kFramePeriod = 1.0 / 30;
// Long enough that the encoder takes about one frame in six at 30 a second.
constexpr const char* kEncoderDelay = "LUMENHOLLOW_DEMO_ENCODER_DELAY=200";

class SlowEncoderJourney : public ReturningUserJourney {};

TEST_F(SlowEncoderJourney, PictureAndSoundEndTogetherWhenTheEncoderFallsBehind) {
    JourneyApp app(desktop_, "demo", LUMENHOLLOW_DEMO_PATH, {kEncoderDelay});
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    // Four seconds by the report's own clock, with the movie on disk.
    ASSERT_TRUE(app.waitForRecording(40, 90s, [&] { return !moviesIn(desktop_.outputFolder()).empty(); }))
        << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    std::string notice;
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            if (s["notice"].is_string()) notice = s["notice"].get<std::string>();
            return s["recording"] == false && !notice.empty();
        },
        90s))
        << app.describe();
    EXPECT_EQ(notice, "Video saved");

    const std::vector<std::filesystem::path> movies = moviesIn(desktop_.outputFolder());
    ASSERT_EQ(movies.size(), 1u);
    std::string error;
    const std::optional<ProbedMovie> movie = probeMovie(movies.front(), &error);
    ASSERT_TRUE(movie) << error;
    ASSERT_EQ(movie->audioStreams, 1) << "the demo camera's sound";
    // The encoder fell behind: far fewer frames than the camera gave.
    EXPECT_LT(static_cast<double>(movie->videoPackets), movie->videoSeconds / kFramePeriod / 2);
    EXPECT_GT(movie->videoSeconds, 1.0);
    EXPECT_NEAR(movie->videoStart, 0.0, kFramePeriod);
    EXPECT_NEAR(movie->audioStart, 0.0, kFramePeriod);
    EXPECT_NEAR(movie->audioSeconds, movie->videoSeconds, kFramePeriod);
    EXPECT_TRUE(isFinishedMovie(movies.front()));
    EXPECT_TRUE(wholeMovieDecodes(movies.front()));

    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
