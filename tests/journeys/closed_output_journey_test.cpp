// A closed output pipe: the program's standard output (or its standard
// error) goes into a pipe whose reader takes what came before the picture
// and goes, as `lumenhollow-demo | head -c 1` leaves it once its byte has
// come (the log's first line comes with Record). Ctrl+R then records
// a few seconds, Ctrl+R stops and Ctrl+Q quits: every log line of the
// recording is written into that pipe, and none of them may end the program
// or its movie. It quits with status 0 and the movie decodes from start to
// end. The program catches SIGPIPE and does not ignore it, so what it starts
// gets the signal at its default.

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"

namespace lumenhollow::journey {
namespace {

struct ClosedOutputCase {
    const char* name;
    int stream;  // STDOUT_FILENO or STDERR_FILENO
    // What puts lines on the stream while the program records: the log is
    // on standard output; Qt's own messages, forced onto standard error,
    // come with every shortcut pressed.
    std::vector<std::string> environment;
};

class ClosedOutputJourney : public ReturningUserJourney, public testing::WithParamInterface<ClosedOutputCase> {};

// The bits of one "Sig...:" line of /proc/<pid>/status.
unsigned long long signalMask(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1), nullptr, 16);
    }
    return 0;
}

// Reads what has come so far, without waiting.
void drain(int fd) {
    char buffer[4096];
    pollfd entry{fd, POLLIN, 0};
    while (::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN)) {
        if (::read(fd, buffer, sizeof buffer) <= 0) break;
    }
}

// How the program ended, if it did.
std::string ended(JourneyApp& app) {
    if (app.running()) return "";
    return "the program ended with status " + std::to_string(app.waitForExit(0ms).value_or(-1)) + "\n";
}

TEST_P(ClosedOutputJourney, ARecordingMadeAfterTheReaderWentIsWholeAndTheProgramQuitsWithZero) {
    const ClosedOutputCase& c = GetParam();
    JourneyApp app(desktop_, c.name, LUMENHOLLOW_DEMO_PATH, c.environment, {}, {}, c.stream);
    ASSERT_GE(app.pipedOutput(), 0);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_TRUE(app.window()) << app.describe();
    drain(app.pipedOutput());
    app.closePipedOutput();

    const unsigned long long pipeBit = 1ULL << (SIGPIPE - 1);
    EXPECT_NE(signalMask(app.pid(), "SigCgt") & pipeBit, 0ULL) << "SIGPIPE is caught";
    EXPECT_EQ(signalMask(app.pid(), "SigIgn") & pipeBit, 0ULL) << "SIGPIPE is not ignored";
    EXPECT_EQ(signalMask(app.pid(), "SigBlk") & pipeBit, 0ULL) << "SIGPIPE is not blocked";

    ASSERT_TRUE(app.key("ctrl+r"));
    // Until the movie on disk holds two seconds, however long a loaded
    // machine takes to write them.
    const std::optional<ProbedMovie> written = waitForMovieToHold(desktop_.outputFolder(), 2.0);
    ASSERT_TRUE(written) << "the movie never held two seconds\n" << ended(app) << app.describe();
    ASSERT_TRUE(app.running()) << ended(app) << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == false; }, 60s))
        << app.describe();
    ASSERT_TRUE(app.running()) << ended(app) << app.describe();
    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(120s), std::optional<int>(0)) << app.describe();

    const std::vector<std::filesystem::path> movies = moviesIn(desktop_.outputFolder());
    ASSERT_EQ(movies.size(), 1u) << app.log();
    std::string error;
    const std::optional<ProbedMovie> movie = probeMovie(movies.front(), &error);
    ASSERT_TRUE(movie) << movies.front() << " cannot be read: " << error << "\n" << app.log();
    EXPECT_TRUE(isFinishedMovie(movies.front()));
    // Every picture on disk by the stop is in the finished movie (the length
    // ffprobe reads in a movie still being written is not compared: it can
    // reach past its pictures, once 8.9 s against the finished 7.3 s).
    EXPECT_GE(movie->videoPackets, written->videoPackets)
        << movie->durationSeconds << " s against " << written->durationSeconds << " s on disk before the stop";
    EXPECT_GT(movie->videoStreams, 0);
    EXPECT_GT(movie->audioStreams, 0) << "the computer's microphone plays a tone";
    EXPECT_TRUE(wholeMovieDecodes(movies.front()));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ClosedOutputJourney,
    testing::Values(ClosedOutputCase{"StandardOutput", STDOUT_FILENO, {}},
                    ClosedOutputCase{"StandardError",
                                     STDERR_FILENO,
                                     {"QT_FORCE_STDERR_LOGGING=1", "QT_LOGGING_RULES=qt.gui.shortcutmap=true"}}),
    [](const testing::TestParamInfo<ClosedOutputCase>& stream) { return std::string(stream.param.name); });

}  // namespace
}  // namespace lumenhollow::journey
