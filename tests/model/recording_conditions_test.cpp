// A recording under conditions the user does not choose: the application
// quitting while a real movie is written, the disk filling up during one,
// the output folder removed during one, a folder that takes no file, and
// the leftovers of a killed run. The camera delivers frames from its own
// thread; the files are checked with ffprobe and ffmpeg.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
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

// The output folder removed while a movie is written: nothing of the movie
// exists anywhere, so Stop says the recording failed and why, not "Video
// saved".
TEST(RecordingConditionsTest, TheOutputFolderRemovedDuringARecordingIsReportedAsAFailure) {
    RecordingHarness h;
    h.start(true);
    h.model->setCountdownSeconds(0);
    h.model->toggleRecording();
    ASSERT_TRUE(h.model->isRecording());
    auto camera = h.camera();
    camera->startFrames(kFramesPerSecond, framesFrom(640, 360));
    // Until the movie is on the disk under its name.
    const auto written = [&] {
        const auto movies = h.files(".mov");
        std::error_code error;
        return movies.size() == 1 && std::filesystem::file_size(movies[0], error) > 0;
    };
    ASSERT_TRUE(h.main.waitFor(written, 30s));
    std::filesystem::remove_all(h.outputFolder);
    const uint64_t atRemoval = camera->framesDelivered();
    ASSERT_TRUE(h.main.waitFor([&] { return camera->framesDelivered() >= atRemoval + 10; }, 30s));
    h.model->toggleRecording();
    ASSERT_TRUE(h.waitForNotices(1));
    camera->stopFrames();
    h.main.runUntilIdle();
    EXPECT_EQ(h.notices(), (std::vector<std::optional<std::string>>{
                               "Recording failed: The movie file was removed while it was recorded"}));
    EXPECT_FALSE(std::filesystem::exists(h.outputFolder));
}

// An output folder that exists but whose files' paths are too long: the
// notice names the file for a movie, whose name is reserved by its path.
// A photo is made in the folder held from its press, by its name alone,
// so it is saved all the same.
TEST(RecordingConditionsTest, AFileThatCannotBeCreatedInTheOutputFolderIsNamed) {
    RecordingHarness h;
    // Its names are too long to go in, yet it exists.
    h.outputFolder = hollowkit::testsupport::deepFolder(h.dir.path(), 4060);
    h.start(true);
    h.model->setCountdownSeconds(0);
    h.model->toggleRecording();
    h.model->takePhoto();
    h.camera()->deliverFrame(FakeCamera::makeFrame(64, 36));
    ASSERT_TRUE(h.waitForNotices(2));
    const auto notices = h.notices();
    ASSERT_EQ(notices.size(), 2u);
    const struct {
        std::optional<std::string> notice;
        std::string start;
        std::string failure;
    } cases[] = {{notices[0], "Could not create the file Lumenhollow Video ", ".mov: File name too long"},
                 {notices[1], "Photo saved", ""}};
    for (const auto& c : cases) {
        ASSERT_TRUE(c.notice.has_value());
        EXPECT_EQ(c.notice->rfind(c.start, 0), 0u) << *c.notice;
        EXPECT_NE(c.notice->find(c.failure), std::string::npos) << *c.notice;
    }
    EXPECT_FALSE(h.model->isRecording());
    EXPECT_EQ(h.model->unfinishedPhotos(), 0u);
}

// What a killed run left in the output folder, a movie cut off before its
// first picture (its hidden file and the name it reserved), is cleared once
// the application starts, off the main executor; a saved movie stays.
TEST(RecordingConditionsTest, StartingClearsTheUnfinishedMoviesOfAKilledRun) {
    RecordingHarness h;
    std::filesystem::create_directories(h.outputFolder);
    const auto saved = h.outputFolder / "Lumenhollow Video 2024-05-01 at 14.03.22.mov";
    const auto reserved = h.outputFolder / "Lumenhollow Video 2024-05-01 at 14.05.10.mov";
    const auto hidden = h.outputFolder / ".Lumenhollow Video 2024-05-01 at 14.05.10.mov.q7Rt2w";
    std::ofstream(saved) << "a movie of the user's";
    std::ofstream(reserved).flush();
    std::ofstream(hidden) << "the header of a movie without a picture";
    h.start(true);
    ASSERT_TRUE(h.main.waitFor([&] { return !std::filesystem::exists(hidden); }, 30s));
    ASSERT_TRUE(h.main.waitFor([&] { return !std::filesystem::exists(reserved); }, 30s));
    EXPECT_TRUE(std::filesystem::exists(saved));
}

}  // namespace
}  // namespace lumenhollow::test
