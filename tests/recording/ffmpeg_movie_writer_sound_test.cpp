// The FFmpeg movie writer's two bounds on sound that waits: a live writer
// keeps sound by its length while its encoder is behind, up to its backlog
// and no more; and sound encoded ahead of a picture that stalls waits for
// that picture for at most kMaxWaitingSoundSeconds before it goes into the
// file regardless.

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

constexpr int kRate = 48000;
// The writer's bound on sound waiting for its picture (kMaxWaitingSoundSeconds).
constexpr int kWaitingSoundBound = 60;

Duration frameAt(int64_t i) {
    return std::chrono::nanoseconds(std::llround(static_cast<double>(i) * 1e9 / 30));
}

// Holds the encoder's thread at its first frame until opened; bounded, so a
// broken test still ends.
class EncoderGate {
public:
    void pass() {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, 60s, [&] { return open_; });
    }
    bool waitEntered() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return entered_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};

MovieWriterSettings smallMovieWithSound() {
    MovieWriterSettings settings;
    settings.codec = VideoCodec::h264;
    settings.width = 320;
    settings.height = 240;
    settings.videoBitRate = 400'000;
    settings.audio = MovieAudioSettings{kRate, 2};
    return settings;
}

// The encoder held at its first frame, sound offered in chunks for 30 s:
// the writer takes it until its backlog holds the length its options give,
// whatever the chunks' size, then refuses it.
TEST(FfmpegMovieWriterSoundTest, ALateEncoderKeepsSoundUpToItsBacklogByLengthAndNoMore) {
    const struct {
        const char* name;
        std::optional<Duration> backlog;  // nothing: the writer's own
        int pieceSamples;
    } cases[] = {
        {"the writer's own backlog, in frames' chunks", std::nullopt, kRate / 30},
        {"a backlog of three seconds, in 5 ms chunks", 3s, kRate / 200},
    };
    testsupport::TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EncoderGate gate;
        FfmpegMovieWriterOptions options;
        options.realTime = true;
        options.beforeVideoEncodeForTesting = [&gate] { gate.pass(); };
        if (c.backlog) options.maxPendingAudio = *c.backlog;
        const Duration backlog = options.maxPendingAudio;
        auto writer = makeFfmpegMovieWriter(dir.path() / ("backlog" + std::to_string(n++) + ".mov"), options);
        const TimePoint start = TimePoint(std::chrono::seconds(50));
        ASSERT_TRUE(writer->start(smallMovieWithSound(), start).has_value());
        ASSERT_TRUE(writer->appendVideo(testsupport::patternFrame(320, 240, 0, start)));
        ASSERT_TRUE(gate.waitEntered());

        const Duration piece = toDuration(static_cast<double>(c.pieceSamples) / kRate);
        Duration taken{};
        int refused = 0;
        for (int64_t i = 0; piece * i < 30s; ++i) {
            const auto chunk = testsupport::toneChunk(kRate, 2, i * c.pieceSamples, c.pieceSamples, start + piece * i);
            if (writer->appendAudio(chunk)) {
                EXPECT_EQ(refused, 0) << "taken after a refusal: the encoder is still held";
                taken += piece;
            } else {
                ++refused;
            }
        }
        EXPECT_GE(taken, backlog) << "sound refused before the backlog was full leaves a hole";
        EXPECT_LT(taken, backlog + piece) << std::chrono::duration<double>(taken).count() << " s kept";
        EXPECT_FALSE(writer->readyForAudio());
        gate.open();
        EXPECT_TRUE(writer->finish(std::nullopt).has_value());
    }
}

int64_t sizeOf(const std::filesystem::path& file) {
    struct stat info{};
    return ::stat(file.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

// Two seconds of picture, then the camera stalls while its sound goes on
// for kMaxWaitingSoundSeconds and a minute more: the sound behind the
// stalled picture waits for it only that long, and the rest goes into the
// file while no picture comes (a movie cut off then keeps it). Each chunk
// is offered once the one before is written, so the file is looked at
// once the writer has handled all but the last.
TEST(FfmpegMovieWriterSoundTest, SoundBehindAStalledPictureWaitsForItAtMostItsBound) {
    constexpr int kFrames = 60;
    constexpr int kSoundSeconds = kWaitingSoundBound + 60;
    testsupport::TempDir dir;
    const auto movie = dir.path() / "stalled.mov";
    FfmpegMovieWriterOptions options;
    options.realTime = false;
    options.maxPendingAudioChunks = 1;
    auto writer = makeFfmpegMovieWriter(movie, options);
    const TimePoint start = TimePoint(std::chrono::seconds(50));
    ASSERT_TRUE(writer->start(smallMovieWithSound(), start).has_value());
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(writer->appendVideo(testsupport::patternFrame(320, 240, i, start + frameAt(i))));
        ASSERT_TRUE(writer->appendAudio(testsupport::toneChunk(kRate, 2, int64_t{i} * (kRate / 30), kRate / 30,
                                                               start + frameAt(i))));
    }
    const int64_t beforeStall = sizeOf(movie);
    for (int second = 2; second < kSoundSeconds; ++second) {
        ASSERT_TRUE(writer->appendAudio(
            testsupport::toneChunk(kRate, 2, int64_t{second} * kRate, kRate, start + std::chrono::seconds(second))));
    }
    const int64_t afterStall = sizeOf(movie);
    ASSERT_TRUE(writer->finish(std::nullopt).has_value());

    // What the finished movie's sound takes a second, to weigh the growth by.
    const auto probed = testsupport::probe(movie);
    const auto* audio = testsupport::streamOfType(probed, "audio");
    ASSERT_NE(audio, nullptr);
    const double bytesPerSecond = testsupport::number(*audio, "bit_rate") / 8;
    ASSERT_GT(bytesPerSecond, 0);
    const double grownSeconds = static_cast<double>(afterStall - std::max<int64_t>(beforeStall, 0)) / bytesPerSecond;
    // Written: all but the last kMaxWaitingSoundSeconds (and what the
    // muxer gathers before a fragment of the file goes out).
    EXPECT_GT(grownSeconds, (kSoundSeconds - kWaitingSoundBound) / 2.0)
        << beforeStall << " bytes before the stall, " << afterStall << " after";
}

}  // namespace
}  // namespace hollowkit
