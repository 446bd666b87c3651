#include "hollowkit/recording/movie_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>

#include <gtest/gtest.h>

#include "hollowkit/recording/media_library.h"
#include "hollowkit/testing/bounded_child.h"
#include "movie_recorder_harness.h"

namespace hollowkit {
namespace {

// Codec, tag, picture size, average bit rate and the sound track, as a player
// sees them, for both codecs with and without sound.
TEST_F(MovieRecorderTest, WritesEachCodecWithAndWithoutSound) {
    struct Case {
        VideoCodec codec;
        int sampleRate;  // 0: no sound
        int channels;
        SampleFormat format;
        const char* codecName;
        const char* tag;
        int expectedChannels;
    };
    const Case cases[] = {
        {VideoCodec::hevc, 0, 0, SampleFormat::none, "hevc", "hvc1", 0},
        {VideoCodec::hevc, 48000, 2, SampleFormat::f32, "hevc", "hvc1", 2},
        {VideoCodec::h264, 0, 0, SampleFormat::none, "h264", "avc1", 0},
        {VideoCodec::h264, 44100, 1, SampleFormat::s16, "h264", "avc1", 1},
        {VideoCodec::h264, 48000, 6, SampleFormat::f32, "h264", "avc1", 2},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codecName) + " sound " + std::to_string(c.channels));
        const auto path = file(("movie" + std::to_string(n++) + ".mov").c_str());
        const bool sound = c.sampleRate > 0;
        auto recorder = makeRecorder(path, c.codec, std::nullopt, sound);
        const TimePoint base = clock_.now();
        const int samplesPerFrame = sound ? c.sampleRate / 30 : 0;
        constexpr int kFrames = 90;
        for (int i = 0; i < kFrames; ++i) {
            const TimePoint pts = base + frameTime(i);
            if (sound) {
                recorder->appendAudio(toneChunk(c.sampleRate, c.channels, int64_t{i} * samplesPerFrame,
                                                samplesPerFrame, pts, c.format));
            }
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, pts));
            settle(*recorder);
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        EXPECT_EQ(outcome.value(), path);

        const auto probed = probe(path);
        const auto* video = streamOfType(probed, "video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ((*video)["codec_name"], c.codecName);
        EXPECT_EQ((*video)["codec_tag_string"], c.tag);
        EXPECT_EQ((*video)["width"], kWidth);
        EXPECT_EQ((*video)["height"], kHeight);
        const double target = static_cast<double>(bitRate(c.codec, kWidth, kHeight));
        EXPECT_NEAR(number(*video, "bit_rate"), target, target * 0.2);
        EXPECT_NEAR(number(probed["format"], "duration"), 3.0, 0.1);
        EXPECT_NEAR(number(probed["format"], "start_time"), 0.0, 0.03);
        EXPECT_EQ(number(*video, "nb_frames"), kFrames);

        const auto* audio = streamOfType(probed, "audio");
        if (sound) {
            ASSERT_NE(audio, nullptr);
            EXPECT_EQ((*audio)["codec_name"], "aac");
            EXPECT_EQ(number(*audio, "sample_rate"), c.sampleRate);
            EXPECT_EQ((*audio)["channels"], c.expectedChannels);
            // Sound from the first frame to the end: one chunk (1/30 s) lost
            // at either end shows.
            EXPECT_NEAR(number(*audio, "start_time"), 0.0, 0.005);
            EXPECT_NEAR(number(*audio, "duration"), 3.0, 0.005);
        } else {
            EXPECT_EQ(audio, nullptr);
        }
        EXPECT_TRUE(testsupport::decodesCleanly(path));
        const std::string line = std::string("Recording 320x240 ") + std::string(toString(c.codec)) +
                                 (sound ? " with audio" : " without audio") + " to " +
                                 path.filename().string();
        EXPECT_TRUE(log_.contains(line)) << line;
    }
}

// The sound chunk stamped with the first frame's time comes before that
// frame, when no movie exists yet; it is still the start of the sound, also
// in a movie of a single frame, and a take cuts it at the session start.
// Sound that begins after the first frame is led in with silence from it.
TEST_F(MovieRecorderTest, SoundStartsWithTheFirstFrame) {
    struct Case {
        std::optional<double> sessionStartAfter;  // seconds after the first chunk; none: a plain recording
        int frames;
        double expectedDuration;
        double soundLate = 0;  // the sound's times after the frames'
    };
    const Case cases[] = {
        {std::nullopt, 1, 1 / 30.0},
        {std::nullopt, 4, 4 / 30.0},
        // Frame 0 is before the start and dropped; chunk 0 is cut in half.
        {1 / 60.0, 4, 4 / 30.0 - 1 / 60.0},
        // Its first sound 40 ms after the first frame.
        {std::nullopt, 4, 4 / 30.0, 0.04},
        // Half a second after: a lead longer than the recorder hands over
        // at once, the rest of it a gap the writer fills.
        {std::nullopt, 30, 1.0, 0.5},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const auto path = file(("first" + std::to_string(n++) + ".mov").c_str());
        const TimePoint base = clock_.now();
        std::optional<TimePoint> sessionStart;
        if (c.sessionStartAfter) sessionStart = base + secondsD(*c.sessionStartAfter);
        auto recorder = makeRecorder(path, VideoCodec::h264, sessionStart, true);
        for (int i = 0; i < c.frames; ++i) {
            const TimePoint pts = base + frameTime(i);
            recorder->appendAudio(toneChunk(48000, 2, int64_t{i} * 1600, 1600, pts + secondsD(c.soundLate)));
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, pts));
            settle(*recorder);
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        const auto probed = probe(path);
        const auto* audio = streamOfType(probed, "audio");
        ASSERT_NE(audio, nullptr);
        EXPECT_NEAR(number(*audio, "start_time"), 0.0, 0.005);
        EXPECT_NEAR(number(*audio, "duration"), c.expectedDuration, 0.005);
        EXPECT_TRUE(log_.contains("H.264 with audio to " + path.filename().string()));
    }
}

// Sound that starts minutes after the first frame (a stream that stalled
// after its first block) is led in with silence that is never built whole:
// the recording takes less memory than one array of the lead's length. A
// child process, so its peak is the recording's own.
TEST_F(MovieRecorderTest, ALongLeadOfSilenceIsNeverBuiltWhole) {
    constexpr int kRate = 48000;
    constexpr int kChannels = 2;
    constexpr double kLeadSeconds = 300;
    const auto path = file("long-lead.mov");
    const testsupport::ChildOutcome outcome = testsupport::runInChild(
        [&] {
            auto recorder = makeRecorder(path, VideoCodec::h264, std::nullopt, true);
            const TimePoint base = clock_.now();
            recorder->appendAudio(toneChunk(kRate, kChannels, 0, kRate / 30, base + secondsD(kLeadSeconds)));
            recorder->appendVideo(patternFrame(kWidth, kHeight, 0, base));
            settle(*recorder);
            return finish(*recorder, base + secondsD(kLeadSeconds + 1)) ? 0 : 1;
        },
        std::chrono::seconds(120));
    ASSERT_TRUE(outcome.finished);
    ASSERT_EQ(outcome.exitCode, 0);
    if (testsupport::kPlainMemoryPeaks) {
        const auto leadBytes = static_cast<int64_t>(kLeadSeconds * kRate * kChannels * sizeof(float));
        EXPECT_LT(outcome.peakGrowthBytes, leadBytes)
            << outcome.peakGrowthBytes / 1e6 << " MB for a lead of " << leadBytes / 1e6 << " MB";
    }
    const auto probed = probe(path);
    const auto* audio = streamOfType(probed, "audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_NEAR(number(*audio, "start_time"), 0.0, 0.005) << "led in from the first frame";
    EXPECT_GE(number(*audio, "duration"), kLeadSeconds);
}

// Sound expected but late: frames wait up to a second, then the movie starts
// without a sound track; a microphone that fails ends the wait at once.
TEST_F(MovieRecorderTest, WaitsUpToOneSecondForSound) {
    struct Case {
        int noSoundAfterFrame;  // -1: never told
        int expectedFrames;
    };
    const Case cases[] = {{-1, 60}, {5, 85}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.noSoundAfterFrame);
        const auto path = file(("wait" + std::to_string(n++) + ".mov").c_str());
        auto recorder = makeRecorder(path, VideoCodec::hevc, std::nullopt, true);
        const TimePoint base = clock_.now();
        for (int i = 0; i < 90; ++i) {
            if (i == c.noSoundAfterFrame) recorder->noAudioExpected();
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, base + frameTime(i)));
            settle(*recorder);
            clock_.set(base + frameTime(i + 1));
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        const auto probed = probe(path);
        ASSERT_NE(streamOfType(probed, "video"), nullptr);
        EXPECT_EQ(number(*streamOfType(probed, "video"), "nb_frames"), c.expectedFrames);
        EXPECT_EQ(streamOfType(probed, "audio"), nullptr);
        EXPECT_TRUE(log_.contains("HEVC without audio to " + path.filename().string()));
    }
}

// A take's movie starts at the session start: earlier frames are dropped and
// a later first frame leaves an empty stretch (an edit) before it. Sound
// recorded with the take lines up with the picture.
TEST_F(MovieRecorderTest, TakeMovieStartsAtTheSessionStart) {
    struct Case {
        double firstFrameSeconds;  // relative to the session start
        double expectedStart;
        int expectedFrames;
        double expectedDuration;
    };
    const Case cases[] = {{-0.5, 0.0, 75, 2.5}, {0.5, 0.5, 90, 3.5}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firstFrameSeconds);
        const auto path = file(("take" + std::to_string(n++) + ".mov").c_str());
        const TimePoint sessionStart = clock_.now();
        auto recorder = makeRecorder(path, VideoCodec::h264, sessionStart, true);
        const TimePoint first = sessionStart + secondsD(c.firstFrameSeconds);
        clock_.set(first);
        for (int i = 0; i < 90; ++i) {
            const TimePoint pts = first + frameTime(i);
            recorder->appendAudio(toneChunk(48000, 2, int64_t{i} * 1600, 1600, pts));
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, pts));
            settle(*recorder);
            clock_.set(first + frameTime(i + 1));
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        const auto probed = probe(path);
        const auto* video = streamOfType(probed, "video");
        const auto* audio = streamOfType(probed, "audio");
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        EXPECT_NEAR(number(*video, "start_time"), c.expectedStart, 0.02);
        EXPECT_NEAR(number(*audio, "start_time"), c.expectedStart, 0.05);
        EXPECT_EQ(number(*video, "nb_frames"), c.expectedFrames);
        EXPECT_NEAR(number(probed["format"], "duration"), c.expectedDuration, 0.1);
        EXPECT_TRUE(testsupport::decodesCleanly(path));
    }
}

// A camera whose clock runs apart from the host's by more than a second is
// moved onto the host clock (one offset for picture and sound); by a second
// or less it is left alone.
TEST_F(MovieRecorderTest, MovesCameraTimesOntoTheHostClockOnlyWhenFarApart) {
    struct Case {
        double cameraBehindSeconds;
        double expectedStart;
    };
    // The first frame arrives 1.5 s after the session start.
    const Case cases[] = {{10.0, 1.5}, {-30.0, 1.5}, {0.9, 0.6}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cameraBehindSeconds);
        const auto path = file(("clock" + std::to_string(n++) + ".mov").c_str());
        const TimePoint sessionStart = clock_.now();
        auto recorder = makeRecorder(path, VideoCodec::hevc, sessionStart, true);
        const TimePoint hostFirst = sessionStart + 1500ms;
        clock_.set(hostFirst);
        const TimePoint cameraFirst = hostFirst - secondsD(c.cameraBehindSeconds);
        for (int i = 0; i < 60; ++i) {
            const TimePoint pts = cameraFirst + frameTime(i);
            recorder->appendAudio(toneChunk(48000, 1, int64_t{i} * 1600, 1600, pts));
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, pts));
            settle(*recorder);
            clock_.set(hostFirst + frameTime(i + 1));
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        const auto probed = probe(path);
        ASSERT_NE(streamOfType(probed, "video"), nullptr);
        ASSERT_NE(streamOfType(probed, "audio"), nullptr);
        EXPECT_NEAR(number(*streamOfType(probed, "video"), "start_time"), c.expectedStart, 0.02);
        EXPECT_NEAR(number(*streamOfType(probed, "audio"), "start_time"), c.expectedStart, 0.05);
        EXPECT_EQ(number(*streamOfType(probed, "video"), "nb_frames"), 60);
    }
}

// An end time after the last frame holds the last frame until then; one at or
// before the last frame changes nothing.
TEST_F(MovieRecorderTest, EndTimeExtendsOnlyPastTheLastFrame) {
    struct Case {
        double endAfterLastFrame;
        double expectedDuration;
    };
    // 60 frames: the last starts at 59/30 s and lasts 1/30 s by itself.
    const Case cases[] = {{1.0, 59.0 / 30 + 1.0}, {-0.5, 2.0}, {0.0, 2.0}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endAfterLastFrame);
        const auto path = file(("end" + std::to_string(n++) + ".mov").c_str());
        auto recorder = makeRecorder(path, VideoCodec::hevc, std::nullopt, false);
        const TimePoint base = clock_.now();
        for (int i = 0; i < 60; ++i) {
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, base + frameTime(i)));
            settle(*recorder);
        }
        const TimePoint last = base + frameTime(59);
        const Outcome outcome = finish(*recorder, last + secondsD(c.endAfterLastFrame));
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        const auto probed = probe(path);
        EXPECT_NEAR(number(probed["format"], "duration"), c.expectedDuration, 0.04);
        EXPECT_EQ(number(*streamOfType(probed, "video"), "nb_frames"), 60);
    }
}

TEST_F(MovieRecorderTest, FinishBeforeAnyFrameReportsNoVideoAndLeavesNoFile) {
    const auto reserved = MediaLibrary::fileURL(dir_.path(), MediaLibrary::kVideoKind, "mov",
                                                std::chrono::system_clock::now());
    ASSERT_TRUE(reserved.has_value());
    ASSERT_TRUE(std::filesystem::exists(reserved.value()));
    auto recorder = makeRecorder(reserved.value(), VideoCodec::hevc, std::nullopt, true);
    // Sound alone does not make a movie.
    recorder->appendAudio(toneChunk(48000, 2, 0, 1600, clock_.now()));
    const Outcome outcome = finish(*recorder);
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error().userMessage(), "No video frames were recorded");
    EXPECT_FALSE(std::filesystem::exists(reserved.value()));
}

TEST_F(MovieRecorderTest, UnwritableFolderReportsRecordingFailed) {
    // Permissions do not stop root, so fall back to folders the kernel
    // refuses for everyone.
    const auto locked = dir_.path() / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    std::optional<std::filesystem::path> folder;
    for (const auto& candidate : {locked, std::filesystem::path("/sys"), std::filesystem::path("/proc")}) {
        const auto probeFile = candidate / "hk-probe";
        const int fd = ::open(probeFile.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            folder = candidate;
            break;
        }
        ::close(fd);
        ::unlink(probeFile.c_str());
    }
    if (!folder) GTEST_SKIP() << "no folder here refuses new files";

    const auto path = *folder / "Lumenhollow Video test.mov";
    auto recorder = makeRecorder(path, VideoCodec::hevc, std::nullopt, false);
    const TimePoint base = clock_.now();
    for (int i = 0; i < 3; ++i) {
        recorder->appendVideo(patternFrame(kWidth, kHeight, i, base + frameTime(i)));
    }
    const Outcome outcome = finish(*recorder);
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error().kind, RecorderError::Kind::writerFailed);
    EXPECT_TRUE(outcome.error().userMessage().starts_with("Recording failed: "))
        << outcome.error().userMessage();
    EXPECT_FALSE(std::filesystem::exists(path));
}

// A repeated or backward frame time is dropped instead of failing the movie.
TEST_F(MovieRecorderTest, RepeatedTimestampIsDroppedAndTheMovieSurvives) {
    const auto path = file("repeat.mov");
    auto recorder = makeRecorder(path, VideoCodec::h264, std::nullopt, false);
    const TimePoint base = clock_.now();
    for (int i = 0; i < 60; ++i) {
        const TimePoint pts = base + frameTime(i);
        recorder->appendVideo(patternFrame(kWidth, kHeight, i, pts));
        if (i == 20) recorder->appendVideo(patternFrame(kWidth, kHeight, 100, pts));
        if (i == 40) recorder->appendVideo(patternFrame(kWidth, kHeight, 101, pts - frameTime(5)));
        settle(*recorder);
    }
    const Outcome outcome = finish(*recorder);
    ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
    const auto probed = probe(path);
    EXPECT_EQ(number(*streamOfType(probed, "video"), "nb_frames"), 60);
    EXPECT_NEAR(number(probed["format"], "duration"), 2.0, 0.05);
    EXPECT_TRUE(testsupport::decodesCleanly(path));
}

// The camera turned to portrait and back: every change is noted and logged,
// and the movie keeps its first size with the portrait picture fitted in.
TEST_F(MovieRecorderTest, FrameSizeChangesAreNotedAndTheMovieStaysPlayable) {
    const auto path = file("turned.mov");
    const TimePoint sessionStart = clock_.now();
    auto recorder = makeRecorder(path, VideoCodec::hevc, sessionStart, false);
    for (int i = 0; i < 90; ++i) {
        const bool portrait = i >= 30 && i < 60;
        const TimePoint pts = sessionStart + frameTime(i);
        recorder->appendVideo(portrait ? patternFrame(kHeight, kWidth, i, pts, PixelFormat::bgra)
                                       : patternFrame(kWidth, kHeight, i, pts));
        settle(*recorder);
        clock_.set(sessionStart + frameTime(i + 1));
    }
    const std::vector<FrameSizeChange> expected{
        {0.0, kWidth, kHeight}, {1.0, kHeight, kWidth}, {2.0, kWidth, kHeight}};
    const auto changes = recorder->sizeChanges();
    ASSERT_EQ(changes.size(), expected.size());
    for (size_t i = 0; i < changes.size(); ++i) {
        EXPECT_NEAR(changes[i].time, expected[i].time, 1e-6);
        EXPECT_EQ(changes[i].width, expected[i].width);
        EXPECT_EQ(changes[i].height, expected[i].height);
    }
    EXPECT_TRUE(recorder->hasMixedOrientation());
    EXPECT_TRUE(log_.contains("Camera frames changed to 240x320 at 1.0s"));
    EXPECT_TRUE(log_.contains("Camera frames changed to 320x240 at 2.0s"));

    const Outcome outcome = finish(*recorder);
    ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
    const auto probed = probe(path);
    const auto* video = streamOfType(probed, "video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ((*video)["width"], kWidth);
    EXPECT_EQ((*video)["height"], kHeight);
    EXPECT_EQ(number(*video, "nb_frames"), 90);
    EXPECT_TRUE(testsupport::decodesCleanly(path));
}

// Blocks the writer's encoder until released.
class EncoderGate {
public:
    void hold() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool waitUntilHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return waiting_ > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int waiting_ = 0;
    bool open_ = false;
};

// Frames that share one pixel block; the block's owner counts how many
// frames are alive anywhere (queues, writer, encoder).
class CountedFrames {
public:
    CountedFrames() : pixels_(std::make_shared<std::vector<uint8_t>>(kWidth * kHeight * 3 / 2, 128)) {}
    VideoFrame make(TimePoint pts) const {
        const PlaneView planes[2] = {{pixels_->data(), kWidth}, {pixels_->data() + kWidth * kHeight, kWidth}};
        return VideoFrame::wrap(PixelFormat::nv12, kWidth, kHeight, planes, pts, pixels_);
    }
    long alive() const { return pixels_.use_count() - 1; }

private:
    std::shared_ptr<std::vector<uint8_t>> pixels_;
};

// A stalled encoder: live frames are dropped rather than piled up, and the
// movie completes with the frames that got through.
TEST_F(MovieRecorderTest, StalledEncoderDropsFramesAndKeepsMemoryBounded) {
    const auto path = file("stall.mov");
    EncoderGate gate;
    FfmpegMovieWriterOptions options;
    options.beforeVideoEncodeForTesting = [&gate] { gate.hold(); };
    auto recorder = makeRecorder(path, VideoCodec::hevc, std::nullopt, false,
                                 ffmpegMovieWriterFactory(options));
    CountedFrames frames;
    const TimePoint base = clock_.now();
    int index = 0;
    recorder->appendVideo(frames.make(base));
    ASSERT_TRUE(gate.waitUntilHeld());
    for (++index; index < 120; ++index) {
        recorder->appendVideo(frames.make(base + frameTime(index)));
        settle(*recorder);
    }
    // One frame in the encoder's hands plus the writer's backlog.
    EXPECT_LE(frames.alive(), options.maxPendingVideoFrames + 1);
    gate.open();
    const Outcome outcome = finish(*recorder);
    ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
    const MovieRecorderStats stats = recorder->stats();
    EXPECT_EQ(stats.videoOffered, 120u);
    EXPECT_EQ(stats.videoWritten + stats.videoDroppedBusy, 120u);
    EXPECT_GE(stats.videoDroppedBusy, 100u);
    const auto probed = probe(path);
    ASSERT_NE(streamOfType(probed, "video"), nullptr);
    EXPECT_EQ(number(*streamOfType(probed, "video"), "nb_frames"), static_cast<double>(stats.videoWritten));
    EXPECT_TRUE(testsupport::decodesCleanly(path));
}

// Even when the recorder's own queue is held up (here by a writer that
// waits for room), frames offered meanwhile are dropped, not queued.
TEST_F(MovieRecorderTest, BusyRecorderQueueDropsFramesInsteadOfQueueing) {
    const auto path = file("queue.mov");
    EncoderGate gate;
    FfmpegMovieWriterOptions options;
    options.realTime = false;
    options.beforeVideoEncodeForTesting = [&gate] { gate.hold(); };
    auto recorder = makeRecorder(path, VideoCodec::h264, std::nullopt, false,
                                 ffmpegMovieWriterFactory(options));
    CountedFrames frames;
    const TimePoint base = clock_.now();
    for (int i = 0; i < 300; ++i) recorder->appendVideo(frames.make(base + frameTime(i)));
    ASSERT_TRUE(gate.waitUntilHeld());
    // Encoder, writer backlog, the frame waiting for room in it, and the
    // recorder's queue.
    EXPECT_LE(frames.alive(), 1 + options.maxPendingVideoFrames + 1 + MovieRecorder::kMaxQueuedVideoFrames);
    gate.open();
    const Outcome outcome = finish(*recorder);
    ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
    const auto probed = probe(path);
    const double written = number(*streamOfType(probed, "video"), "nb_frames");
    EXPECT_GE(written, 1);
    EXPECT_LE(written, 1 + options.maxPendingVideoFrames + 1 + MovieRecorder::kMaxQueuedVideoFrames);
    EXPECT_TRUE(testsupport::decodesCleanly(path));
}

// Record, stop, record again within the same second: two names, two movies.
TEST_F(MovieRecorderTest, TwoRecordingsInOneSecondGetTwoFiles) {
    const auto date = std::chrono::system_clock::now();
    std::vector<std::filesystem::path> paths;
    for (int take = 0; take < 2; ++take) {
        const auto reserved = MediaLibrary::fileURL(dir_.path(), MediaLibrary::kVideoKind, "mov", date);
        ASSERT_TRUE(reserved.has_value());
        auto recorder = makeRecorder(reserved.value(), VideoCodec::hevc, std::nullopt, false);
        const TimePoint base = clock_.now();
        for (int i = 0; i < 15; ++i) {
            recorder->appendVideo(patternFrame(kWidth, kHeight, i, base + frameTime(i)));
            settle(*recorder);
        }
        const Outcome outcome = finish(*recorder);
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
        paths.push_back(outcome.value());
    }
    EXPECT_NE(paths[0], paths[1]);
    for (const auto& path : paths) {
        EXPECT_EQ(number(*streamOfType(probe(path), "video"), "nb_frames"), 15) << path;
    }
}

TEST(RecorderErrorTest, UserMessages) {
    EXPECT_EQ(RecorderError::noVideo().userMessage(), "No video frames were recorded");
    EXPECT_EQ(RecorderError::writerFailed("Disk full").userMessage(), "Recording failed: Disk full");
}

}  // namespace
}  // namespace hollowkit
