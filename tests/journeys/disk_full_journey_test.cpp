// A disk that fills during a recording: the program runs with a cap on the
// size of any file it writes, so the movie's writes past it fail (EFBIG) as
// they would on a full disk. Nobody stops the recording: it ends by itself
// with "Recording failed: " and the system's reason, the program goes on,
// and the one movie left behind (no half-written temporary beside it) opens
// in ffprobe and decodes to its last frame without an error.

#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

// Room for a few seconds of the demo camera's movie.
constexpr rlim_t kDiskRoom = 3 * 1024 * 1024;

class DiskFullJourney : public ReturningUserJourney {};

TEST_F(DiskFullJourney, TheRecordingEndsWithItsNoticeAndLeavesAMovieThatPlaysToItsEnd) {
    JourneyApp app(desktop_, "demo", LUMENHOLLOW_DEMO_PATH, {}, {}, {{RLIMIT_FSIZE, kDiskRoom}});
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == true; }, 30s))
        << app.describe();

    std::string notice;
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            if (s["notice"].is_string()) notice = s["notice"].get<std::string>();
            return s["recording"] == false && !notice.empty();
        },
        90s))
        << app.describe();
    EXPECT_EQ(notice.rfind("Recording failed: ", 0), 0u) << notice;
    EXPECT_NE(notice.find(std::strerror(EFBIG)), std::string::npos) << notice;
    EXPECT_TRUE(app.running()) << app.describe();

    const std::vector<std::filesystem::path> entries = entriesIn(desktop_.outputFolder());
    ASSERT_EQ(entries.size(), 1u) << "expected the movie alone in " << desktop_.outputFolder();
    const std::filesystem::path movie = entries.front();
    EXPECT_EQ(movie.extension(), ".mov");

    // Every packet of the video track decodes to a frame, the last ones too,
    // and the whole movie decodes without one error.
    std::string error;
    const std::optional<ProbedMovie> counted = probeMovie(movie, &error, MovieCount::frames);
    ASSERT_TRUE(counted.has_value()) << "ffprobe cannot read the movie: " << error;
    EXPECT_GE(counted->videoPackets, 15);
    EXPECT_EQ(counted->videoFrames, counted->videoPackets) << "packets that do not decode";
    EXPECT_TRUE(wholeMovieDecodes(movie));

    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
