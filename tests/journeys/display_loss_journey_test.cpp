// The display lost under the running program: the X server it shows on
// ends, killed as a crash kills it or ended as the session's end ends it.
// Qt ends a program whose display went with exit(1); this one first
// finishes what records, then ends with status 1, never by a signal, after
// a log line that says the display was lost and what was saved. During a
// recording the movie is finished (one index, no fragments left), decodes
// whole and holds every picture that was on disk before the server went (a
// movie cut off keeps only its whole fragments, and no index); during a take of
// the screen, its movies are finished; photos still waiting to be written
// are written whole. The recording
// case runs several times in a row, each on a desktop of its own: the
// aborts this guards against came in some runs only.

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/still_image_probe.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

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
        // Three seconds by the report's own clock, and what the movie on
        // disk holds by then, read just before the server goes: the
        // finished movie keeps all of it and what was still on its way.
        std::optional<ProbedMovie> written;
        ASSERT_TRUE(app.waitForRecording(30, 60s, [&] {
            written = probeMovieBeingWritten(desktop.outputFolder());
            return written.has_value();
        })) << app.describe();

        desktop.x().end(signal);
        ASSERT_EQ(app.waitForExit(120s), std::optional<int>(1)) << app.describe();
        const std::string log = app.log();
        EXPECT_NE(log.find("The display was lost during a recording"), std::string::npos) << log;
        // The movie is saved within the shutdown's bound for a recording's
        // finish, or, on a machine too slow for that, the line says its end
        // was not reported (the teardown still completes it).
        const bool finishedLate = log.find("The recording was not finished within") != std::string::npos;
        EXPECT_NE(log.find(finishedLate ? "its end was not reported before ending" : "before ending: Video saved"),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find("terminate called"), std::string::npos) << log;

        const std::vector<std::filesystem::path> movies = moviesIn(desktop.outputFolder());
        ASSERT_EQ(movies.size(), 1u) << log;
        std::string error;
        const std::optional<ProbedMovie> movie = probeMovie(movies.front(), &error);
        ASSERT_TRUE(movie) << movies.front() << " cannot be read: " << error << "\n" << log;
        EXPECT_TRUE(isFinishedMovie(movies.front()));
        EXPECT_GT(movie->videoStreams, 0);
        EXPECT_GT(movie->audioStreams, 0) << "the computer's microphone plays a tone";
        // Every picture that was on disk is in the finished movie (its sound
        // may end sooner: it ends with the picture).
        EXPECT_GE(movie->videoPackets, written->videoPackets)
            << movie->durationSeconds << " s against " << written->durationSeconds << " s on disk before";
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

// A take of the screen and the camera: the screen's stream goes with the
// display, the take stops, and its movies are finished before the end; the
// log names the take whose combined movie is left to a rebuild.
TEST_F(DisplayLossJourney, DuringAScreenTakeItsMoviesAreFinishedAndTheProgramEndsWithOne) {
    JourneyDesktop desktop;
    desktop.start();
    ASSERT_FALSE(HasFatalFailure());
    const std::filesystem::path settings = desktop.configHome() / "lumenhollow" / "settings.json";
    std::filesystem::create_directories(settings.parent_path());
    std::ofstream(settings) << R"({"welcomed": true, "recordScreen": true})" << '\n';
    JourneyApp app(desktop, "display-lost-take", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    ASSERT_TRUE(app.waitForRecording(20, 60s)) << app.describe();
    desktop.x().end(SIGKILL);
    ASSERT_EQ(app.waitForExit(120s), std::optional<int>(1)) << app.describe();
    const std::string log = app.log();

    std::vector<std::filesystem::path> takes;
    for (const auto& entry : entriesIn(desktop.outputFolder())) {
        if (std::filesystem::is_directory(entry)) takes.push_back(entry);
    }
    ASSERT_EQ(takes.size(), 1u) << log;
    // The take is named with what it lacks and how to make it.
    EXPECT_NE(log.find("before ending: the combined video of the take in " + takes.front().string() +
                       " was not made; its Screen.mov and Camera.mov are whole, and \"Rebuild Another Take…\""),
              std::string::npos)
        << log;
    EXPECT_FALSE(std::filesystem::exists(takes.front() / "Combined.mov"));
    EXPECT_TRUE(std::filesystem::exists(takes.front() / "Cursor.json"));
    for (const char* name : {"Screen.mov", "Camera.mov"}) {
        const std::filesystem::path movie = takes.front() / name;
        std::string error;
        const std::optional<ProbedMovie> probed = probeMovie(movie, &error);
        ASSERT_TRUE(probed) << movie << " cannot be read: " << error << "\n" << log;
        EXPECT_TRUE(isFinishedMovie(movie)) << name;
        EXPECT_GT(probed->videoPackets, 0) << name;
        EXPECT_TRUE(wholeMovieDecodes(movie)) << name;
    }
}

// Photos pressed just before the display goes, still held at the
// demonstration's gate when it does: the ending waits for them, each is
// written whole under its own name, and the log line counts them.
TEST_F(DisplayLossJourney, PhotosStillBeingSavedAreWrittenWholeBeforeTheProgramEndsWithOne) {
    constexpr int kPhotos = 3;
    JourneyDesktop desktop;
    desktop.start();
    ASSERT_FALSE(HasFatalFailure());
    storeWelcomed(desktop);
    const std::filesystem::path gate = desktop.home() / "photo-gate";
    JourneyApp app(desktop, "display-lost-photos", LUMENHOLLOW_DEMO_PATH,
                   {"LUMENHOLLOW_DEMO_PHOTO_GATE=" + gate.string()});
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    // Each press is taken by a frame before the next: a press while a photo
    // still waits for its frame would replace that one.
    for (int i = 0; i < kPhotos; ++i) {
        ASSERT_TRUE(app.key("ctrl+s")) << "press " << i;
        ASSERT_TRUE(app.waitForState(
            [&](const nlohmann::json& s) { return s["photos"] == i + 1 && s["photoWaitsForFrame"] == false; }, 60s))
            << "press " << i << "; " << app.describe() << app.log();
    }

    desktop.x().end(SIGKILL);
    // The ending waits for the photos, which are still held.
    const std::string waiting = "Waiting for " + std::to_string(kPhotos) + " photos to be saved";
    EXPECT_TRUE(waitFor([&] { return app.log().find(waiting) != std::string::npos || !app.running(); }, 60s));
    EXPECT_TRUE(app.running()) << "the program ended before its photos were written\n" << app.log();
    std::ofstream(gate).flush();
    ASSERT_EQ(app.waitForExit(120s), std::optional<int>(1)) << app.describe();

    const std::string log = app.log();
    EXPECT_NE(log.find("The display was lost; before ending: Photo saved (" + std::to_string(kPhotos) +
                       " times); ending with status 1"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("were not saved within"), std::string::npos) << log;
    EXPECT_EQ(log.find("terminate called"), std::string::npos) << log;
    const std::vector<std::filesystem::path> entries = entriesIn(desktop.outputFolder());
    ASSERT_EQ(entries.size(), static_cast<size_t>(kPhotos)) << log;
    for (const auto& entry : entries) {
        const std::string name = entry.filename().string();
        EXPECT_TRUE(name.starts_with("Lumenhollow Photo ") && name.ends_with(".heic")) << name << " is left over";
        EXPECT_NE(log.find("Photo saved: " + name), std::string::npos) << name << " is not named\n" << log;
        std::string why;
        EXPECT_TRUE(hollowkit::decodeHeifFile(entry, &why)) << name << ": " << why;
    }
}

}  // namespace
}  // namespace lumenhollow::journey
