#include "hollowkit/recording/linux/pulse_audio_input.h"

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/mac_microphone.h"
#include "hollowkit/recording/movie_recorder.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/private_pulse_server.h"
#include "hollowkit/testing/tone_probe.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

// A real capture from a PulseAudio server of the test's own: a null sink
// playing 440 Hz (whose monitor must not be listed), that tone as an
// ordinary real-time source (the default), and PulseAudio's sine source.
class PulseAudioInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivatePulseServer::program()) {
            GTEST_SKIP() << "pulseaudio is not installed (Debian package pulseaudio); the real "
                            "microphone backend is not exercised";
        }
        const auto started = server_.start();
        if (!started) GTEST_SKIP() << "no private PulseAudio server could start here: " << started.error();
        PulseAudioInputBackend::Options options;
        options.server = server_.address();
        backend_ = std::make_unique<PulseAudioInputBackend>(options);
    }

    // Collects chunks until `seconds` of sound arrived (bounded wait).
    struct Collector {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<AudioChunk> chunks;
        Duration total{};
        std::optional<MicrophoneError> failure;

        void add(const AudioChunk& chunk) {
            std::lock_guard lock(mutex);
            chunks.push_back(chunk);
            total += chunk.duration();
            changed.notify_all();
        }
        void fail(const MicrophoneError& error) {
            std::lock_guard lock(mutex);
            failure = error;
            changed.notify_all();
        }
        bool waitForSound(Duration length) {
            std::unique_lock lock(mutex);
            return changed.wait_for(lock, 15s, [&] { return total >= length; });
        }
        bool failed() {
            std::lock_guard lock(mutex);
            return failure.has_value();
        }
        std::vector<AudioChunk> copy() {
            std::lock_guard lock(mutex);
            return chunks;
        }
    };

    // Starts and waits (bounded) for the completion on main_.
    MacMicrophone::StartResult startAndWait(MacMicrophone& microphone, std::optional<std::string> id) {
        std::optional<MacMicrophone::StartResult> outcome;
        microphone.start(std::move(id), [&](const MacMicrophone::StartResult& result) { outcome = result; });
        if (!main_.waitFor([&] { return outcome.has_value(); }, 15s)) {
            return unexpected(MicrophoneError::unavailable("no completion"));
        }
        return *outcome;
    }

    ManualExecutor main_;
    PrivatePulseServer server_;
    std::unique_ptr<PulseAudioInputBackend> backend_;
    testsupport::LogCapture log_;
};

TEST_F(PulseAudioInputTest, ListsInputsWithoutMonitorsAndFindsTheDefault) {
    const auto inputs = backend_->inputs();
    std::vector<std::string> ids;
    for (const auto& input : inputs) ids.push_back(input.id);
    EXPECT_NE(std::find(ids.begin(), ids.end(), PrivatePulseServer::kToneSource), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), PrivatePulseServer::kSineSource), ids.end());
    EXPECT_EQ(std::find(ids.begin(), ids.end(), PrivatePulseServer::kNullSinkMonitor), ids.end());
    for (const auto& input : inputs) {
        EXPECT_FALSE(input.name.empty()) << input.id;
        EXPECT_FALSE(input.id.ends_with(".monitor")) << input.id;
    }
    const auto fallback = backend_->defaultInput();
    ASSERT_TRUE(fallback.has_value());
    EXPECT_EQ(fallback->id, PrivatePulseServer::kToneSource);

    // A default that is a monitor is no microphone.
    ASSERT_EQ(server_.pactl({"set-default-source", PrivatePulseServer::kNullSinkMonitor}).status, 0);
    EXPECT_FALSE(backend_->defaultInput().has_value());
}

// The microphone records the default input through the real backend:
// 440 Hz, the source's format, times on CLOCK_MONOTONIC without gaps or
// overlaps.
TEST_F(PulseAudioInputTest, CapturesTheDefaultInputOnTheMonotonicClock) {
    Collector collector;
    MacMicrophone microphone(*backend_, main_);
    microphone.setOnSample([&](const AudioChunk& chunk) { collector.add(chunk); });
    const TimePoint before = SteadyClock::now();
    const auto started = startAndWait(microphone, std::nullopt);
    ASSERT_TRUE(started.has_value()) << started.error().detail;
    EXPECT_TRUE(log_.contains("Mac microphone recording from "));
    ASSERT_TRUE(collector.waitForSound(1500ms));
    microphone.stop();
    const TimePoint after = SteadyClock::now();

    const auto chunks = collector.copy();
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks.front().sampleRate(), 48000);
    EXPECT_EQ(chunks.front().channels(), 1);
    EXPECT_EQ(chunks.front().sampleFormat(), SampleFormat::f32);
    // Sound recorded before the start cannot be in a fresh stream; allow the
    // source's buffering.
    EXPECT_GT(chunks.front().pts(), before - 500ms);
    EXPECT_LT(chunks.back().pts(), after);
    for (size_t i = 1; i < chunks.size(); ++i) {
        const Duration gap = chunks[i].pts() - (chunks[i - 1].pts() + chunks[i - 1].duration());
        EXPECT_LT(std::chrono::abs(gap), 1ms) << "chunk " << i;
    }

    // Skip the first 100 ms, where a stream may start with silence.
    const std::vector<float> samples = firstChannel(chunks);
    ASSERT_GT(samples.size(), 48000U);
    const std::span<const float> steady(samples.data() + 4800, samples.size() - 4800);
    // The tone continues across chunk ends: nothing lost, nothing repeated.
    float peak = 0;
    for (const float sample : steady) peak = std::max(peak, std::abs(sample));
    const double maxStep = 2 * 3.14159265 * 440.0 / 48000 * peak * 1.2;
    size_t jumps = 0;
    for (size_t i = 1; i < steady.size(); ++i) jumps += std::abs(steady[i] - steady[i - 1]) > maxStep ? 1 : 0;
    EXPECT_EQ(jumps, 0U);
    EXPECT_NEAR(zeroCrossingFrequency(steady, 48000), 440.0, 2.0);
    const double tone = toneAmplitude(steady, 48000, 440.0);
    EXPECT_GT(tone, 0.05);
    EXPECT_LT(toneAmplitude(steady, 48000, 1000.0), tone / 20);
}

// PulseAudio's own sine source, chosen by its identifier, carries the tone
// (its two-second bursts say nothing about timing, so only the pitch counts).
TEST_F(PulseAudioInputTest, CapturesPulseAudiosSineSource) {
    Collector collector;
    MacMicrophone microphone(*backend_, main_);
    microphone.setOnSample([&](const AudioChunk& chunk) { collector.add(chunk); });
    ASSERT_TRUE(startAndWait(microphone, std::string(PrivatePulseServer::kSineSource)).has_value());
    EXPECT_EQ(microphone.activeInput()->id, PrivatePulseServer::kSineSource);
    ASSERT_TRUE(collector.waitForSound(1s));
    microphone.stop();
    const std::vector<float> samples = firstChannel(collector.copy());
    EXPECT_NEAR(zeroCrossingFrequency(samples, 48000), 440.0, 2.0);
    EXPECT_GT(toneAmplitude(samples, 48000, 440.0), 0.05);
}

// An input that is not there, or a server that is not there, is unavailable
// at once rather than after the start has been reported as a success.
TEST_F(PulseAudioInputTest, MissingInputsAndServersAreUnavailable) {
    auto opened = backend_->open("no_such_source", {});
    ASSERT_FALSE(opened.has_value());
    EXPECT_EQ(opened.error().kind, MicrophoneError::Kind::unavailable);

    PulseAudioInputBackend::Options options;
    options.server = "unix:" + (std::filesystem::temp_directory_path() / "hollowkit-no-such-server").string();
    PulseAudioInputBackend nowhere(options);
    EXPECT_TRUE(nowhere.inputs().empty());
    EXPECT_FALSE(nowhere.defaultInput().has_value());
    MacMicrophone microphone(nowhere, main_);
    const auto started = startAndWait(microphone, std::nullopt);
    ASSERT_FALSE(started.has_value());
    EXPECT_EQ(started.error().userMessage(), "That microphone is not connected");
}

// A source that goes away while recording is reported, not silently lost.
TEST_F(PulseAudioInputTest, ReportsASourceThatGoesAway) {
    Collector collector;
    MacMicrophone microphone(*backend_, main_);
    microphone.setOnSample([&](const AudioChunk& chunk) { collector.add(chunk); });
    microphone.setOnFailure([&](const MicrophoneError& error) { collector.fail(error); });
    ASSERT_TRUE(startAndWait(microphone, std::string(PrivatePulseServer::kToneSource)).has_value());
    ASSERT_TRUE(collector.waitForSound(100ms));
    ASSERT_EQ(server_.pactl({"unload-module", "module-remap-source"}).status, 0);
    ASSERT_TRUE(main_.waitFor([&] { return collector.failed(); }, 15s));
    EXPECT_EQ(collector.failure->kind, MicrophoneError::Kind::unavailable);
    EXPECT_FALSE(microphone.activeInput().has_value());
}

// The captured tone, handed to the movie recorder, becomes the movie's AAC
// sound track, still at 440 Hz.
TEST_F(PulseAudioInputTest, CapturedSoundLandsInAMovieAsA440HzAacTrack) {
    Collector collector;
    {
        MacMicrophone microphone(*backend_, main_);
        microphone.setOnSample([&](const AudioChunk& chunk) { collector.add(chunk); });
        ASSERT_TRUE(startAndWait(microphone, std::nullopt).has_value());
        ASSERT_TRUE(collector.waitForSound(2s));
    }
    const auto chunks = collector.copy();

    testsupport::TempDir dir;
    const auto movie = dir.path() / "mic.mov";
    ManualExecutor main;
    FfmpegMovieWriterOptions writerOptions;
    writerOptions.realTime = false;
    MovieRecorder recorder(movie, VideoCodec::h264, std::nullopt, /*expectsAudio=*/true, main, main.clock(),
                           ffmpegMovieWriterFactory(writerOptions));
    // Frames every 1/30 s over the captured sound, each preceded by the sound
    // up to it, as the camera and microphone would deliver them.
    const TimePoint start = chunks.front().pts();
    const TimePoint end = chunks.back().pts() + chunks.back().duration();
    size_t next = 0;
    for (int i = 0;; ++i) {
        const TimePoint pts = start + std::chrono::nanoseconds(std::llround(i * 1e9 / 30));
        if (pts >= end) break;
        while (next < chunks.size() && chunks[next].pts() <= pts) recorder.appendAudio(chunks[next++]);
        recorder.appendVideo(testsupport::patternFrame(320, 240, i, pts));
        (void)recorder.sizeChanges();  // lets the recorder's queue catch up
    }
    std::optional<Result<std::filesystem::path, RecorderError>> outcome;
    recorder.finish(std::nullopt, [&](auto result) { outcome = std::move(result); });
    ASSERT_TRUE(main.waitFor([&] { return outcome.has_value(); }, 60s));
    ASSERT_TRUE(outcome->has_value()) << outcome->error().userMessage();

    const auto probed = testsupport::probe(movie);
    const auto* audio = testsupport::streamOfType(probed, "audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ((*audio)["codec_name"], "aac");
    EXPECT_EQ(testsupport::number(*audio, "sample_rate"), 48000);
    EXPECT_EQ((*audio)["channels"], 1);
    EXPECT_GT(testsupport::number(*audio, "duration"), 1.5);

    // Decode the track and look for the tone.
    const auto raw = dir.path() / "mic.f32";
    const auto decoded = CommandRunner::run(
        "/usr/bin/ffmpeg",
        {"-v", "error", "-i", movie.string(), "-map", "0:a", "-ac", "1", "-f", "f32le", raw.string()}, {},
        false);
    ASSERT_EQ(decoded.status, 0) << decoded.output;
    std::ifstream in(raw, std::ios::binary);
    std::vector<float> samples;
    float sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) samples.push_back(sample);
    ASSERT_GT(samples.size(), 48000U);
    // The movie's first and last moments may be silent (the stream's start,
    // the padding to the last frame); the middle carries the tone.
    const std::span<const float> steady(samples.data() + 4800, samples.size() - 9600);
    EXPECT_NEAR(zeroCrossingFrequency(steady, 48000), 440.0, 2.0);
    EXPECT_GT(toneAmplitude(steady, 48000, 440.0), 0.05);
}

}  // namespace
}  // namespace hollowkit
