// A recording killed mid-way: a child process records a camera movie with
// sound in real time and is killed with SIGKILL once it has handed a few
// seconds of frames to the writer. What it leaves must be a movie that
// ffprobe reads and ffmpeg decodes without failing, holding the picture and
// the sound up to within two seconds of the last frame the writer took.
// And the file's own rules: the name only with a picture, and a full disk
// costing only the fragment it cut.

#include "hollowkit/recording/fragmented_movie_file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/media/video_codec.h"
#include "hollowkit/recording/movie_temporaries.h"
#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/hidden_proc.h"
#include "recording_test_support.h"
#include "synthetic_recording.h"

extern char** environ;

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

// Frames the child must have handed to the writer before the kill: four
// seconds, several fragments.
constexpr int kFramesBeforeKill = 120;
// What a kill may cost at most: the fragment being gathered (about a second)
// and the frames inside the encoder.
constexpr double kAllowedLossSeconds = 2.0;

// The child's reports so far.
struct Reports {
    int taken = 0;
    double lastSeconds = -1;
};

// Runs the recording child with its standard output on a pipe.
class RecordingChild {
public:
    RecordingChild(const std::filesystem::path& movie, VideoCodec codec) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        UniqueFd readEnd(fds[0]);
        UniqueFd writeEnd(fds[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
        const std::string program = HOLLOWKIT_MOVIE_CRASH_CHILD;
        const std::string path = movie.string();
        const std::string codecName(toString(codec));
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                        const_cast<char*>(codecName.c_str()), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        output_ = std::move(readEnd);
    }
    ~RecordingChild() { kill(); }
    RecordingChild(const RecordingChild&) = delete;
    RecordingChild& operator=(const RecordingChild&) = delete;

    bool started() const { return pid_ > 0 && output_; }

    // Reads reports until `frames` were taken, the child ends, or the
    // deadline passes.
    Reports waitForFrames(int frames, std::chrono::steady_clock::duration limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (reports_.taken < frames) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd entry{output_.get(), POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(output_.get(), buffer, sizeof buffer);
            if (n <= 0) break;
            pending_.append(buffer, static_cast<size_t>(n));
            parseLines();
        }
        return reports_;
    }

    // SIGKILL, then the reports that were already on their way.
    Reports kill() {
        if (pid_ <= 0) return reports_;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(output_.get(), buffer, sizeof buffer)) > 0) pending_.append(buffer, static_cast<size_t>(n));
        parseLines();
        return reports_;
    }

private:
    void parseLines() {
        size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            int taken = 0;
            double seconds = 0;
            if (std::sscanf(pending_.substr(0, end).c_str(), "taken %d %lf", &taken, &seconds) == 2) {
                reports_.taken = taken;
                reports_.lastSeconds = seconds;
            }
            pending_.erase(0, end + 1);
        }
    }

    pid_t pid_ = -1;
    UniqueFd output_;
    std::string pending_;
    Reports reports_;
};

// Decodes every frame of every track (ffmpeg's framecrc output) and returns
// where each track's decoded content ends, in seconds, by stream index.
// Empty when ffmpeg fails.
std::map<int, double> decodedEnds(const std::filesystem::path& movie) {
    const auto result = CommandRunner::run(
        "/usr/bin/ffmpeg", {"-v", "error", "-i", movie.string(), "-f", "framecrc", "-"}, {}, false, 120s);
    if (result.status != 0) return {};
    std::map<int, std::pair<int64_t, int64_t>> timeBases;
    std::map<int, double> ends;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        int stream = 0;
        int64_t num = 0;
        int64_t den = 0;
        int64_t dts = 0;
        int64_t pts = 0;
        int64_t duration = 0;
        if (std::sscanf(line.c_str(), "#tb %d: %ld/%ld", &stream, &num, &den) == 3) {
            timeBases[stream] = {num, den};
        } else if (std::sscanf(line.c_str(), "%d, %ld, %ld, %ld", &stream, &dts, &pts, &duration) == 4 &&
                   timeBases.count(stream) != 0) {
            const auto [n, d] = timeBases[stream];
            ends[stream] = std::max(ends[stream], static_cast<double>(pts + duration) * n / d);
        }
    }
    return ends;
}

TEST(FragmentedMovieFileTest, KilledRecordingLeavesAPlayableMovieWithSound) {
    testsupport::TempDir dir;
    for (const VideoCodec codec : {VideoCodec::hevc, VideoCodec::h264}) {
        SCOPED_TRACE(std::string(toString(codec)));
        const auto movie = dir.path() / (codec == VideoCodec::hevc ? "hevc.mov" : "h264.mov");
        RecordingChild child(movie, codec);
        ASSERT_TRUE(child.started());
        const Reports before = child.waitForFrames(kFramesBeforeKill, 60s);
        ASSERT_GE(before.taken, kFramesBeforeKill) << "the recording did not get going";
        const Reports reports = child.kill();

        const auto probed = testsupport::probe(movie);
        const auto* video = testsupport::streamOfType(probed, "video");
        const auto* audio = testsupport::streamOfType(probed, "audio");
        ASSERT_NE(video, nullptr) << "ffprobe cannot read what the kill left";
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(video->value("codec_tag_string", ""), codec == VideoCodec::hevc ? "hvc1" : "avc1");

        const auto ends = decodedEnds(movie);
        ASSERT_EQ(ends.size(), 2u) << "ffmpeg could not decode both tracks";
        // Stream 0 is the picture, 1 the sound. Sound keeps coming while a
        // busy writer turns frames away, so it may run a little past them.
        const double delivered = reports.lastSeconds + 1.0 / 30;
        EXPECT_GE(ends.at(0), delivered - kAllowedLossSeconds);
        EXPECT_LE(ends.at(0), delivered + 0.2);
        EXPECT_GE(ends.at(1), delivered - kAllowedLossSeconds);
        EXPECT_LE(ends.at(1), delivered + 1.0);
    }
}

std::vector<std::string> hiddenNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto name = entry.path().filename().string();
        if (name.starts_with(".")) names.push_back(name);
    }
    return names;
}

uint64_t fragmentedSize(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : size;
}

// The name reserved for a movie stays its empty reservation until a fragment
// holding a picture is on the disk; until then the movie is one hidden
// temporary of ours, after that nothing hidden is left. Sound alone never
// takes the name, and its temporary goes at the completion. The movie keeps
// the mode its name was reserved with.
TEST(FragmentedMovieFileTest, AMovieTakesItsNameOnlyOnceAPictureIsOnTheDisk) {
    const struct {
        const char* name;
        bool pictures;
    } cases[] = {{"sound, then pictures", true}, {"sound alone", false}};
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir.path() / (c.pictures ? "pictures" : "sound");
        std::filesystem::create_directories(folder);
        const auto movie = folder / "movie.mov";
        UniqueFd reserved(::open(movie.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640));
        ASSERT_TRUE(reserved);
        ASSERT_EQ(::fchmod(reserved.get(), 0640), 0);
        reserved.reset();

        testsupport::SyntheticRecording recording(movie);
        ASSERT_TRUE(recording.ok()) << recording.error();
        const auto hidden = hiddenNames(folder);
        ASSERT_EQ(hidden.size(), 1u);
        EXPECT_TRUE(MovieTemporaries::isTemporaryName(hidden[0])) << hidden[0];
        for (int i = 0; i < 15; ++i) ASSERT_TRUE(recording.sound(i));
        EXPECT_EQ(fragmentedSize(movie), 0u);

        int tookNameAt = -1;
        for (int i = 15; i < 75; ++i) {
            if (c.pictures) {
                ASSERT_TRUE(recording.picture(i - 15, (i - 15) % 30 == 0, 2000));
            }
            ASSERT_TRUE(recording.sound(i));
            if (fragmentedSize(movie) == 0) {
                EXPECT_EQ(hiddenNames(folder).size(), 1u);
            } else if (tookNameAt < 0) {
                tookNameAt = i;
                EXPECT_TRUE(hiddenNames(folder).empty());
            }
        }
        ASSERT_TRUE(recording.complete().has_value());
        EXPECT_TRUE(hiddenNames(folder).empty());
        if (!c.pictures) {
            EXPECT_EQ(tookNameAt, -1);
            EXPECT_EQ(fragmentedSize(movie), 0u);
            continue;
        }
        EXPECT_GE(tookNameAt, 15) << "the name was not taken while recording";
        struct stat status {};
        ASSERT_EQ(::stat(movie.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0640u);
        const auto counted = CommandRunner::run(
            "/usr/bin/ffprobe",
            {"-v", "quiet", "-count_packets", "-select_streams", "v:0", "-show_entries", "stream=nb_read_packets",
             "-of", "csv=p=0", movie.string()},
            {}, /*logged=*/false, 120s);
        EXPECT_EQ(std::strtol(counted.output.c_str(), nullptr, 10), 60) << counted.output;
    }
}

// A disk that fills while the trailer writes the last piece: the movie is
// cut back to the end of the last whole write, so it keeps every piece that
// reached the disk whole, the one written just before the trailer included.
TEST(FragmentedMovieFileTest, ADiskFullAtTheEndKeepsEveryWholePiece) {
    constexpr int kPairs = 12;
    constexpr int kPictureBytes = 64 * 1024;  // each fragment spans many pages
    // Writes the recording and returns the movie's size before the last
    // packet and before the trailer.
    const auto record = [&](const std::filesystem::path& movie, std::pair<uint64_t, uint64_t>& sizes) {
        testsupport::SyntheticRecording recording(movie);
        EXPECT_TRUE(recording.ok()) << recording.error();
        for (int i = 0; i < kPairs; ++i) {
            EXPECT_TRUE(recording.picture(i, true, kPictureBytes));
            if (i == kPairs - 1) sizes.first = fragmentedSize(movie);
            EXPECT_TRUE(recording.sound(i));
        }
        sizes.second = fragmentedSize(movie);
        return recording.complete();
    };
    testsupport::TempDir dir;
    std::pair<uint64_t, uint64_t> roomy;
    ASSERT_TRUE(record(dir.path() / "roomy.mov", roomy).has_value());
    ASSERT_LT(roomy.first, roomy.second) << "the last packet wrote no piece";

    // Room for what was there before the trailer, to the page, and less
    // than the last piece.
    const auto folder = dir.path() / "small";
    constexpr uint64_t kPage = 4096;
    testsupport::SmallDisk disk(folder, static_cast<size_t>((roomy.second + 2 * kPage - 1) / kPage * kPage));
    std::pair<uint64_t, uint64_t> full;
    const auto movie = folder / "full.mov";
    ASSERT_FALSE(record(movie, full).has_value());
    EXPECT_EQ(full.second, roomy.second);
    EXPECT_EQ(fragmentedSize(movie), roomy.second);
    EXPECT_TRUE(hiddenNames(folder).empty());
    disk.release();
}

// A process that cannot see its descriptors in /proc (hidden, or /proc
// mounted without them) completes its movie all the same: the fragments are
// read back through the descriptor it wrote them with.
TEST(FragmentedMovieFileTest, AMovieIsCompletedWithoutProcSelfFd) {
    testsupport::TempDir dir;
    const auto movie = dir.path() / "movie.mov";
    const testsupport::ChildOutcome outcome = testsupport::runInChild(
        [&] {
            if (!testsupport::hideOwnDescriptorsInProc()) return testsupport::kCannotHideProc;
            testsupport::LogCapture log;
            testsupport::SyntheticRecording recording(movie);
            if (!recording.ok()) return 1;
            for (int i = 0; i < 30; ++i) {
                if (!recording.picture(i, true, 2000) || !recording.sound(i)) return 2;
            }
            if (!recording.complete().has_value()) return 3;
            return log.contains("stays fragmented") ? 4 : 0;
        },
        120s);
    ASSERT_TRUE(outcome.finished);
    if (outcome.exitCode == testsupport::kCannotHideProc) GTEST_SKIP() << "no mount namespace for this test";
    EXPECT_EQ(outcome.exitCode, 0) << "1 no header, 2 refused, 3 not completed, 4 left fragmented";
    const auto counted = CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "quiet", "-count_packets", "-select_streams", "v:0", "-show_entries", "stream=nb_read_packets", "-of",
         "csv=p=0", movie.string()},
        {}, /*logged=*/false, 120s);
    EXPECT_EQ(std::strtol(counted.output.c_str(), nullptr, 10), 30) << counted.output;
}

}  // namespace
}  // namespace hollowkit
