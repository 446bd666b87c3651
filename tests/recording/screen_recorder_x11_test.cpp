// The screen recorder against a real X server (Xvfb started by the test):
// a known picture and a square pointer are recorded through the X11
// capture backend and the FFmpeg writer, and the movie is checked as
// ffprobe and a decoder see it.

#include <filesystem>
#include <fstream>
#include <atomic>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>

#include <gtest/gtest.h>

#include "hollowkit/recording/linux/pulse_audio_input.h"
#include "hollowkit/recording/screen_recorder.h"
#include "hollowkit/recording/x11/x11_display_service.h"
#include "hollowkit/recording/x11/x11_screen_capture.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/private_pulse_server.h"
#include "hollowkit/testing/tone_probe.h"
#include "recording_test_support.h"
#include "screen_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::colorNear;
using testsupport::decodePicture;
using testsupport::number;
using testsupport::probe;
using testsupport::streamOfType;

constexpr RgbColor kBackground{60, 60, 60};
constexpr RgbColor kRed{220, 40, 40};
constexpr RgbColor kGreen{40, 200, 60};
constexpr RgbColor kBlue{40, 60, 210};
constexpr RgbColor kYellow{230, 210, 40};
constexpr RgbColor kPointer{250, 0, 250};
constexpr int kPointerSize = 64;

struct ScreenCase {
    int width;
    int height;
    int outputWidth;
    int outputHeight;
};

double secondsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

class ScreenRecorderX11Test : public ::testing::Test {
protected:
    using Outcome = Result<std::filesystem::path, ScreenRecorder::ScreenError>;

    // Starts a server of that size with the picture painted and the pointer
    // in the middle of the grey background. False (with skip_ set when the
    // machine lacks a program) when it cannot.
    bool startServer(int width, int height) {
        server_ = testsupport::startXvfb(width, height, skip_);
        if (!server_) return false;
        const auto block = [&](double fx, double fy, RgbColor color) {
            return ColorBlock{static_cast<int>(width * fx), static_cast<int>(height * fy),
                              static_cast<int>(width * 0.2), static_cast<int>(height * 0.2), color};
        };
        auto painted = server_->paint(kBackground, {block(0.1, 0.1, kRed), block(0.7, 0.1, kGreen),
                                                    block(0.1, 0.7, kBlue), block(0.7, 0.7, kYellow)});
        EXPECT_TRUE(painted.has_value()) << (painted ? "" : painted.error());
        auto cursor = server_->setSquareCursor(kPointerSize, kPointer);
        EXPECT_TRUE(cursor.has_value()) << (cursor ? "" : cursor.error());
        if (!XvfbServer::xdotoolProgram()) {
            skip_ = "xdotool is not installed (apt-get install xdotool)";
            return false;
        }
        const auto moved = server_->xdotool({"mousemove", std::to_string(width / 2), std::to_string(height / 2)});
        EXPECT_EQ(moved.status, 0) << moved.output;
        return painted && cursor && moved.status == 0;
    }

    struct Recording {
        Outcome outcome = unexpected(ScreenRecorder::ScreenError::noFrames());
        std::optional<TimePoint> firstFrame;
        TimePoint stopTime{};
        ScreenRecorderStats stats;
    };

    // Records until `frames` frames are written, then stops at that moment.
    Recording record(ScreenRecorder& recorder, uint64_t frames, std::optional<uint32_t> display = std::nullopt) {
        Recording recording;
        recorder.setOnFirstFrame([&](TimePoint t) { recording.firstFrame = t; });
        std::optional<Result<void, ScreenRecorder::ScreenError>> started;
        recorder.start(display, [&](Result<void, ScreenRecorder::ScreenError> r) { started = r; });
        EXPECT_TRUE(main_.waitFor([&] { return started.has_value(); }, 30s));
        if (!started || !started->has_value()) {
            ADD_FAILURE() << "start failed: " << (started ? started->error().userMessage() : "no answer");
            return recording;
        }
        EXPECT_TRUE(main_.waitFor([&] { return recording.firstFrame.has_value(); }, 30s));
        EXPECT_TRUE(main_.waitFor([&] { return recorder.stats().framesWritten >= frames; }, 120s));
        recording.stopTime = SteadyClock::now();
        std::optional<Outcome> outcome;
        recorder.stop(recording.stopTime, [&](Outcome r) { outcome = std::move(r); });
        EXPECT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 60s));
        if (outcome) recording.outcome = std::move(*outcome);
        recording.stats = recorder.stats();
        return recording;
    }

    std::unique_ptr<XvfbServer> server_;
    std::string skip_;
    ManualExecutor main_;
    testsupport::TempDir dir_;
    testsupport::LogCapture log_;
};

// The picture's colours where its blocks are, the pointer drawn in where it
// stands, the output size rule, frames in display order, and a movie that
// lasts from the first frame exactly until the stop.
TEST_F(ScreenRecorderX11Test, RecordsTheKnownPictureWithThePointer) {
    const ScreenCase cases[] = {{1920, 1080, 1920, 1080}, {5120, 2880, 3840, 2160}};
    for (const ScreenCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        if (!startServer(c.width, c.height)) {
            if (!skip_.empty()) GTEST_SKIP() << skip_;
            return;
        }
        X11DisplayService displays(server_->displayName());
        X11ScreenCaptureBackend capture(X11ScreenCaptureBackend::Options{server_->displayName()});
        const auto path = dir_.path() / ("Screen" + std::to_string(c.width) + ".mov");
        Recording recording;
        {
            ScreenRecorder recorder(path, VideoCodec::hevc, false, main_, displays, capture);
            recording = record(recorder, 20);
        }
        ASSERT_TRUE(recording.outcome.has_value()) << recording.outcome.error().userMessage();
        EXPECT_EQ(recording.outcome.value(), path);
        ASSERT_TRUE(recording.firstFrame.has_value());

        const auto probed = probe(path);
        const auto* video = streamOfType(probed, "video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ((*video)["codec_name"], "hevc");
        EXPECT_EQ((*video)["codec_tag_string"], "hvc1");
        EXPECT_EQ((*video)["width"], c.outputWidth);
        EXPECT_EQ((*video)["height"], c.outputHeight);
        EXPECT_EQ((*video)["color_primaries"], "bt709");
        EXPECT_EQ((*video)["has_b_frames"], 0);
        EXPECT_EQ(streamOfType(probed, "audio"), nullptr);
        const double expected = secondsBetween(*recording.firstFrame, recording.stopTime);
        EXPECT_NEAR(number(probed["format"], "duration"), expected, 0.02);
        EXPECT_GE(number(*video, "nb_frames"), 20);

        const double s = static_cast<double>(c.outputWidth) / c.width;
        const auto picture = decodePicture(path, expected / 2, c.outputWidth, c.outputHeight);
        ASSERT_EQ(picture.width, c.outputWidth);
        const auto at = [&](double fx, double fy) {
            return picture.at(static_cast<int>(c.width * fx * s), static_cast<int>(c.height * fy * s));
        };
        EXPECT_TRUE(colorNear(at(0.2, 0.2), kRed));
        EXPECT_TRUE(colorNear(at(0.8, 0.2), kGreen));
        EXPECT_TRUE(colorNear(at(0.2, 0.8), kBlue));
        EXPECT_TRUE(colorNear(at(0.8, 0.8), kYellow));
        EXPECT_TRUE(colorNear(at(0.5, 0.35), kBackground));
        // The pointer's square hangs from its hot spot at the screen's centre.
        const int px = static_cast<int>((c.width / 2 + kPointerSize / 2) * s);
        const int py = static_cast<int>((c.height / 2 + kPointerSize / 2) * s);
        EXPECT_TRUE(colorNear(picture.at(px, py), kPointer, 24));
        EXPECT_TRUE(colorNear(picture.at(static_cast<int>((c.width / 2 - kPointerSize / 2) * s), py), kBackground));

        EXPECT_TRUE(log_.contains("Screen recording " + std::to_string(c.outputWidth) + "x" +
                                  std::to_string(c.outputHeight) + " on display "));
        server_.reset();
    }
}

// A screen split into two logical monitors: the chosen one is recorded at
// its own size, showing its part of the picture.
TEST_F(ScreenRecorderX11Test, RecordsTheChosenLogicalMonitor) {
    if (!startServer(1920, 1080)) {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        return;
    }
    auto split = server_->addMonitors({{"LEFT", 0, 0, 960, 1080, true}, {"RIGHT", 960, 0, 960, 1080, false}});
    if (!split) GTEST_SKIP() << "this X server cannot split its screen into monitors: " << split.error();
    const auto right = server_->monitorId("RIGHT");
    ASSERT_TRUE(right.has_value());
    X11DisplayService displays(server_->displayName());
    X11ScreenCaptureBackend capture(X11ScreenCaptureBackend::Options{server_->displayName()});
    const auto path = dir_.path() / "Screen.mov";
    Recording recording;
    {
        ScreenRecorder recorder(path, VideoCodec::h264, false, main_, displays, capture);
        recording = record(recorder, 10, *right);
    }
    ASSERT_TRUE(recording.outcome.has_value()) << recording.outcome.error().userMessage();
    const auto probed = probe(path);
    const auto* video = streamOfType(probed, "video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ((*video)["width"], 960);
    EXPECT_EQ((*video)["height"], 1080);
    const auto picture = decodePicture(path, 0.05, 960, 1080);
    ASSERT_EQ(picture.width, 960);
    EXPECT_TRUE(colorNear(picture.at(1536 - 960, 216), kGreen));
    EXPECT_TRUE(colorNear(picture.at(1536 - 960, 864), kYellow));
    EXPECT_TRUE(colorNear(picture.at(100, 216), kBackground));  // the red block is on the other monitor
    // The pointer at the screen's centre hangs into this monitor from its left edge.
    EXPECT_TRUE(colorNear(picture.at(kPointerSize / 2, 540 + kPointerSize / 2), kPointer, 24));
    EXPECT_TRUE(log_.contains("Screen recording 960x1080 on display " + std::to_string(*right)));
}

// The computer's sound, from the sound server's monitor of its default
// output, becomes the movie's AAC track from the first frame to the stop.
TEST_F(ScreenRecorderX11Test, RecordsTheComputersSound) {
    if (!PrivatePulseServer::program()) GTEST_SKIP() << "pulseaudio is not installed";
    PrivatePulseServer pulse;
    auto pulseStarted = pulse.start();
    ASSERT_TRUE(pulseStarted.has_value()) << pulseStarted.error();
    if (!startServer(1280, 720)) {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        return;
    }
    PulseAudioInputBackend::Options soundOptions;
    soundOptions.server = pulse.address();
    PulseAudioInputBackend sound(soundOptions);
    // A null sink sleeps up to its longest latency (about two seconds)
    // before it first serves a new monitor stream; a listener started first
    // wakes it, as a real output never needs.
    std::atomic<bool> flowing{false};
    AudioCaptureHandlers warmHandlers;
    warmHandlers.onChunk = [&](AudioChunk) { flowing.store(true); };
    auto warm = sound.open("@DEFAULT_MONITOR@", std::move(warmHandlers));
    ASSERT_TRUE(warm.has_value()) << warm.error().detail;
    ASSERT_TRUE(main_.waitFor([&] { return flowing.load(); }, 10s));
    X11DisplayService displays(server_->displayName());
    X11ScreenCaptureBackend::Options options;
    options.displayName = server_->displayName();
    options.systemSound = &sound;
    X11ScreenCaptureBackend capture(options);
    const auto path = dir_.path() / "Screen.mov";
    Recording recording;
    {
        ScreenRecorder recorder(path, VideoCodec::h264, true, main_, displays, capture);
        recording = record(recorder, 90);
    }
    ASSERT_TRUE(recording.outcome.has_value()) << recording.outcome.error().userMessage();
    const auto probed = probe(path);
    const auto* audio = streamOfType(probed, "audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ((*audio)["codec_name"], "aac");
    EXPECT_EQ(number(*audio, "sample_rate"), 48000);
    EXPECT_EQ((*audio)["channels"], 2);
    // Sound from the first frame exactly until the stop: one sound server
    // fragment (20 ms) lost at either end shows.
    const double expected = secondsBetween(*recording.firstFrame, recording.stopTime);
    EXPECT_NEAR(number(*audio, "start_time"), 0.0, 0.005);
    EXPECT_NEAR(number(*audio, "duration"), expected, 0.015);

    // The server's 440 Hz tone is what was recorded.
    const auto raw = dir_.path() / "sound.f32";
    const auto decoded = CommandRunner::run("/usr/bin/ffmpeg",
                                            {"-v", "error", "-i", path.string(), "-vn", "-ac", "1", "-f",
                                             "f32le", raw.string()},
                                            {}, false);
    ASSERT_EQ(decoded.status, 0) << decoded.output;
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    ASSERT_GT(samples.size(), 24000u);
    const std::span<const float> middle(samples.data() + samples.size() / 4, samples.size() / 2);
    EXPECT_GT(toneAmplitude(middle, 48000, 440.0), 0.05);
}

// Without a sound server the sound cannot be recorded, and the start says
// so instead of recording a movie without it.
TEST_F(ScreenRecorderX11Test, AskingForSoundWithoutAServerFailsTheStart) {
    if (!startServer(640, 480)) {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        return;
    }
    PulseAudioInputBackend::Options soundOptions;
    soundOptions.server = "unix:" + (dir_.path() / "no-such-socket").string();
    soundOptions.timeout = 2s;
    PulseAudioInputBackend sound(soundOptions);
    X11DisplayService displays(server_->displayName());
    X11ScreenCaptureBackend::Options options;
    options.displayName = server_->displayName();
    options.systemSound = &sound;
    X11ScreenCaptureBackend capture(options);
    const auto path = dir_.path() / "Screen.mov";
    ScreenRecorder recorder(path, VideoCodec::hevc, true, main_, displays, capture);
    std::optional<Result<void, ScreenRecorder::ScreenError>> started;
    recorder.start(std::nullopt, [&](Result<void, ScreenRecorder::ScreenError> r) { started = r; });
    ASSERT_TRUE(main_.waitFor([&] { return started.has_value(); }, 30s));
    ASSERT_FALSE(started->has_value());
    EXPECT_EQ(started->error().kind, ScreenRecorder::ScreenError::Kind::captureFailed);
    EXPECT_EQ(started->error().userMessage().rfind("Could not record the computer's sound: ", 0), 0u)
        << started->error().userMessage();
    std::optional<Outcome> outcome;
    recorder.stop(SteadyClock::now(), [&](Outcome r) { outcome = std::move(r); });
    ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 30s));
    EXPECT_FALSE(std::filesystem::exists(path));
}

// The display going away mid-recording is reported once through onStopped.
TEST_F(ScreenRecorderX11Test, ReportsALostDisplay) {
    if (!startServer(640, 480)) {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        return;
    }
    X11DisplayService displays(server_->displayName());
    X11ScreenCaptureBackend capture(X11ScreenCaptureBackend::Options{server_->displayName()});
    const auto path = dir_.path() / "Screen.mov";
    ScreenRecorder recorder(path, VideoCodec::hevc, false, main_, displays, capture);
    std::vector<std::string> stops;
    recorder.setOnStopped([&](const std::string& reason) { stops.push_back(reason); });
    std::optional<Result<void, ScreenRecorder::ScreenError>> started;
    recorder.start(std::nullopt, [&](Result<void, ScreenRecorder::ScreenError> r) { started = r; });
    ASSERT_TRUE(main_.waitFor([&] { return started.has_value(); }, 30s));
    ASSERT_TRUE(started->has_value());
    server_.reset();
    ASSERT_TRUE(main_.waitFor([&] { return !stops.empty(); }, 30s));
    EXPECT_EQ(stops.front(), "The display connection was lost");
    EXPECT_TRUE(log_.contains("Screen capture stopped: The display connection was lost"));
    std::optional<Outcome> outcome;
    recorder.stop(SteadyClock::now(), [&](Outcome r) { outcome = std::move(r); });
    ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 30s));
    EXPECT_EQ(stops.size(), 1u);
}

}  // namespace
}  // namespace hollowkit
