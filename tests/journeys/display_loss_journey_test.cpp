// The display lost under the running program: the X server it shows on
// ends, killed as a crash kills it or ended as the session's end ends it.
// Qt ends a program whose display went with exit(1); this one first
// finishes what records, then ends with status 1, never by a signal, after
// a log line that says the display was lost and what was saved. During a
// recording the movie is finished (one index, no fragments left), decodes
// whole and plays about as long as the recording ran before the server
// went. Several times in a row, each on a desktop of its own: the aborts
// this guards against came in some runs only.

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

using std::chrono::steady_clock;

class DisplayLossJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
    }
};

// Runs of the recording case; the server's end alternates between the two signals.
constexpr int kRuns = 4;

TEST_F(DisplayLossJourney, DuringARecordingTheMovieIsFinishedAndTheProgramEndsWithOne) {
    for (int run = 0; run < kRuns; ++run) {
        const int signal = run % 2 == 0 ? SIGKILL : SIGTERM;
        SCOPED_TRACE("run " + std::to_string(run + 1) + ", the X server ended by " +
                     (signal == SIGKILL ? "SIGKILL" : "SIGTERM"));
        JourneyDesktop desktop;
        desktop.start();
        ASSERT_FALSE(HasFatalFailure());
        storeWelcomed(desktop);
        JourneyApp app(desktop, "display-lost-" + std::to_string(run + 1), LUMENHOLLOW_DEMO_PATH);
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
            << app.describe();
        ASSERT_TRUE(app.key("ctrl+r"));
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == true; }, 60s))
            << app.describe();
        const auto recordingSeen = steady_clock::now();
        // Three seconds by the report's own clock, with the movie on disk.
        ASSERT_TRUE(app.waitForRecording(30, 60s, [&] { return !moviesIn(desktop.outputFolder()).empty(); }))
            << app.describe();
        const double recordedSeconds = std::chrono::duration<double>(steady_clock::now() - recordingSeen).count();

        desktop.x().end(signal);
        ASSERT_EQ(app.waitForExit(120s), std::optional<int>(1)) << app.describe();
        const std::string log = app.log();
        EXPECT_NE(log.find("The display was lost during a recording"), std::string::npos) << log;
        EXPECT_NE(log.find("before ending: Video saved"), std::string::npos) << log;
        EXPECT_EQ(log.find("terminate called"), std::string::npos) << log;

        const std::vector<std::filesystem::path> movies = moviesIn(desktop.outputFolder());
        ASSERT_EQ(movies.size(), 1u) << log;
        std::string error;
        const std::optional<ProbedMovie> movie = probeMovie(movies.front(), &error);
        ASSERT_TRUE(movie) << movies.front() << " cannot be read: " << error << "\n" << log;
        EXPECT_TRUE(isFinishedMovie(movies.front()));
        EXPECT_GT(movie->videoStreams, 0);
        EXPECT_GT(movie->audioStreams, 0) << "the computer's microphone plays a tone";
        // The recording ran at least as long as the test saw it run; a
        // movie cut off keeps only its whole fragments, a second or more
        // short of that.
        EXPECT_GT(movie->durationSeconds, recordedSeconds - 0.5) << "recorded for " << recordedSeconds << " s";
        EXPECT_TRUE(wholeMovieDecodes(movies.front()));
    }
}

// Nothing under way: the same ending, with nothing to save.
TEST_F(DisplayLossJourney, WithNothingUnderWayTheProgramEndsWithOneAndSaysSo) {
    JourneyDesktop desktop;
    desktop.start();
    ASSERT_FALSE(HasFatalFailure());
    storeWelcomed(desktop);
    JourneyApp app(desktop, "display-lost-idle", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    desktop.x().end(SIGKILL);
    ASSERT_EQ(app.waitForExit(120s), std::optional<int>(1)) << app.describe();
    const std::string log = app.log();
    EXPECT_NE(log.find("The display was lost; nothing was left to save"), std::string::npos) << log;
    EXPECT_TRUE(moviesIn(desktop.outputFolder()).empty());
}

}  // namespace
}  // namespace lumenhollow::journey
