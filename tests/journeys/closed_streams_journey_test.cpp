// Started without standard streams: `lumenhollow-demo <&- >&- 2>&-`, as
// some launchers and service managers start a program, or without one of
// the three. Each missing stream is /dev/null in the running program, so no
// pipe, socket or file of its own takes its number (the termination
// signals' pipe on 0 and 1 read each log line as a quit request; the log
// written into a socket on 2). Ctrl+R records three seconds and the program
// stays; Ctrl+R stops, Ctrl+Q quits with status 0, and the movie is
// finished, decodes from start to end and holds every picture that was on
// disk before the stop.

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

struct ClosedStreamsCase {
    const char* name;
    std::vector<int> closed;
};

class ClosedStreamsJourney : public ReturningUserJourney, public testing::WithParamInterface<ClosedStreamsCase> {};

// What descriptor `fd` of process `pid` is open on.
std::string openOn(pid_t pid, int fd) {
    std::error_code error;
    const std::filesystem::path target =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
    return error ? "nothing (" + error.message() + ")" : target.string();
}

std::string endedByItself(JourneyApp& app) {
    if (app.running()) return "";
    return "the program ended by itself with status " + std::to_string(app.waitForExit(0ms).value_or(-1)) + "\n";
}

TEST_P(ClosedStreamsJourney, TheMissingStreamsAreDevNullAndARecordingIsWholeAndTheProgramQuitsWithZero) {
    const ClosedStreamsCase& c = GetParam();
    JourneyApp app(desktop_, c.name, LUMENHOLLOW_DEMO_PATH, {}, {}, {}, std::nullopt, c.closed);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << endedByItself(app) << app.describe();
    for (const int fd : c.closed) EXPECT_EQ(openOn(app.pid(), fd), "/dev/null") << "descriptor " << fd;

    // Every line the log writes while recording reaches the closed streams.
    ASSERT_TRUE(app.key("ctrl+r"));
    std::optional<ProbedMovie> written;
    ASSERT_TRUE(app.waitForRecording(30, 60s, [&] {
        written = probeMovieBeingWritten(desktop_.outputFolder());
        return written.has_value();
    })) << endedByItself(app) << app.describe();
    ASSERT_TRUE(app.running()) << endedByItself(app) << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == false; }, 60s))
        << endedByItself(app) << app.describe();
    ASSERT_TRUE(app.running()) << endedByItself(app) << app.describe();
    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(120s), std::optional<int>(0)) << app.describe();

    const std::vector<std::filesystem::path> movies = moviesIn(desktop_.outputFolder());
    ASSERT_EQ(movies.size(), 1u) << app.describe();
    std::string error;
    const std::optional<ProbedMovie> movie = probeMovie(movies.front(), &error);
    ASSERT_TRUE(movie) << movies.front() << " cannot be read: " << error;
    EXPECT_TRUE(isFinishedMovie(movies.front()));
    // Every picture on disk by the stop is in the finished movie.
    EXPECT_GE(movie->videoPackets, written->videoPackets)
        << movie->durationSeconds << " s against " << written->durationSeconds << " s on disk before the stop";
    EXPECT_GT(movie->videoStreams, 0);
    EXPECT_GT(movie->audioStreams, 0) << "the computer's microphone plays a tone";
    EXPECT_TRUE(wholeMovieDecodes(movies.front()));
}

INSTANTIATE_TEST_SUITE_P(Streams, ClosedStreamsJourney,
                         testing::Values(ClosedStreamsCase{"StandardInput", {STDIN_FILENO}},
                                         ClosedStreamsCase{"StandardOutput", {STDOUT_FILENO}},
                                         ClosedStreamsCase{"StandardError", {STDERR_FILENO}},
                                         ClosedStreamsCase{"AllThree", {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}}),
                         [](const testing::TestParamInfo<ClosedStreamsCase>& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace lumenhollow::journey
