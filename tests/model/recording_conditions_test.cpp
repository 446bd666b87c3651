// A recording under conditions the user does not choose: the application
// quitting while a real movie is written, and the disk filling up during
// one. The camera delivers frames from its own thread; the files are checked
// with ffprobe and ffmpeg.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>

#include "../recording/recording_test_support.h"
#include "recording_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::testsupport::patternFrame;
using namespace std::chrono_literals;

constexpr int kFramesPerSecond = 30;

// How many video frames ffmpeg decodes from the file, and what it had to say
// while doing so (empty for a clean file).
struct Decoded {
    size_t frames = 0;
    std::string errors;
};

Decoded decode(const std::filesystem::path& movie) {
    Decoded decoded;
    const auto probed = hollowkit::CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "error", "-select_streams", "v:0", "-show_entries", "frame=pts_time", "-of", "csv=p=0",
         movie.string()},
        {}, /*logged=*/false);
    std::istringstream lines(probed.output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.find_first_not_of("0123456789.") == std::string::npos) ++decoded.frames;
    }
    const auto played = hollowkit::CommandRunner::run("/usr/bin/ffmpeg",
                                                      {"-v", "error", "-i", movie.string(), "-f", "null", "-"}, {},
                                                      /*logged=*/false);
    decoded.errors = played.output;
    if (played.status != 0 && decoded.errors.empty()) decoded.errors = "ffmpeg failed";
    return decoded;
}

// Frames on the camera's clock, 30 a second from the first one delivered.
auto framesFrom(int width, int height) {
    return [width, height, base = std::optional<hollowkit::TimePoint>()](uint64_t index) mutable {
        if (!base) base = std::chrono::steady_clock::now();
        const auto pts = *base + std::chrono::nanoseconds(index * 1'000'000'000LL / kFramesPerSecond);
        return patternFrame(width, height, static_cast<int>(index), pts);
    };
}

TEST(RecordingConditionsTest, QuittingWhileRecordingRepliesOnlyOnceTheMovieIsFinishedAndItPlays) {
    const struct {
        const char* name;
        FakeCamera::StopMode stop;
        bool replyAfterFallback;
    } cases[] = {
        {"the camera stops at once", FakeCamera::StopMode::immediate, false},
        {"the camera never stops: the fallback, counted from the finished movie", FakeCamera::StopMode::never, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHarness h;
        FakeCamera::Options options;
        options.stopMode = c.stop;
        h.cameras.setOptions(ConnectionMode::usb, options);
        h.start(true);
        h.shell.setOnTerminationRequest(h.main, [&h] { h.model->handleTerminationRequest(); });
        h.model->setCountdownSeconds(0);
        h.model->toggleRecording();
        ASSERT_TRUE(h.model->isRecording());

        // What the shell and the camera had been told when the movie was
        // reported saved.
        std::optional<size_t> repliesAtSaved;
        std::optional<bool> cameraStopAtSaved;
        const auto watch = h.model->addObserver([&](Field field) {
            if (field != Field::notice || h.model->state().notice != "Video saved") return;
            repliesAtSaved = h.shell.count("reply");
            cameraStopAtSaved = false;
            for (const auto& command : h.camera()->commands()) cameraStopAtSaved = *cameraStopAtSaved || command == "stop";
        });

        auto camera = h.camera();
        camera->startFrames(kFramesPerSecond, framesFrom(1920, 1080));
        ASSERT_TRUE(h.main.waitFor([&] { return camera->framesDelivered() >= 20; }, 30s));
        const uint64_t atQuit = camera->framesDelivered();
        h.model->afterClosingSheets();
        ASSERT_TRUE(h.main.waitFor([&] { return repliesAtSaved.has_value(); }, 60s)) << "the movie was not saved";
        const uint64_t delivered = camera->framesDelivered();
        camera->stopFrames();
        EXPECT_EQ(*repliesAtSaved, 0u) << "the reply came before the movie was finished";
        EXPECT_FALSE(*cameraStopAtSaved) << "the camera was stopped before the movie was finished";
        if (c.replyAfterFallback) {
            h.main.runUntilIdle();
            h.main.advance(CameraModel::kTerminationFallback - 1ms);
            EXPECT_EQ(h.shell.count("reply"), 0u);
            h.main.advance(1ms);
        } else {
            h.main.runUntilIdle();
        }
        EXPECT_EQ(h.shell.count("reply"), 1u);
        EXPECT_EQ(h.activity.active(), 0);
        h.model->removeObserver(watch);

        const auto movies = h.files(".mov");
        ASSERT_EQ(movies.size(), 1u);
        const Decoded decoded = decode(movies[0]);
        EXPECT_EQ(decoded.errors, "");
        // Frames stop reaching the movie when the quit detaches it, which is
        // before the camera stops delivering; the one in flight may miss it.
        EXPECT_GE(decoded.frames + 1, atQuit);
        EXPECT_LE(decoded.frames, delivered);
        if (c.stop == FakeCamera::StopMode::never) camera->finishStop();
    }
}

// A disk that holds only `bytes`: a small tmpfs on `folder` where mounting is
// allowed, otherwise a cap on the size of any file this process writes (the
// kernel's signal at the cap ignored, so the write fails instead).
class SmallDisk {
public:
    SmallDisk(const std::filesystem::path& folder, size_t bytes) : folder_(folder) {
        std::filesystem::create_directories(folder);
        const std::string data = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, data.c_str()) == 0) {
            mounted_ = true;
            expectedError_ = ENOSPC;
            return;
        }
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        expectedError_ = EFBIG;
    }
    ~SmallDisk() { release(); }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // Gives the disk its room back; the files on a tmpfs go with it.
    void release() {
        if (released_) return;
        released_ = true;
        if (mounted_) {
            ::umount2(folder_.c_str(), MNT_DETACH);
        } else {
            ::setrlimit(RLIMIT_FSIZE, &old_);
            std::signal(SIGXFSZ, oldHandler_);
        }
    }
    int expectedError() const { return expectedError_; }

private:
    std::filesystem::path folder_;
    bool mounted_ = false;
    bool released_ = false;
    int expectedError_ = 0;
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

TEST(RecordingConditionsTest, ADiskFillingUpDuringARecordingGivesOneNoticeAndKeepsWhatWasWrittenPlayable) {
    RecordingHarness h;
    SmallDisk disk(h.outputFolder, 256 * 1024);
    h.start(true);
    h.model->setCountdownSeconds(0);
    h.model->toggleRecording();
    ASSERT_TRUE(h.model->isRecording());
    auto camera = h.camera();
    camera->startFrames(kFramesPerSecond, framesFrom(640, 360));

    // Until well after the disk is full: the movie would need many times its
    // room by now.
    ASSERT_TRUE(h.main.waitFor([&] { return camera->framesDelivered() >= 12 * kFramesPerSecond; }, 120s));
    h.model->toggleRecording();
    camera->stopFrames();
    ASSERT_TRUE(h.waitForNotices(1));
    h.main.runUntilIdle();
    const auto notices = h.notices();
    ASSERT_EQ(notices.size(), 1u);
    ASSERT_TRUE(notices[0].has_value());
    EXPECT_EQ(notices[0]->rfind("Recording failed: ", 0), 0u) << *notices[0];
    EXPECT_NE(notices[0]->find(std::strerror(disk.expectedError())), std::string::npos) << *notices[0];
    EXPECT_FALSE(h.model->isRecording());
    EXPECT_EQ(h.activity.active(), 0);

    const auto movies = h.files(".mov");
    ASSERT_EQ(movies.size(), 1u);
    // Read while the tmpfs is still there; what came before the full disk
    // decodes, the cut-off piece at the end excepted.
    const Decoded decoded = decode(movies[0]);
    EXPECT_GE(decoded.frames, static_cast<size_t>(kFramesPerSecond));
    EXPECT_LT(decoded.frames, static_cast<size_t>(12 * kFramesPerSecond));
    disk.release();
}

}  // namespace
}  // namespace lumenhollow::test
