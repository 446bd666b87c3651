// The FFmpeg movie writer lets go of its encoders when the movie is
// finished, not when the writer itself goes: once finish returns, the
// encoders' threads have ended (and what they held went back to the
// system), while the writer may still be kept a while by its owner.

#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

size_t threadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

class FfmpegMovieWriterReleaseTest : public testing::TestWithParam<VideoCodec> {};

TEST_P(FfmpegMovieWriterReleaseTest, FinishEndsTheEncodersThreads) {
    testsupport::TempDir dir;
    // A sanitizer's runtime starts a thread of its own with the first thread
    // made; one made and ended here keeps that out of the count.
    std::thread([] {}).join();
    const size_t before = threadCount();
    FfmpegMovieWriterOptions options;
    options.realTime = false;
    options.encoderThreads = 2;
    auto writer = makeFfmpegMovieWriter(dir.path() / "movie.mov", options);
    MovieWriterSettings settings;
    settings.codec = GetParam();
    settings.width = 320;
    settings.height = 240;
    settings.videoBitRate = 400'000;
    settings.audio = MovieAudioSettings{48000, 2};
    const TimePoint start = TimePoint(std::chrono::seconds(100));
    ASSERT_TRUE(writer->start(settings, start).has_value());
    constexpr int kChunk = 1600;  // 1/30 s of sound
    for (int i = 0; i < 10; ++i) {
        const TimePoint at = start + i * std::chrono::microseconds(33'333);
        ASSERT_TRUE(writer->appendVideo(testsupport::patternFrame(320, 240, i, at)));
        ASSERT_TRUE(writer->appendAudio(testsupport::toneChunk(48000, 2, int64_t{i} * kChunk, kChunk, at)));
    }
    // The writer's own thread and the encoder's.
    EXPECT_GT(threadCount(), before + 1);

    const auto finished = writer->finish(std::nullopt);
    ASSERT_TRUE(finished.has_value()) << finished.error();
    // At most: a thread of an earlier test may still be ending.
    EXPECT_LE(threadCount(), before);
    EXPECT_TRUE(testsupport::decodesCleanly(dir.path() / "movie.mov"));
}

INSTANTIATE_TEST_SUITE_P(Codecs, FfmpegMovieWriterReleaseTest, testing::Values(VideoCodec::hevc, VideoCodec::h264),
                         [](const auto& codec) { return codec.param == VideoCodec::hevc ? "Hevc" : "H264"; });

}  // namespace
}  // namespace hollowkit
