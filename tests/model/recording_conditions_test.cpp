// A recording under conditions the user does not choose: the application
// quitting while a real movie is written, and the disk filling up during
// one. The camera delivers frames from its own thread; the files are checked
// with ffprobe and ffmpeg.

#include <gtest/gtest.h>

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
        // Small frames, so the movie is quick to write and to check.
        camera->startFrames(kFramesPerSecond, framesFrom(640, 360));
        ASSERT_TRUE(h.main.waitFor([&] { return camera->framesDelivered() >= 20; }, 30s));
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
        // The movie holds pictures from before the quit, and none the camera
        // did not deliver. How many of those before the quit reach it is not
        // checked: a writer that falls behind on a busy machine drops frames
        // by design.
        EXPECT_GE(decoded.frames, 1u);
        EXPECT_LE(decoded.frames, delivered);
        if (c.stop == FakeCamera::StopMode::never) camera->finishStop();
    }
}

TEST(RecordingConditionsTest, ADiskFillingUpDuringARecordingGivesOneNoticeAndKeepsWhatWasWrittenPlayable) {
    RecordingHarness h;
    hollowkit::testsupport::SmallDisk disk(h.outputFolder, 256 * 1024);
    h.start(true);
    h.model->setCountdownSeconds(0);
    h.model->toggleRecording();
    ASSERT_TRUE(h.model->isRecording());
    auto camera = h.camera();
    camera->startFrames(kFramesPerSecond, framesFrom(640, 360));

    // Nobody presses stop: the failure alone ends the recording, as it
    // happens, with its notice.
    ASSERT_TRUE(h.waitForNotices(1)) << "frames delivered: " << camera->framesDelivered();
    EXPECT_FALSE(h.model->isRecording());
    EXPECT_EQ(h.activity.active(), 0);
    EXPECT_EQ(h.model->tap().recorder(), nullptr);
    // Frames keep coming and bring nothing more.
    const uint64_t atNotice = camera->framesDelivered();
    ASSERT_TRUE(h.main.waitFor([&] { return camera->framesDelivered() >= atNotice + 15; }, 30s));
    camera->stopFrames();
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
