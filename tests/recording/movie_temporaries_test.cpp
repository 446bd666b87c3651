// The hidden files beside movies and photos being made: the clearing of a
// killed run's leftovers in a real output folder (only our names, only
// files nobody holds, never a picture), a second running process whose files are left
// alone until it is killed, and the exclusive creation a composition uses.

#include "hollowkit/recording/movie_temporaries.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/hidden_proc.h"
#include "recording_test_support.h"
#include "synthetic_recording.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;

enum class Content : uint8_t { none, empty, cutShort, picture };

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A short real movie (index at the end, as completed movies are), and its
// first kilobyte: what a rewrite killed half-way leaves, with no picture
// anyone can find.
struct Movies {
    std::string picture;
    std::string cutShort;
};

Movies makeMovies(const fs::path& folder) {
    const fs::path path = folder / "source.mov";
    FfmpegMovieWriterOptions options;
    options.realTime = false;
    auto writer = makeFfmpegMovieWriter(path, options);
    MovieWriterSettings settings;
    settings.codec = VideoCodec::h264;
    settings.width = 64;
    settings.height = 64;
    settings.videoBitRate = 200000;
    const TimePoint start = Clock::system().now();
    EXPECT_TRUE(writer->start(settings, start).has_value());
    for (int i = 0; i < 3; ++i) {
        writer->appendVideo(testsupport::patternFrame(64, 64, i, start + std::chrono::milliseconds(33 * i)));
    }
    EXPECT_TRUE(writer->finish(std::nullopt).has_value());
    Movies movies;
    movies.picture = readBytes(path);
    movies.cutShort = movies.picture.substr(0, 1024);
    fs::remove(path);
    return movies;
}

Content contentOf(const fs::path& file, const Movies& movies) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(file, error))) return Content::none;
    const std::string bytes = readBytes(file);
    if (bytes.empty()) return Content::empty;
    return bytes == movies.picture ? Content::picture : Content::cutShort;
}

// An output folder as killed runs leave it, beside what is not ours or not
// to be touched. Each file is made with its content and must have the
// content given after the clearing (none: gone).
TEST(MovieTemporariesTest, AKilledRunsLeftoversAreClearedAndNothingElse) {
    testsupport::TempDir dir;
    const Movies movies = makeMovies(dir.path());
    ASSERT_GT(movies.picture.size(), movies.cutShort.size());
    ASSERT_FALSE(MovieTemporaries::holdsPicture(dir.path() / "nothing.mov"));

    const fs::path output = dir.path() / "Lumenhollow";
    const std::string take = "Lumenhollow Screen Recording 2024-05-01 at 14.03.22";
    fs::create_directories(output / take / "deeper");
    const struct {
        const char* name;
        std::string path;
        Content before;
        Content after;
    } files[] = {
        {"a rewrite killed half-way", ".Lumenhollow Video A.mov.Ab12Cd", Content::cutShort, Content::none},
        {"the movie it rewrote", "Lumenhollow Video A.mov", Content::picture, Content::picture},
        {"a recording killed before its rename", ".Lumenhollow Video B.mov.Ef34Gh", Content::picture, Content::none},
        {"its reserved name, which it takes", "Lumenhollow Video B.mov", Content::empty, Content::picture},
        {"a finished rewrite", ".Lumenhollow Video C.mov.Ij56Kl", Content::picture, Content::picture},
        {"its movie", "Lumenhollow Video C.mov", Content::cutShort, Content::cutShort},
        {"a composition cut short", take + "/.Combined.mov.partial", Content::cutShort, Content::none},
        {"the combined movie before it", take + "/Combined.mov", Content::picture, Content::picture},
        {"a take's camera movie cut short", take + "/.Camera.mov.Mn78Op", Content::cutShort, Content::none},
        {"its empty name", take + "/Camera.mov", Content::empty, Content::none},
        {"too deep", take + "/deeper/.Camera.mov.Qr90St", Content::cutShort, Content::cutShort},
        {"a name a recording killed before its writer reserved", "Lumenhollow Video D.mov", Content::empty,
         Content::none},
        {"a name a running recorder holds", "Lumenhollow Video I.mov", Content::empty, Content::empty},
        {"an empty file that is no movie", "notes.txt", Content::empty, Content::empty},
        {"not our suffix", ".Lumenhollow Video E.mov.abc", Content::cutShort, Content::cutShort},
        {"seven letters", ".Lumenhollow Video E.mov.abcdefg", Content::cutShort, Content::cutShort},
        {"no name before the extension", ".mov.partial", Content::cutShort, Content::cutShort},
        {"not a movie", ".notes.txt.Uv12Wx", Content::cutShort, Content::cutShort},
        {"held by a writer", ".Lumenhollow Video F.mov.Yz34Ab", Content::cutShort, Content::cutShort},
        {"the name the held one reserved", "Lumenhollow Video F.mov", Content::empty, Content::empty},
        {"a photo cut off before it was whole", ".Lumenhollow Photo A.heic.Kl12Mn", Content::cutShort,
         Content::none},
        {"a photo", "Lumenhollow Photo A.heic", Content::cutShort, Content::cutShort},
        {"an empty photo an earlier version reserved", "Lumenhollow Photo B.heic", Content::empty, Content::none},
        {"a photo being written", ".Lumenhollow Photo C.heic.Op34Qr", Content::cutShort, Content::cutShort},
        {"not a photo's temporary", ".Lumenhollow Photo D.heic.abc", Content::cutShort, Content::cutShort},
        {"a cursor file cut off at its take's stop", take + "/.Cursor.json.Gh12Ij", Content::cutShort,
         Content::none},
        {"the take's empty screen movie", take + "/Screen.mov", Content::empty, Content::none},
        {"a cursor file being written", take + "/.Camera.json.Kl34Mn", Content::cutShort, Content::cutShort},
        {"a file written whole", take + "/Cursor.json", Content::cutShort, Content::cutShort},
        {"not a written file's temporary", ".notes.json.abc", Content::cutShort, Content::cutShort},
    };
    for (const auto& f : files) {
        writeBytes(output / f.path, f.before == Content::picture    ? movies.picture
                                    : f.before == Content::cutShort ? movies.cutShort
                                                                    : std::string());
    }
    // A link with our name leads outside; neither it nor where it leads is touched.
    writeBytes(dir.path() / "elsewhere.mov", movies.cutShort);
    fs::create_symlink(dir.path() / "elsewhere.mov", output / ".Lumenhollow Video G.mov.Cd56Ef");
    // A folder with our name is no file of ours.
    fs::create_directories(output / ".Lumenhollow Video H.mov.Gh78Ij");
    UniqueFd held(::open((output / ".Lumenhollow Video F.mov.Yz34Ab").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
    UniqueFd heldPhoto(::open((output / ".Lumenhollow Photo C.heic.Op34Qr").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(heldPhoto.get(), LOCK_EX), 0);
    UniqueFd heldFile(::open((output / take / ".Camera.json.Kl34Mn").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(heldFile.get(), LOCK_EX), 0);
    const UniqueFd reservation = MovieTemporaries::holdReservation(output / "Lumenhollow Video I.mov");
    ASSERT_TRUE(reservation);

    testsupport::LogCapture log;
    const auto counts = MovieTemporaries::removeLeftovers(output);
    EXPECT_EQ(counts, (MovieTemporaries::Leftovers{6, 1, 1, 2, 1}));
    EXPECT_TRUE(log.contains("Unfinished photos of an earlier run in Lumenhollow: 2 removed"));
    EXPECT_TRUE(log.contains("Unfinished files of an earlier run in Lumenhollow: 1 removed"));
    for (const auto& f : files) {
        EXPECT_EQ(contentOf(output / f.path, movies), f.after) << f.name;
        // Every file removed is named in the log.
        if (f.before != Content::none && f.after == Content::none) {
            EXPECT_TRUE(log.contains("\"" + f.path + "\"")) << f.name;
        }
    }
    EXPECT_TRUE(log.contains("restored \".Lumenhollow Video B.mov.Ef34Gh\" as \"Lumenhollow Video B.mov\""));
    EXPECT_TRUE(fs::is_symlink(output / ".Lumenhollow Video G.mov.Cd56Ef"));
    EXPECT_EQ(contentOf(dir.path() / "elsewhere.mov", movies), Content::cutShort);
    EXPECT_TRUE(fs::is_directory(output / ".Lumenhollow Video H.mov.Gh78Ij"));
    // A second clearing finds nothing more to do.
    EXPECT_EQ(MovieTemporaries::removeLeftovers(output), (MovieTemporaries::Leftovers{0, 0, 1}));
}

// A process that cannot see its descriptors in /proc (hidden, or /proc
// mounted without them) reads each temporary through its descriptor all
// the same: a killed recording with a picture takes its name, a finished
// rewrite stays, and only what holds no picture goes.
TEST(MovieTemporariesTest, WithoutProcSelfFdNothingThatHoldsAPictureIsRemoved) {
    testsupport::TempDir dir;
    const Movies movies = makeMovies(dir.path());
    const fs::path output = dir.path() / "Lumenhollow";
    fs::create_directories(output);
    const struct {
        const char* name;
        const char* path;
        Content before;
        Content after;
    } files[] = {
        {"a recording killed before its rename", ".Lumenhollow Video B.mov.Ef34Gh", Content::picture, Content::none},
        {"its reserved name, which it takes", "Lumenhollow Video B.mov", Content::empty, Content::picture},
        {"a finished rewrite", ".Lumenhollow Video C.mov.Ij56Kl", Content::picture, Content::picture},
        {"its movie", "Lumenhollow Video C.mov", Content::cutShort, Content::cutShort},
        {"a rewrite killed half-way", ".Lumenhollow Video A.mov.Ab12Cd", Content::cutShort, Content::none},
    };
    for (const auto& f : files) {
        writeBytes(output / f.path, f.before == Content::picture    ? movies.picture
                                    : f.before == Content::cutShort ? movies.cutShort
                                                                    : std::string());
    }
    const testsupport::ChildOutcome outcome = testsupport::runInChild(
        [&] {
            if (!testsupport::hideOwnDescriptorsInProc()) return testsupport::kCannotHideProc;
            return MovieTemporaries::removeLeftovers(output) == MovieTemporaries::Leftovers{1, 1, 1} ? 0 : 1;
        },
        std::chrono::seconds(60));
    ASSERT_TRUE(outcome.finished);
    if (outcome.exitCode == testsupport::kCannotHideProc) GTEST_SKIP() << "no mount namespace for this test";
    EXPECT_EQ(outcome.exitCode, 0) << "other counts than 1 removed, 1 restored, 1 kept";
    for (const auto& f : files) EXPECT_EQ(contentOf(output / f.path, movies), f.after) << f.name;
}

// Ends the child when the test ends early.
struct ChildProcess {
    pid_t pid = -1;
    ~ChildProcess() { kill(); }
    void kill() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

// A second running process records into the same folder: while it runs,
// its movie (still without a picture, under its hidden name) and the name
// it reserved are left alone; once it is killed they are cleared.
TEST(MovieTemporariesTest, AnotherRunningProcesssMovieIsLeftAloneUntilItIsKilled) {
    testsupport::TempDir dir;
    const fs::path movie = dir.path() / "Lumenhollow Video 2024-05-01 at 14.03.22.mov";
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);
    ChildProcess child;
    child.pid = ::fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        // The header is written; the first picture never comes.
        testsupport::SyntheticRecording recording(movie);
        const char state = recording.ok() ? 'r' : 'f';
        (void)!::write(writeEnd.get(), &state, 1);
        for (;;) ::pause();
    }
    writeEnd.reset();
    pollfd entry{readEnd.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 30000), 1) << "the child did not start recording";
    char state = 0;
    ASSERT_EQ(::read(readEnd.get(), &state, 1), 1);
    ASSERT_EQ(state, 'r');

    const auto entries = [&] {
        std::map<std::string, uintmax_t> sizes;
        for (const auto& file : fs::directory_iterator(dir.path())) {
            sizes[file.path().filename().string()] = file.file_size();
        }
        return sizes;
    };
    const auto before = entries();
    ASSERT_EQ(before.size(), 2u);
    ASSERT_EQ(before.count(movie.filename().string()), 1u);
    EXPECT_EQ(before.at(movie.filename().string()), 0u);
    EXPECT_EQ(MovieTemporaries::removeLeftovers(dir.path()), MovieTemporaries::Leftovers{});
    EXPECT_EQ(entries(), before);

    child.kill();
    testsupport::LogCapture log;
    EXPECT_EQ(MovieTemporaries::removeLeftovers(dir.path()), (MovieTemporaries::Leftovers{2, 0, 0}));
    EXPECT_TRUE(entries().empty());
}

// A take's camera movie whose process is killed while it records (the
// display's loss, a teardown cut short) holds the pictures that reached the
// disk; the next start's clearing keeps it under its name, playable, and
// leaves nothing hidden beside it.
TEST(MovieTemporariesTest, ATakesCameraMovieKilledWhileRecordingIsKeptByTheNextStart) {
    testsupport::TempDir dir;
    const fs::path output = dir.path() / "Lumenhollow";
    const fs::path take = output / "Lumenhollow Screen Recording 2024-05-01 at 14.03.22";
    fs::create_directories(take);
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);
    ChildProcess child;
    child.pid = ::fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        // Three seconds of pictures, every one taken by the encoder, and no finish.
        FfmpegMovieWriterOptions options;
        options.realTime = false;
        auto writer = makeFfmpegMovieWriter(take / "Camera.mov", options);
        MovieWriterSettings settings;
        settings.codec = VideoCodec::h264;
        settings.width = 64;
        settings.height = 64;
        settings.videoBitRate = 200000;
        const TimePoint start = Clock::system().now();
        bool ok = writer->start(settings, start).has_value();
        for (int i = 0; ok && i < 90; ++i) {
            ok = writer->appendVideo(testsupport::patternFrame(64, 64, i, start + std::chrono::milliseconds(33 * i)));
        }
        const char state = ok ? 'r' : 'f';
        (void)!::write(writeEnd.get(), &state, 1);
        for (;;) ::pause();
    }
    writeEnd.reset();
    pollfd entry{readEnd.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 60000), 1) << "the child did not record";
    char state = 0;
    ASSERT_EQ(::read(readEnd.get(), &state, 1), 1);
    ASSERT_EQ(state, 'r');
    child.kill();

    const auto names = [&] {
        std::vector<std::string> found;
        for (const auto& file : fs::directory_iterator(take)) found.push_back(file.path().filename().string());
        return found;
    };
    (void)MovieTemporaries::removeLeftovers(output);
    EXPECT_EQ(names(), std::vector<std::string>{"Camera.mov"});
    EXPECT_TRUE(MovieTemporaries::holdsPicture(take / "Camera.mov")) << "the killed take's pictures went";

    // The same fragments killed between their reaching the disk and the
    // rename that names them: hidden, beside the empty name they reserved.
    const std::string fragments = readBytes(take / "Camera.mov");
    writeBytes(take / ".Camera.mov.Kl12Mn", fragments);
    writeBytes(take / "Camera.mov", "");
    EXPECT_EQ(MovieTemporaries::removeLeftovers(output), (MovieTemporaries::Leftovers{0, 1, 0, 0}));
    EXPECT_EQ(names(), std::vector<std::string>{"Camera.mov"});
    EXPECT_EQ(readBytes(take / "Camera.mov"), fragments) << "not restored as it was";
}

// A composition's temporary: made afresh, a killed composition's leftover
// replaced, one that a running composition holds refused and kept.
TEST(MovieTemporariesTest, AnExclusiveTemporaryReplacesOnlyAnUnheldLeftover) {
    testsupport::TempDir dir;
    const fs::path path = dir.path() / ".Combined.mov.partial";
    const struct {
        const char* name;
        bool leftover;
        bool held;
        int error;
    } cases[] = {
        {"nothing there", false, false, 0},
        {"a killed composition's leftover", true, false, 0},
        {"a running composition's file", true, true, EBUSY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        UniqueFd holder;
        if (c.leftover) {
            writeBytes(path, "half a movie");
            holder.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
            if (c.held) {
                ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
            }
        }
        auto created = MovieTemporaries::createExclusive(path);
        if (c.error != 0) {
            ASSERT_FALSE(created.has_value());
            EXPECT_EQ(created.error(), c.error);
            EXPECT_EQ(readBytes(path), "half a movie");
            continue;
        }
        ASSERT_TRUE(created.has_value()) << std::strerror(created.error());
        EXPECT_EQ(readBytes(path), "");
        // Held: nobody else gets its lock.
        UniqueFd other(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        EXPECT_NE(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    }
}

// A screen movie's name, reserved as its recorder starts: held, so the
// clearing of a killed run's leftovers leaves it, and never made over a file
// already there.
TEST(MovieTemporariesTest, AReservedNameIsHeldAndNeverReplacesAFile) {
    testsupport::TempDir dir;
    const fs::path take = dir.path() / "Lumenhollow Screen Recording I";
    const fs::path path = take / "Screen.mov";
    const struct {
        const char* name;
        std::optional<std::string> there;
        int error;
    } cases[] = {
        {"nothing there", std::nullopt, 0},
        {"an empty name nobody holds", "", EEXIST},
        {"a movie", "a whole movie", EEXIST},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(take);
        fs::create_directories(take);
        if (c.there) writeBytes(path, *c.there);
        auto reserved = MovieTemporaries::reserveName(path);
        if (c.error != 0) {
            ASSERT_FALSE(reserved.has_value());
            EXPECT_EQ(reserved.error(), c.error);
            EXPECT_EQ(readBytes(path), *c.there);
            continue;
        }
        ASSERT_TRUE(reserved.has_value()) << std::strerror(reserved.error());
        EXPECT_EQ(MovieTemporaries::removeLeftovers(dir.path()), MovieTemporaries::Leftovers{});
        EXPECT_TRUE(fs::exists(path));
        EXPECT_EQ(readBytes(path), "");
    }
}

}  // namespace
}  // namespace hollowkit
