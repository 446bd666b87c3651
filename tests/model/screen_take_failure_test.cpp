// A take whose screen or camera movie can no longer be written (a full
// disk) ends as it happens, with the notice that names the movie and the
// reason, and leaves nothing running or held.

#include <filesystem>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/testing/failing_movie_writer.h"
#include "take_harness.h"

namespace lumenhollow::test {
namespace {

hollowkit::MovieWriterFactory fileWriters() {
    hollowkit::FfmpegMovieWriterOptions options;
    options.realTime = false;
    return hollowkit::ffmpegMovieWriterFactory(options);
}

TEST(ScreenTakeFailureTest, AMovieThatCannotBeWrittenEndsTheTakeAtOnceWithItsNotice) {
    const struct {
        const char* movie;
        const char* error;
        const char* notice;
    } cases[] = {
        {"Screen.mov", "No space left on device", "Screen recording failed: No space left on device"},
        {"Camera.mov", "File too large",
         "Screen saved. The camera's movie could not be written (File too large), so there is no combined "
         "video."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.movie);
        hollowkit::FailingMovieWriters writers(fileWriters());
        TakeHarness h;
        h.movieWriters = writers.factory();
        h.startTakes();
        ASSERT_TRUE(h.recordTake(1.0));
        ASSERT_TRUE(h.model->isRecording());
        h.recorder->clear();

        // The writer is made and started on the recorder's queue; it fails
        // once it holds a picture, as a movie does that fills the disk (one
        // with none is removed, so there would be nothing left to keep).
        ASSERT_TRUE(h.main.waitFor(
            [&] {
                if (writers.samplesTaken(c.movie) > 0) return writers.fail(c.movie, c.error);
                h.tenthOfASecond();
                return false;
            },
            std::chrono::seconds(10)));
        // Nobody presses stop: the failure alone ends the take.
        ASSERT_TRUE(h.main.waitFor([&] { return !h.model->isRecording(); }, std::chrono::seconds(10)));
        ASSERT_TRUE(h.waitForFinish());
        h.main.runUntilIdle();

        EXPECT_EQ(h.notices(), (std::vector<std::optional<std::string>>{c.notice}));
        EXPECT_FALSE(h.state().recordingStarted);
        EXPECT_FALSE(h.state().composeProgress);
        EXPECT_EQ(h.compositions->size(), 0u);
        EXPECT_EQ(h.activity.active(), 0);
        EXPECT_EQ(h.model->tap().recorder(), nullptr);
        EXPECT_FALSE(h.fakes.screenCapture().running());
        EXPECT_FALSE(h.model->hasScreenTake());
        // What was written before the failure is kept.
        const auto folders = h.takeFolders();
        ASSERT_EQ(folders.size(), 1u);
        EXPECT_TRUE(std::filesystem::exists(folders[0] / c.movie));

        // Frames still coming reach no movie, and a new take can start.
        h.screenFrame();
        h.cameraFrame();
        h.main.runUntilIdle();
        EXPECT_FALSE(h.model->isRecording());
        h.record();
        EXPECT_TRUE(h.waitForCapture());
    }
}

}  // namespace
}  // namespace lumenhollow::test
