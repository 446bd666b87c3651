// Where a movie's picture and sound end, whatever the encoder's pace: both
// end where the last frame offered before the finish ends, when the encoder
// or the recorder's queue was too late to take the last frames, and when
// the frames came slowly at the end; a movie ended by a full disk keeps no
// sound past its picture. The encoder's and the queue's pace are set by the
// test, frame by frame.

#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>

#include "movie_recorder_harness.h"

namespace hollowkit {
namespace {

constexpr int kRate = 48000;
constexpr int kSamplesPerFrame = kRate / 30;
constexpr double kFramePeriod = 1.0 / 30;

double inSeconds(Duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// Lets frames through one at a time as the test allows: the n-th call of
// pass() (from 0) returns once `allow` has gone past n. Bounded, so a broken
// test still ends.
class Gate {
public:
    void pass() {
        std::unique_lock lock(mutex_);
        const int index = entered_++;
        changed_.notify_all();
        changed_.wait_for(lock, 60s, [&] { return index < allowed_; });
    }
    void allow(int count) {
        std::lock_guard lock(mutex_);
        allowed_ = std::max(allowed_, count);
        changed_.notify_all();
    }
    // Whether `count` frames have come to the gate.
    bool waitEntered(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 60s, [&] { return entered_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    int allowed_ = 0;
};

// Opens the gate for good as it goes, so a test that stops half-way does not
// leave its recorder waiting there.
struct GateOpener {
    Gate& gate;
    ~GateOpener() { gate.allow(std::numeric_limits<int>::max()); }
};

// A real writer whose appendVideo passes `gate` first: while the gate is
// shut the recorder's queue is held there.
class QueueHoldingWriter final : public MovieWriter {
public:
    QueueHoldingWriter(std::unique_ptr<MovieWriter> inner, Gate& gate) : inner_(std::move(inner)), gate_(gate) {}
    void setOnFailure(FailureHandler handler) override { inner_->setOnFailure(std::move(handler)); }
    Result<void, std::string> start(const MovieWriterSettings& settings, TimePoint sessionStart) override {
        return inner_->start(settings, sessionStart);
    }
    bool isWriting() const override { return inner_->isWriting(); }
    bool readyForVideo() const override { return inner_->readyForVideo(); }
    bool readyForAudio() const override { return inner_->readyForAudio(); }
    bool appendVideo(const VideoFrame& frame) override {
        gate_.pass();
        return inner_->appendVideo(frame);
    }
    bool appendAudio(const AudioChunk& chunk) override { return inner_->appendAudio(chunk); }
    std::string errorText() const override { return inner_->errorText(); }
    Result<void, std::string> finish(std::optional<TimePoint> endTime) override { return inner_->finish(endTime); }

private:
    std::unique_ptr<MovieWriter> inner_;
    Gate& gate_;
};

// The recorder's queue held at the gate, behind the patient writer.
MovieWriterFactory queueHeldAt(Gate& gate) {
    return [&gate](const FileInFolder& path) -> std::unique_ptr<MovieWriter> {
        FfmpegMovieWriterOptions options;
        options.realTime = false;
        return std::make_unique<QueueHoldingWriter>(makeFfmpegMovieWriter(path, options), gate);
    };
}

// A live writer (it refuses what it has no room for) whose encoder takes a
// frame only once the gate lets it.
MovieWriterFactory encoderHeldAt(Gate& gate) {
    FfmpegMovieWriterOptions options;
    options.realTime = true;
    options.beforeVideoEncodeForTesting = [&gate] { gate.pass(); };
    return ffmpegMovieWriterFactory(options);
}

class MovieTrackEndsTest : public MovieRecorderTest {};

TEST_F(MovieTrackEndsTest, BothTracksEndWhereTheLastFrameOfferedEndsHoweverLateTheEncoderIs) {
    enum class Pace : uint8_t { keepsUp, encoderHeldAtTheEnd, queueHeldAtTheEnd, framesSlowAtTheEnd };
    const struct {
        const char* name;
        Pace pace;
        int soundPiecesPerFrame = 1;
    } cases[] = {
        {"the encoder keeps up", Pace::keepsUp},
        {"the encoder takes no frame of the last second", Pace::encoderHeldAtTheEnd},
        // A second of sound waits behind the frames in the writer, in many
        // more chunks than frames.
        {"the encoder takes no frame of the last second, sound in 5 ms chunks", Pace::encoderHeldAtTheEnd, 7},
        {"the recorder's queue is held for the last second", Pace::queueHeldAtTheEnd},
        {"the last frames come a third of a second apart", Pace::framesSlowAtTheEnd},
    };
    constexpr int kFrames = 60;
    constexpr int kHeldFrom = 30;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Gate gate;
        MovieWriterFactory writers = patientWriter();
        if (c.pace == Pace::encoderHeldAtTheEnd) writers = encoderHeldAt(gate);
        if (c.pace == Pace::queueHeldAtTheEnd) writers = queueHeldAt(gate);
        const auto path = file(("ends" + std::to_string(n++) + ".mov").c_str());
        auto recorder = makeRecorder(path, VideoCodec::hevc, std::nullopt, true, writers);
        const GateOpener opener{gate};
        const TimePoint base = clock_.now();
        const auto timeOf = [&](int i) {
            if (c.pace != Pace::framesSlowAtTheEnd || i < kFrames - 5) return base + frameTime(i);
            return base + frameTime(kFrames - 5) + secondsD((i - (kFrames - 5)) / 3.0);
        };
        // Sound to the end of the last frame, in as many chunks a frame as the case gives.
        const auto offer = [&](int i) {
            const TimePoint pts = timeOf(i);
            const int samples = static_cast<int>(std::llround(inSeconds(timeOf(i + 1) - pts) * kRate));
            for (int piece = 0; piece < c.soundPiecesPerFrame; ++piece) {
                const int from = samples * piece / c.soundPiecesPerFrame;
                const int to = samples * (piece + 1) / c.soundPiecesPerFrame;
                recorder->appendAudio(toneChunk(kRate, 2, int64_t{i} * kSamplesPerFrame + from, to - from,
                                                pts + toDuration(static_cast<double>(from) / kRate)));
            }
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, pts));
        };
        gate.allow(kHeldFrom);
        for (int i = 0; i < kHeldFrom; ++i) {
            offer(i);
            settle(*recorder);
            // The encoder has taken it before the next comes.
            if (c.pace == Pace::encoderHeldAtTheEnd) {
                ASSERT_TRUE(gate.waitEntered(i + 1));
            }
        }
        if (c.pace == Pace::queueHeldAtTheEnd) {
            offer(kHeldFrom);
            ASSERT_TRUE(gate.waitEntered(kHeldFrom + 1));
            for (int i = kHeldFrom + 1; i < kFrames; ++i) offer(i);
        } else {
            for (int i = kHeldFrom; i < kFrames; ++i) {
                offer(i);
                settle(*recorder);
            }
        }
        std::optional<Outcome> outcome;
        recorder->finish(std::nullopt, [&](Outcome result) { outcome = std::move(result); });
        gate.allow(kFrames * 2);
        ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 60s));
        ASSERT_TRUE(outcome->has_value()) << outcome->error().userMessage();

        const MovieRecorderStats stats = recorder->stats();
        if (c.pace == Pace::encoderHeldAtTheEnd || c.pace == Pace::queueHeldAtTheEnd) {
            EXPECT_GT(stats.videoDroppedBusy, 10u) << "the last frames should not all have been taken";
        } else {
            EXPECT_EQ(stats.videoWritten, static_cast<uint64_t>(kFrames));
        }
        const double end = inSeconds(timeOf(kFrames) - base);
        const auto probed = probe(path);
        const auto* video = streamOfType(probed, "video");
        const auto* audio = streamOfType(probed, "audio");
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        EXPECT_NEAR(number(*video, "start_time"), 0.0, kFramePeriod);
        EXPECT_NEAR(number(*audio, "start_time"), 0.0, kFramePeriod);
        EXPECT_NEAR(number(*video, "duration"), end, kFramePeriod);
        EXPECT_NEAR(number(*audio, "duration"), end, kFramePeriod);
        EXPECT_NEAR(number(probed["format"], "duration"), end, kFramePeriod);
        EXPECT_TRUE(testsupport::decodesCleanly(path));
    }
}

// A full disk while the encoder holds many seconds of frames: the encoders
// keep a number of frames before their first packet comes out (x265 and
// x264 look ahead and reorder; x265 codes several frames at once), and when
// frames come slowly (here a camera of one frame in two seconds: a loaded
// machine's encoder that takes one frame in sixty is as slow) that is far
// longer than the muxer waits for a track before it lets the other go
// ahead. What the full disk keeps holds as much sound as picture, not the
// sound of the frames still in the encoder.
TEST_F(MovieTrackEndsTest, AMovieEndedByAFullDiskKeepsNoSoundPastItsPicture) {
    constexpr double kSlowPeriod = 2.0;
    constexpr int kChunk = static_cast<int>(kRate * kSlowPeriod);
    const struct {
        const char* name;
        VideoCodec codec;
    } cases[] = {{"HEVC", VideoCodec::hevc}, {"H.264", VideoCodec::h264}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto folder = dir_.path() / ("full" + std::to_string(n++));
        const auto path = folder / "full.mov";
        // First: a recorder makes its movie in the folder there at its making.
        testsupport::SmallDisk disk(folder, 400 * 1024);
        auto recorder = makeRecorder(path, c.codec, std::nullopt, true);
        bool failed = false;
        recorder->setOnFailure([&](const RecorderError&) { failed = true; });
        const TimePoint base = clock_.now();
        const auto timeOf = [&](int i) { return base + secondsD(i * kSlowPeriod); };
        for (int i = 0; !failed && i < 3600; ++i) {
            recorder->appendAudio(toneChunk(kRate, 2, int64_t{i} * kChunk, kChunk, timeOf(i)));
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, timeOf(i)));
            settle(*recorder);
            main_.runUntilIdle();
        }
        ASSERT_TRUE(failed);
        std::optional<Outcome> outcome;
        recorder->finish(std::nullopt, [&](Outcome result) { outcome = std::move(result); });
        ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 60s));
        ASSERT_FALSE(outcome->has_value());

        const auto probed = probe(path);
        const auto* video = streamOfType(probed, "video");
        const auto* audio = streamOfType(probed, "audio");
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        const double picture = number(*video, "duration");
        EXPECT_GE(picture, 5 * kSlowPeriod);
        EXPECT_LE(number(*audio, "duration"), picture + kSlowPeriod);
        EXPECT_GE(number(*audio, "duration"), picture - 2 * kSlowPeriod);
        disk.release();
    }
}

}  // namespace
}  // namespace hollowkit
