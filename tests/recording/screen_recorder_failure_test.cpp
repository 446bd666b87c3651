// A screen movie that can no longer be written while recording: the
// recorder tells it once, as it happens, on the main executor, takes no
// more frames, and its stop reports the same error with what was written
// kept playable.

#include <filesystem>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/screen_recorder.h"
#include "hollowkit/testing/failing_movie_writer.h"
#include "hollowkit/testing/fake_screen_capture.h"
#include "hollowkit/testing/manual_executor.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using ScreenError = ScreenRecorder::ScreenError;
using Outcome = Result<std::filesystem::path, ScreenError>;

constexpr uint32_t kDisplay = 7;
constexpr int kFailureWidth = 160;
constexpr int kFailureHeight = 90;

FfmpegMovieWriterOptions fileOptions() {
    FfmpegMovieWriterOptions options;
    options.realTime = false;  // nothing dropped: every frame handed over is written
    return options;
}

class ScreenRecorderFailureTest : public ::testing::Test {
protected:
    ScreenRecorderFailureTest() {
        displays_.setDisplays({DisplayInfo{kDisplay, 0, 0, kFailureWidth, kFailureHeight, true, false}});
        recorder_ = std::make_unique<ScreenRecorder>(path_, VideoCodec::h264, false, main_, displays_, capture_,
                                                     writers_.factory());
        recorder_->setOnFailure([this](const ScreenError& error) { failures_.push_back(error); });
        recorder_->setOnStopped([this](const std::string& reason) { stops_.push_back(reason); });
        std::optional<Result<void, ScreenError>> started;
        recorder_->start(std::nullopt, [&](Result<void, ScreenError> r) { started = std::move(r); });
        EXPECT_TRUE(main_.waitFor([&] { return started.has_value(); }, 10s));
        EXPECT_TRUE(started && *started);
    }

    // `count` frames, a tenth of a second apart, each handled before the next.
    void frames(int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(capture_.emitFrame(testsupport::patternFrame(kFailureWidth, kFailureHeight, sent_, t0_ + sent_ * 100ms)));
            ++sent_;
            (void)recorder_->stats();
        }
    }

    Outcome stop() {
        std::optional<Outcome> outcome;
        recorder_->stop(t0_ + sent_ * 100ms, [&](Outcome r) { outcome = std::move(r); });
        EXPECT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 30s));
        return outcome.value_or(unexpected(ScreenError::captureFailed("no answer")));
    }

    FakeDisplayService displays_;
    FakeScreenCaptureBackend capture_;
    ManualExecutor main_;
    testsupport::TempDir dir_;
    const std::filesystem::path path_ = dir_.path() / "Screen.mov";
    FailingMovieWriters writers_{ffmpegMovieWriterFactory(fileOptions())};
    std::unique_ptr<ScreenRecorder> recorder_;
    std::vector<ScreenError> failures_;
    std::vector<std::string> stops_;
    const TimePoint t0_ = SteadyClock::now();
    int sent_ = 0;
};

TEST_F(ScreenRecorderFailureTest, AWriteFailureIsToldOnceAtOnceAndTheStopKeepsWhatWasWritten) {
    frames(10);
    ASSERT_TRUE(writers_.fail("Screen.mov", "No space left on device"));
    // Told without a stop, on the main executor.
    ASSERT_TRUE(main_.waitFor([&] { return !failures_.empty(); }, 10s));
    EXPECT_EQ(failures_[0], ScreenError::writerFailed("No space left on device"));

    const ScreenRecorderStats atFailure = recorder_->stats();
    frames(10);
    main_.runUntilIdle();
    const ScreenRecorderStats after = recorder_->stats();
    EXPECT_EQ(after.framesWritten, atFailure.framesWritten) << "nothing is written after the failure";
    EXPECT_EQ(after.framesDroppedWriter, atFailure.framesDroppedWriter) << "nor counted as the writer being behind";
    EXPECT_EQ(writers_.samplesTaken("Screen.mov"), 10);

    const Outcome outcome = stop();
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error(), failures_[0]);
    main_.runUntilIdle();
    EXPECT_EQ(failures_.size(), 1u);
    EXPECT_TRUE(stops_.empty()) << "the capture did not stop by itself";
    EXPECT_FALSE(capture_.running());

    // The ten frames before the failure are in a movie that opens.
    const auto probed = testsupport::probe(path_);
    const auto* video = testsupport::streamOfType(probed, "video");
    ASSERT_NE(video, nullptr) << "the movie written before the failure does not open";
}

TEST_F(ScreenRecorderFailureTest, AFailureAtTheFinishIsTheStopsResultAlone) {
    frames(5);
    std::optional<Outcome> outcome;
    recorder_->stop(t0_ + sent_ * 100ms, [&](Outcome r) { outcome = std::move(r); });
    // Whether the writer still takes the failure depends on how far the stop
    // got; either way the stop, not the failure handler, reports.
    const bool failed = writers_.fail("Screen.mov", "Input/output error");
    ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 30s));
    main_.runUntilIdle();
    EXPECT_TRUE(failures_.empty());
    if (failed) {
        ASSERT_FALSE(outcome->has_value());
        EXPECT_EQ(outcome->error(), ScreenError::writerFailed("Input/output error"));
    } else {
        EXPECT_TRUE(outcome->has_value());
    }
}

// The movie's folder removed just before the stop: the failure shows only
// at the finish, and is logged as one seen while recording is.
TEST_F(ScreenRecorderFailureTest, AMovieRemovedJustBeforeTheStopIsLoggedAsItsFailure) {
    testsupport::LogCapture log;
    frames(5);
    std::filesystem::remove_all(dir_.path());
    const Outcome outcome = stop();
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error(), ScreenError::writerFailed("The movie file was removed while it was recorded"));
    EXPECT_EQ(log.count("Screen recording ended: The movie file was removed"), 1);
}

}  // namespace
}  // namespace hollowkit
