// SIGTERM during a recording: Ctrl+R starts a movie on the computer, and
// once it holds a couple of seconds the session's end (SIGTERM, as a
// logout sends it) ends the program with status 0 in good time, leaving the
// movie finished (one index, no fragments left): ffprobe reads its length,
// its picture and its sound, and its last frames decode.
// Before it, a run is killed (SIGKILL) moments after Ctrl+R: whatever that
// leaves is no movie without a picture, and once the next run has started
// the output folder holds movies with pictures and nothing else.

#include <signal.h>

#include <cstdint>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

class SigtermJourney : public ReturningUserJourney {};

// Every entry of the output folder is a movie (shown, not empty) in which
// ffprobe finds a picture.
void expectOnlyMoviesWithPictures(const std::filesystem::path& folder) {
    for (const auto& entry : entriesIn(folder)) {
        const std::string name = entry.filename().string();
        EXPECT_FALSE(name.starts_with(".")) << name << " is left over";
        std::string error;
        const std::optional<ProbedMovie> movie = probeMovie(entry, &error);
        EXPECT_TRUE(movie && movie->videoPackets > 0) << name << " holds no picture: " << error;
    }
}

TEST_F(SigtermJourney, ARecordingCutShortBySigtermIsFinishedAndPlays) {
    std::set<std::filesystem::path> fromTheKilledRun;
    {
        JourneyApp killed(desktop_, "killed", LUMENHOLLOW_DEMO_PATH);
        ASSERT_TRUE(killed.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
            << killed.describe();
        ASSERT_TRUE(killed.key("ctrl+r"));
        ASSERT_TRUE(killed.waitForState([](const nlohmann::json& s) { return s["recording"] == true; }, 30s))
            << killed.describe();
        std::this_thread::sleep_for(50ms);
        killed.signal(SIGKILL);
        EXPECT_EQ(killed.waitForExit(30s), std::optional<int>(128 + SIGKILL));
        // Under a movie's name there is no movie without a picture.
        for (const auto& movie : moviesIn(desktop_.outputFolder())) {
            std::error_code error;
            if (std::filesystem::file_size(movie, error) == 0) continue;
            std::string why;
            const std::optional<ProbedMovie> probed = probeMovie(movie, &why);
            EXPECT_TRUE(probed && probed->videoPackets > 0) << movie << " holds no picture: " << why;
            fromTheKilledRun.insert(movie);
        }
    }

    JourneyApp app(desktop_, "sigterm", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_EQ(app.state()["welcome"], false) << "the stored settings should spare the welcome";

    ASSERT_TRUE(app.key("ctrl+r"));
    // Until the movie on disk holds a second and a half, however long a
    // loaded machine takes to write it.
    const std::optional<ProbedMovie> written = waitForMovieToHold(desktop_.outputFolder(), 1.5, fromTheKilledRun);
    ASSERT_TRUE(written) << "the movie never held a second and a half\n" << app.describe();

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();

    std::vector<std::filesystem::path> movies = moviesIn(desktop_.outputFolder());
    std::erase_if(movies, [&](const std::filesystem::path& movie) { return fromTheKilledRun.count(movie) != 0; });
    ASSERT_EQ(movies.size(), 1u) << app.log();
    std::string error;
    const std::optional<ProbedMovie> movie = probeMovie(movies.front(), &error);
    ASSERT_TRUE(movie) << movies.front() << " cannot be read: " << error << "\n" << app.log();
    EXPECT_TRUE(isFinishedMovie(movies.front()));
    // Every picture on disk by the signal is in the finished movie (the length
    // ffprobe reads in a movie still being written is not compared: it can
    // reach past its pictures, once 8.9 s against the finished 7.3 s).
    EXPECT_GE(movie->videoPackets, written->videoPackets)
        << movie->durationSeconds << " s against " << written->durationSeconds << " s on disk before the signal";
    EXPECT_GT(movie->videoStreams, 0);
    EXPECT_GT(movie->audioStreams, 0) << "the computer's microphone plays a tone";
    EXPECT_TRUE(lastFramesDecode(movies.front()));
    expectOnlyMoviesWithPictures(desktop_.outputFolder());
}

}  // namespace
}  // namespace lumenhollow::journey
