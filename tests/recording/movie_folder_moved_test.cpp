// A movie's folder moved while the movie records: renamed, moved aside and
// its path taken by a link or a file, or covered by a file system mounted
// over it. The movie is finished in the folder it was started in, wherever
// that now is: whole, rewritten as a regular movie, under its name, nothing
// hidden left beside it, and the recording reports success. The moves come
// at fixed points of the recording (before the movie takes its name, after
// it), never at a time.

#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <iterator>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/command_runner.h"
#include "movie_recorder_harness.h"
#include "synthetic_recording.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;

// What happens to the folder's path. `apply` returns false when it cannot be
// done here (a mount without the privilege), and the case is skipped.
struct MovedFolderFate {
    const char* what;
    bool covers;  // the folder stays at its path under a mount
};

const MovedFolderFate kMovedFolderFates[] = {
    {"renamed", false},
    {"moved aside, a link to another folder in its place", false},
    {"moved aside, a file in its place", false},
    {"covered by a file system mounted over it", true},
};

// The folder's path, where it is moved, and the other folder a link leads to.
struct MovedFolderPaths {
    fs::path path;
    fs::path moved;
    fs::path elsewhere;
};

bool applyMovedFolderFate(const MovedFolderFate& fate, const MovedFolderPaths& paths) {
    if (fate.covers) {
        if (::mount("tmpfs", paths.path.c_str(), "tmpfs", 0, "size=1m") != 0) {
            std::printf("[  SKIPPED ] %s: mounting needs a privilege this run lacks (%s)\n", fate.what,
                        std::strerror(errno));
            return false;
        }
        return true;
    }
    fs::rename(paths.path, paths.moved);
    if (std::string(fate.what).find("link") != std::string::npos) {
        fs::create_directory_symlink(paths.elsewhere, paths.path);
    } else if (std::string(fate.what).find("file") != std::string::npos) {
        std::ofstream(paths.path) << "a file";
    }
    return true;
}

// Where the movie must be once the fate is undone as far as it needs: the
// moved folder, or the covered one once its cover is gone.
fs::path movedFolderOfMovie(const MovedFolderFate& fate, const MovedFolderPaths& paths) {
    if (fate.covers) {
        ::umount2(paths.path.c_str(), MNT_DETACH);
        return paths.path;
    }
    return paths.moved;
}

uint64_t fileSizeIn(const fs::path& file) {
    std::error_code error;
    const auto size = fs::file_size(file, error);
    return error ? 0 : size;
}

// Takes away a cover mounted over `path` however the case ends; nothing
// when there is none.
struct MovedFolderUncover {
    fs::path path;
    ~MovedFolderUncover() { ::umount2(path.c_str(), MNT_DETACH); }
};

std::vector<std::string> movedFolderNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entries(folder, error); !error && entries != fs::directory_iterator();
         entries.increment(error)) {
        names.push_back(entries->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

int64_t movedFolderPackets(const fs::path& movie) {
    const auto counted = CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "quiet", "-count_packets", "-select_streams", "v:0", "-show_entries", "stream=nb_read_packets", "-of",
         "csv=p=0", movie.string()},
        {}, /*logged=*/false, 120s);
    return std::strtol(counted.output.c_str(), nullptr, 10);
}

// The movie whole and finished under its name in `folder`, alone there; and
// the path's new occupant left as it was.
void expectFinishedMovieIn(const fs::path& folder, int64_t pictures, const MovedFolderPaths& paths,
                           const MovedFolderFate& fate) {
    const fs::path movie = folder / "movie.mov";
    EXPECT_EQ(movedFolderNames(folder), std::vector<std::string>{"movie.mov"}) << "a hidden copy beside it";
    const auto boxes = testsupport::topLevelBoxes(movie);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moof"), 0) << "the closing rewrite was skipped";
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moov"), 1);
    EXPECT_EQ(movedFolderPackets(movie), pictures);
    EXPECT_TRUE(movedFolderNames(paths.elsewhere).empty()) << "written where the link leads";
    if (!fate.covers && fs::is_regular_file(paths.path)) {
        std::ifstream in(paths.path);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a file");
    }
}

enum class MovedWhen : uint8_t { beforeItsName, afterItsName };

// The file itself, muxed in a fixed order: the move comes exactly before
// the first picture, or right after the fragment that gave it its name.
TEST(MovieFolderMovedTest, TheMovieIsFinishedInTheFolderItWasStartedIn) {
    for (const MovedWhen when : {MovedWhen::beforeItsName, MovedWhen::afterItsName}) {
        for (const MovedFolderFate& fate : kMovedFolderFates) {
            SCOPED_TRACE(std::string(fate.what) +
                         (when == MovedWhen::beforeItsName ? ", before its name" : ", after its name"));
            testsupport::TempDir dir;
            const MovedFolderPaths paths{dir.path() / "Lumenhollow", dir.path() / "Moved", dir.path() / "Elsewhere"};
            fs::create_directory(paths.path);
            fs::create_directory(paths.elsewhere);
            const MovedFolderUncover uncover{fate.covers ? paths.path : fs::path()};
            constexpr int kPictures = 75;
            {
                testsupport::SyntheticRecording recording(paths.path / "movie.mov");
                ASSERT_TRUE(recording.ok()) << recording.error();
                bool moved = false;
                bool applied = true;
                if (when == MovedWhen::beforeItsName) {
                    ASSERT_EQ(fileSizeIn(paths.path / "movie.mov"), 0u);
                    applied = applyMovedFolderFate(fate, paths);
                    moved = true;
                }
                for (int i = 0; i < kPictures && applied; ++i) {
                    // Every picture a key frame: the synthetic pictures are read back as such.
                    ASSERT_TRUE(recording.picture(i, true, 2000));
                    ASSERT_TRUE(recording.sound(i));
                    if (!moved && fileSizeIn(paths.path / "movie.mov") > 0) {
                        applied = applyMovedFolderFate(fate, paths);
                        moved = true;
                    }
                }
                if (!applied) continue;
                ASSERT_TRUE(moved) << "the movie never took its name";
                const auto completed = recording.complete();
                ASSERT_TRUE(completed.has_value()) << completed.error();
            }
            expectFinishedMovieIn(movedFolderOfMovie(fate, paths), kPictures, paths, fate);
        }
    }
}

class MovieFolderMovedRecorderTest : public MovieRecorderTest {};

// The recorder with the real writer: moved right after its writer started
// (its first frame taken, no piece written: the name cannot have been
// taken), or once the movie stands under its name. Stop reports the movie
// saved where it now is, and it is there.
TEST_F(MovieFolderMovedRecorderTest, AMovedFolderStillGetsTheWholeMovieAndSuccess) {
    int n = 0;
    for (const MovedWhen when : {MovedWhen::beforeItsName, MovedWhen::afterItsName}) {
        for (const MovedFolderFate& fate : kMovedFolderFates) {
            SCOPED_TRACE(std::string(fate.what) +
                         (when == MovedWhen::beforeItsName ? ", before its name" : ", after its name"));
            const fs::path base = dir_.path() / std::to_string(n++);
            fs::create_directory(base);
            const MovedFolderPaths paths{base / "Lumenhollow", base / "Moved", base / "Elsewhere"};
            fs::create_directory(paths.path);
            fs::create_directory(paths.elsewhere);
            const MovedFolderUncover uncover{fate.covers ? paths.path : fs::path()};
            const fs::path path = paths.path / "movie.mov";
            std::ofstream(path).flush();  // reserved, as the library reserves names
            auto recorder = makeRecorder(path, VideoCodec::h264, std::nullopt, false);
            const TimePoint start = clock_.now();
            int index = 0;
            const auto offer = [&] {
                recorder->appendVideo(patternFrame(kWidth, kHeight, index, start + frameTime(index)));
                ++index;
                settle(*recorder);
            };
            offer();
            if (when == MovedWhen::afterItsName) {
                while (fileSizeIn(path) == 0 && index < 30 * 20) offer();
                ASSERT_GT(fileSizeIn(path), 0u);
            } else {
                ASSERT_EQ(fileSizeIn(path), 0u);
                ASSERT_EQ(movedFolderNames(paths.path).size(), 2u) << "no hidden movie beside the name";
            }
            if (!applyMovedFolderFate(fate, paths)) continue;
            for (int i = 0; i < 45; ++i) offer();

            const Outcome outcome = finish(*recorder);
            ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
            recorder.reset();
            const fs::path folder = movedFolderOfMovie(fate, paths);
            // Told where it is, so a reveal finds it: in the moved folder, or
            // at its path under the cover, the one place it can be named.
            EXPECT_EQ(*outcome, fate.covers ? path : fs::canonical(folder) / "movie.mov");
            expectFinishedMovieIn(folder, index, paths, fate);
        }
    }
}

// The folder removed instead, before the movie took its name or after: the
// recording notices at its next fragment, ends with the failure told at once
// (not first at the stop) and logged once, and the stop reports the same.
// Removed just before the stop, the failure shows only there, and is logged
// all the same.
TEST_F(MovieFolderMovedRecorderTest, ARemovedFolderEndsTheRecordingAtOnceAndIsLogged) {
    const std::string gone = "The movie file was removed while it was recorded";
    const std::string logged = "Recording of movie.mov ended: " + gone;
    struct Case {
        MovedWhen when;
        bool stopAtOnce;
    };
    int n = 0;
    for (const Case c : {Case{MovedWhen::beforeItsName, false}, Case{MovedWhen::afterItsName, false},
                         Case{MovedWhen::afterItsName, true}}) {
        SCOPED_TRACE(std::string(c.when == MovedWhen::beforeItsName ? "before its name" : "after its name") +
                     (c.stopAtOnce ? ", stopped at once" : ""));
        log_.clear();
        const fs::path folder = dir_.path() / ("removed" + std::to_string(n++));
        fs::create_directory(folder);
        const fs::path path = folder / "movie.mov";
        std::ofstream(path).flush();
        auto recorder = makeRecorder(path, VideoCodec::h264, std::nullopt, false);
        std::vector<RecorderError> failures;
        recorder->setOnFailure([&](const RecorderError& error) { failures.push_back(error); });
        const TimePoint start = clock_.now();
        int index = 0;
        const auto offer = [&] {
            recorder->appendVideo(patternFrame(kWidth, kHeight, index, start + frameTime(index)));
            ++index;
            settle(*recorder);
            main_.runUntilIdle();
        };
        offer();
        if (c.when == MovedWhen::afterItsName) {
            while (fileSizeIn(path) == 0 && index < 30 * 20) offer();
            ASSERT_GT(fileSizeIn(path), 0u);
        }
        fs::remove_all(folder);
        if (!c.stopAtOnce) {
            // Pieces are cut at least every second: twenty seconds of
            // pictures are far more than the next one needs.
            const int removedAt = index;
            while (failures.empty() && index < removedAt + 30 * 20) offer();
            EXPECT_EQ(failures.size(), 1u) << "still recording " << index - removedAt << " frames after the removal";
            if (!failures.empty()) {
                EXPECT_EQ(failures[0], RecorderError::writerFailed(gone));
            }
            EXPECT_EQ(log_.count(logged), 1) << "the failure is not in the log before the stop";
        }
        const Outcome outcome = finish(*recorder);
        main_.runUntilIdle();
        ASSERT_FALSE(outcome.has_value());
        EXPECT_EQ(outcome.error(), RecorderError::writerFailed(gone));
        EXPECT_EQ(log_.count(logged), 1);
        EXPECT_EQ(failures.size(), c.stopAtOnce ? 0u : 1u);
        recorder.reset();
        EXPECT_FALSE(fs::exists(folder));
    }
}

}  // namespace
}  // namespace hollowkit
