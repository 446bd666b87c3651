#pragma once

// The recorder tests' fixture: a recorder over the real FFmpeg writer that
// waits for room instead of dropping, the main executor on virtual time, and
// a fresh folder for the movies.

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/movie_recorder.h"
#include "hollowkit/testing/manual_executor.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::number;
using testsupport::patternFrame;
using testsupport::probe;
using testsupport::streamOfType;
using testsupport::toneChunk;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Frame i of a 30 fps camera, to the nanosecond (adding 1/30 s thirty times
// would fall short of a second).
inline Duration frameTime(int i) {
    return std::chrono::nanoseconds(std::llround(i * 1e9 / 30));
}

inline Duration secondsD(double s) {
    return toDuration(s);
}

class MovieRecorderTest : public ::testing::Test {
protected:
    using Outcome = Result<std::filesystem::path, RecorderError>;

    // The real FFmpeg writer, but waiting for room instead of dropping, so a
    // test decides exactly which frames reach the movie.
    static MovieWriterFactory patientWriter() {
        FfmpegMovieWriterOptions options;
        options.realTime = false;
        return ffmpegMovieWriterFactory(options);
    }

    std::unique_ptr<MovieRecorder> makeRecorder(const std::filesystem::path& file, VideoCodec codec,
                                                std::optional<TimePoint> sessionStart,
                                                bool expectsAudio,
                                                MovieWriterFactory factory = patientWriter()) {
        return std::make_unique<MovieRecorder>(file, codec, sessionStart, expectsAudio, main_,
                                               clock_, std::move(factory));
    }

    // Waits until the recorder's queue has handled everything appended.
    static void settle(const MovieRecorder& recorder) { (void)recorder.sizeChanges(); }

    Outcome finish(MovieRecorder& recorder, std::optional<TimePoint> endTime = std::nullopt) {
        std::optional<Outcome> outcome;
        recorder.finish(endTime, [&](Outcome result) { outcome = std::move(result); });
        EXPECT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 60s));
        return outcome.value_or(unexpected(RecorderError::writerFailed("no completion")));
    }

    std::filesystem::path file(const char* name) const { return dir_.path() / name; }

    ManualExecutor main_;
    ManualClock clock_;
    testsupport::TempDir dir_;
    testsupport::LogCapture log_;
};

}  // namespace
}  // namespace hollowkit
