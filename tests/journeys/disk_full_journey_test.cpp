// A disk that fills during a recording: once the movie holds some pictures,
// the program is given a cap on the size of any file it writes, at the
// movie's size then, so the movie's next writes fail (EFBIG) as they would
// on a full disk. Nobody stops the recording: it ends by itself with
// "Recording failed: " and the system's reason, the program goes on, and
// the one movie left behind (no half-written temporary beside it) opens in
// ffprobe, keeps every picture it held when the disk filled and decodes to
// its last frame without an error. The disk fills when the movie is far
// enough, not after a time: a loaded machine writes the same movie slower.

#include <sys/resource.h>

#include <cerrno>
#include <cstdint>
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

// The pictures the movie holds on the disk before the disk fills.
constexpr long kPicturesBeforeFull = 15;

class DiskFullJourney : public ReturningUserJourney {};

TEST_F(DiskFullJourney, TheRecordingEndsWithItsNoticeAndLeavesAMovieThatPlaysToItsEnd) {
    JourneyApp app(desktop_, "demo", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == true; }, 30s))
        << app.describe();

    // What the movie holds on the disk, read afresh as each fragment comes,
    // for as long as the program writes it.
    const std::filesystem::path copy = desktop_.home() / "before-full.mov";
    std::filesystem::path movie;
    std::optional<ProbedMovie> before;
    std::string unread;
    uintmax_t copied = 0;
    ASSERT_TRUE(waitWhileProgressing(
        [&] {
            const std::vector<std::filesystem::path> movies = moviesIn(desktop_.outputFolder());
            if (movies.size() != 1 || !copyWholeFragments(movies.front(), copy)) return false;
            movie = movies.front();
            if (std::filesystem::file_size(copy) == copied) return false;
            copied = std::filesystem::file_size(copy);
            before = probeMovie(copy, &unread);
            return before && before->videoPackets >= kPicturesBeforeFull;
        },
        [&] { return sizesUnder(desktop_.outputFolder()); }))
        << "the movie never held " << kPicturesBeforeFull << " pictures; its whole fragments last read as "
        << (before ? std::to_string(before->videoPackets) + " pictures" : unread) << "\n"
        << app.describe();
    std::error_code sizeError;
    const uintmax_t full = std::filesystem::file_size(movie, sizeError);
    ASSERT_FALSE(sizeError) << sizeError.message();
    ASSERT_TRUE(app.limit({RLIMIT_FSIZE, static_cast<rlim_t>(full)})) << std::strerror(errno);

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
    std::filesystem::remove(copy);

    const std::vector<std::filesystem::path> entries = entriesIn(desktop_.outputFolder());
    ASSERT_EQ(entries.size(), 1u) << "expected the movie alone in " << desktop_.outputFolder();
    EXPECT_EQ(entries.front(), movie);
    EXPECT_EQ(movie.extension(), ".mov");

    // Every packet of the video track decodes to a frame, the last ones too,
    // and the whole movie decodes without one error.
    std::string error;
    const std::optional<ProbedMovie> counted = probeMovie(movie, &error, MovieCount::frames);
    ASSERT_TRUE(counted.has_value()) << "ffprobe cannot read the movie: " << error;
    EXPECT_GE(counted->videoPackets, before->videoPackets) << "pictures that were on the disk are gone";
    EXPECT_EQ(counted->videoFrames, counted->videoPackets) << "packets that do not decode";
    EXPECT_TRUE(wholeMovieDecodes(movie));

    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
