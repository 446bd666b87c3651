// The screen recorder's logic against fake displays and a fake capture: the
// choice of display, the sizes and settings it asks for, which frames and
// sound reach the movie, the stop time, every failure text, and a stop that
// arrives while the recorder is starting.

#include "hollowkit/recording/screen_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unordered_set>

#include <gtest/gtest.h>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/screen_capture_access.h"
#include "hollowkit/testing/fake_screen_capture.h"
#include "hollowkit/testing/manual_executor.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using ScreenError = ScreenRecorder::ScreenError;
using testsupport::number;
using testsupport::patternFrame;
using testsupport::probe;
using testsupport::streamOfType;
using testsupport::toneChunk;

// What the recorder asked of its writer, for the tests to read.
struct WriterLog {
    std::mutex mutex;
    int starts = 0;
    std::optional<MovieWriterSettings> settings;
    std::optional<TimePoint> sessionStart;
    std::vector<TimePoint> video;
    std::vector<TimePoint> audio;
    std::vector<size_t> audioFrames;
    bool finished = false;
    std::optional<TimePoint> endTime;
    std::string startFailure;  // start() fails with this when set
    std::function<void(TimePoint)> beforeAppend;  // runs on the recorder's queue, unlocked
};

class LoggingMovieWriter final : public MovieWriter {
public:
    explicit LoggingMovieWriter(std::shared_ptr<WriterLog> log) : log_(std::move(log)) {}

    void setOnFailure(FailureHandler) override {}  // it never fails while writing

    Result<void, std::string> start(const MovieWriterSettings& settings, TimePoint sessionStart) override {
        std::lock_guard lock(log_->mutex);
        ++log_->starts;
        if (!log_->startFailure.empty()) return unexpected(log_->startFailure);
        log_->settings = settings;
        log_->sessionStart = sessionStart;
        writing_ = true;
        return {};
    }
    bool isWriting() const override { return writing_; }
    bool readyForVideo() const override { return writing_; }
    bool readyForAudio() const override {
        std::lock_guard lock(log_->mutex);
        return writing_ && log_->settings->audio.has_value();
    }
    bool appendVideo(const VideoFrame& frame) override {
        std::function<void(TimePoint)> hook;
        {
            std::lock_guard lock(log_->mutex);
            hook = log_->beforeAppend;
        }
        if (hook) hook(frame.pts());
        std::lock_guard lock(log_->mutex);
        log_->video.push_back(frame.pts());
        return true;
    }
    bool appendAudio(const AudioChunk& chunk) override {
        std::lock_guard lock(log_->mutex);
        log_->audio.push_back(chunk.pts());
        log_->audioFrames.push_back(chunk.frameCount());
        return true;
    }
    std::string errorText() const override { return {}; }
    Result<void, std::string> finish(std::optional<TimePoint> endTime) override {
        std::lock_guard lock(log_->mutex);
        log_->finished = true;
        log_->endTime = endTime;
        writing_ = false;
        return {};
    }

private:
    std::shared_ptr<WriterLog> log_;
    bool writing_ = false;
};

constexpr uint32_t kMain = 11;
constexpr uint32_t kSide = 22;

DisplayInfo display(uint32_t id, int32_t x, int32_t width, int32_t height, bool primary = false) {
    return DisplayInfo{id, x, 0, width, height, primary, false};
}

class ScreenRecorderTest : public ::testing::Test {
protected:
    using Outcome = Result<std::filesystem::path, ScreenError>;
    using StartResult = Result<void, ScreenError>;

    ScreenRecorderTest() {
        displays_.setDisplays({display(kSide, -1280, 1280, 1024), display(kMain, 0, 1920, 1080, true)});
    }

    MovieWriterFactory loggingWriter() {
        return [log = writerLog_](const FileInFolder&) { return std::make_unique<LoggingMovieWriter>(log); };
    }

    std::unique_ptr<ScreenRecorder> makeRecorder(bool systemAudio = false, MovieWriterFactory factory = {}) {
        if (!factory) factory = loggingWriter();
        auto recorder = std::make_unique<ScreenRecorder>(path_, VideoCodec::hevc, systemAudio, main_, displays_,
                                                         capture_, std::move(factory));
        recorder->setOnFirstFrame([this](TimePoint t) { firstFrames_.push_back(t); });
        recorder->setOnStopped([this](const std::string& reason) { stops_.push_back(reason); });
        return recorder;
    }

    StartResult start(ScreenRecorder& recorder, std::optional<uint32_t> id = std::nullopt) {
        std::optional<StartResult> result;
        recorder.start(id, [&](StartResult r) { result = std::move(r); });
        EXPECT_TRUE(main_.waitFor([&] { return result.has_value(); }, 10s));
        return result.value_or(unexpected(ScreenError::captureFailed("no answer")));
    }

    Outcome stop(ScreenRecorder& recorder, std::optional<TimePoint> stopTime) {
        std::optional<Outcome> outcome;
        recorder.stop(stopTime, [&](Outcome r) { outcome = std::move(r); });
        EXPECT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 30s));
        return outcome.value_or(unexpected(ScreenError::captureFailed("no answer")));
    }

    // Hands a frame to the running capture and waits until it was handled.
    void frame(ScreenRecorder& recorder, TimePoint pts, ScreenFrameStatus status = ScreenFrameStatus::complete) {
        ASSERT_TRUE(capture_.emitFrame(patternFrame(64, 36, 0, pts), status));
        (void)recorder.stats();
    }

    FakeDisplayService displays_;
    FakeScreenCaptureBackend capture_;
    ManualExecutor main_;
    testsupport::TempDir dir_;
    testsupport::LogCapture log_;
    const std::filesystem::path path_ = dir_.path() / "Screen.mov";
    std::shared_ptr<WriterLog> writerLog_ = std::make_shared<WriterLog>();
    std::vector<TimePoint> firstFrames_;
    std::vector<std::string> stops_;
    const TimePoint t0_ = SteadyClock::now();
};

TEST(ScreenErrorTest, UserMessages) {
    EXPECT_EQ(ScreenError::noFrames().userMessage(), "No screen frames were recorded");
    EXPECT_EQ(ScreenError::displayNotFound().userMessage(), "That display is no longer connected");
    EXPECT_EQ(ScreenError::writerFailed("disk full").userMessage(), "Screen recording failed: disk full");
    EXPECT_EQ(ScreenError::captureFailed("The display connection was lost").userMessage(),
              "The display connection was lost");
    EXPECT_EQ(ScreenError::permissionDenied().userMessage().rfind(
                  "Lumenhollow is not allowed to record the screen yet. ", 0),
              0u);
}

TEST(ScreenRecorderSizeTest, OutputSizeFitsWithinTheLimitWithEvenSides) {
    struct Case {
        double width, height;
        int outWidth, outHeight;
    };
    const Case cases[] = {
        {5120, 2880, 3840, 2160}, {6016, 3384, 3840, 2160}, {7680, 4320, 3840, 2160},
        {3024, 1964, 3024, 1964}, {2560, 1600, 2560, 1600}, {1365, 767, 1366, 768},
        {1920, 1080, 1920, 1080}, {3840, 2400, 3840, 2400}, {2400, 4000, 1440, 2400},
        {0, 1080, 0, 0},          {NAN, 10, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(ScreenRecorder::outputSize(c.width, c.height), (ScreenOutputSize{c.outWidth, c.outHeight}));
    }
}

TEST(ScreenRecorderSizeTest, VideoBitRate) {
    struct Case {
        VideoCodec codec;
        int width, height;
        int64_t rate;
    };
    const Case cases[] = {
        {VideoCodec::hevc, 3840, 2400, 13824000}, {VideoCodec::h264, 3840, 2400, 24883200},
        {VideoCodec::hevc, 1920, 1080, 3110400},  {VideoCodec::h264, 1920, 1080, 5598720},
        {VideoCodec::h264, 3024, 1964, 16035667}, {VideoCodec::h264, 16384, 16384, 60000000},
        {VideoCodec::hevc, 0, 1080, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScreenRecorder::videoBitRate(c.codec, c.width, c.height), c.rate) << c.width << "x" << c.height;
    }
}

TEST(ScreenDisplayTest, EqualValuesHashAlike) {
    const ScreenDisplay a{3, "Display 3", {1920, 1080}};
    ScreenDisplay negativeZero{3, "Display 3", {1920, -0.0}};
    ScreenDisplay positiveZero{3, "Display 3", {1920, 0.0}};
    EXPECT_EQ(negativeZero, positiveZero);
    EXPECT_EQ(ScreenDisplayHash{}(negativeZero), ScreenDisplayHash{}(positiveZero));
    const std::unordered_set<ScreenDisplay, ScreenDisplayHash> set{
        a, {3, "Other", {1920, 1080}}, {3, "Display 3", {1920, 1081}}, {4, "Display 3", {1920, 1080}}, a};
    EXPECT_EQ(set.size(), 4u);
}

TEST(ScreenCaptureAccessTest, GrantedWhenTheDisplayCanBeGrabbed) {
    FakeDisplayService displays;
    EXPECT_TRUE(ScreenCaptureAccess::isGranted(displays));
    displays.setCanCapture(false);
    EXPECT_FALSE(ScreenCaptureAccess::isGranted(displays));
    EXPECT_FALSE(ScreenCaptureAccess::request(displays));
    EXPECT_EQ(ScreenCaptureAccess::settingsURL(),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
    EXPECT_EQ(&ScreenCaptureAccess::settingsURL(), &ScreenCaptureAccess::settingsURL());
    EXPECT_FALSE(ScreenCaptureAccess::helpText().empty());
}

TEST(ScreenRecorderDisplaysTest, NamesEachDisplayInTheSystemsOrder) {
    FakeDisplayService displays;
    DisplayInfo laptop{7, 0, 0, 2880, 1800, true, true};
    DisplayInfo named{3, 2880, 0, 2560, 1440, false, false};
    DisplayInfo plain{42, -1920, 0, 1920, 1080, false, false};
    DisplayInfo namedLaptop{9, 0, 1800, 800, 600, false, true};
    displays.setDisplays({laptop, named, plain, namedLaptop});
    displays.setScreenNames({{3, "LG UltraFine"}, {9, "Panel"}, {1234, "Gone"}});
    const auto list = ScreenRecorder::displays(displays);
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list.value(), (std::vector<ScreenDisplay>{{7, "Built-in Display", {2880, 1800}},
                                                        {3, "LG UltraFine", {2560, 1440}},
                                                        {42, "Display 42", {1920, 1080}},
                                                        {9, "Panel", {800, 600}}}));

    displays.setDisplays({});
    ASSERT_TRUE(ScreenRecorder::displays(displays).has_value());
    EXPECT_TRUE(ScreenRecorder::displays(displays).value().empty());

    // The window system's error passes through unchanged, with no list.
    displays.setFailure("X11: no usable display name (is DISPLAY set?)");
    const auto failed = ScreenRecorder::displays(displays);
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error(), "X11: no usable display name (is DISPLAY set?)");
}

// Which display is captured, and what the capture and the writer are asked
// for: the size rule, 60 frames a second, the pointer, a queue of six, sound
// settings whether or not sound is wanted, frames in display order.
TEST_F(ScreenRecorderTest, StartsOnTheChosenDisplayWithTheSettingsOfTheRecording) {
    displays_.setDisplays({display(kSide, -5120, 5120, 2880), display(kMain, 0, 1920, 1080, true)});
    struct Case {
        std::optional<uint32_t> requested;
        bool systemAudio;
        uint32_t captured;
        int width, height;
    };
    const Case cases[] = {
        {std::nullopt, false, kMain, 1920, 1080},  // the main display
        {kSide, true, kSide, 3840, 2160},
        {999, false, kSide, 3840, 2160},           // gone: the first display
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        writerLog_ = std::make_shared<WriterLog>();
        std::filesystem::remove(path_);
        auto recorder = makeRecorder(c.systemAudio);
        ASSERT_TRUE(start(*recorder, c.requested).has_value());
        const auto request = capture_.lastRequest();
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(request->display.id, c.captured);
        EXPECT_EQ(request->outputWidth, c.width);
        EXPECT_EQ(request->outputHeight, c.height);
        EXPECT_EQ(request->minimumFrameInterval, std::chrono::nanoseconds(16'666'666));
        EXPECT_TRUE(request->showsCursor);
        EXPECT_EQ(request->queueDepth, 6);
        EXPECT_EQ(request->capturesAudio, c.systemAudio);
        EXPECT_EQ(request->sampleRate, 48000);
        EXPECT_EQ(request->channelCount, 2);
        EXPECT_TRUE(log_.contains("Screen recording " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                                  " on display " + std::to_string(c.captured)));

        frame(*recorder, t0_);
        std::lock_guard lock(writerLog_->mutex);
        ASSERT_TRUE(writerLog_->settings.has_value());
        const MovieWriterSettings& settings = *writerLog_->settings;
        EXPECT_EQ(settings.codec, VideoCodec::hevc);
        EXPECT_EQ(settings.width, c.width);
        EXPECT_EQ(settings.height, c.height);
        EXPECT_EQ(settings.videoBitRate, ScreenRecorder::videoBitRate(VideoCodec::hevc, c.width, c.height));
        EXPECT_EQ(settings.expectedFrameRate, 60);
        EXPECT_FALSE(settings.allowFrameReordering);
        EXPECT_EQ(settings.audio.has_value(), c.systemAudio);
        if (settings.audio) {
            EXPECT_EQ(*settings.audio, (MovieAudioSettings{48000, 2, 192000}));
        }
        ++n;
    }
}

// Failures of the start, each with its own text, and a file left alone.
TEST_F(ScreenRecorderTest, StartFailures) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        ScreenError expected;
    };
    const Case cases[] = {
        {"no access", [&] { displays_.setFailure("cannot open display"); }, ScreenError::permissionDenied()},
        {"no display", [&] { displays_.setDisplays({}); }, ScreenError::displayNotFound()},
        {"capture refused", [&] { capture_.setStartFailure("the display refused shared memory"); },
         ScreenError::captureFailed("the display refused shared memory")},
        {"file exists", [&] { std::ofstream(path_) << "somebody's movie"; }, ScreenError::writerFailed("File exists")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        displays_.setFailure(std::nullopt);
        displays_.setDisplays({display(kMain, 0, 1920, 1080, true)});
        capture_.setStartFailure(std::nullopt);
        std::filesystem::remove(path_);
        c.arrange();
        const bool existed = std::filesystem::exists(path_);
        auto recorder = makeRecorder();
        const auto started = start(*recorder);
        ASSERT_FALSE(started.has_value());
        EXPECT_EQ(started.error(), c.expected);
        EXPECT_FALSE(capture_.running());
        // The owner stops even a recorder that failed to start.
        const auto outcome = stop(*recorder, SteadyClock::now());
        ASSERT_FALSE(outcome.has_value());
        EXPECT_EQ(outcome.error(), ScreenError::noFrames());
        EXPECT_EQ(std::filesystem::exists(path_), existed);
    }
    // The file that was there is untouched.
    std::ifstream in(path_);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "somebody's movie");
}

// Only complete frames with increasing times reach the movie, which starts
// at the first of them; sound only from that moment on, also sound that came
// before that frame did; nothing captured after the stop time, but the sound
// up to it that was delivered until the capture ended; and the movie lasts
// until the stop time.
TEST_F(ScreenRecorderTest, WritesCompleteFramesFromTheFirstUntilTheStop) {
    auto recorder = makeRecorder(/*systemAudio=*/true);
    ASSERT_TRUE(start(*recorder).has_value());
    const auto at = [&](double s) { return t0_ + toDuration(s); };
    // 480 frames at 48 kHz: 10 ms each.
    const auto sound = [&](double s) { ASSERT_TRUE(capture_.emitAudio(toneChunk(48000, 2, 0, 480, at(s)))); };

    sound(0.0);
    frame(*recorder, at(0.010), ScreenFrameStatus::idle);
    frame(*recorder, at(0.020), ScreenFrameStatus::blank);
    frame(*recorder, at(0.030), ScreenFrameStatus::started);
    EXPECT_EQ(writerLog_->starts, 0);  // nothing complete yet
    EXPECT_TRUE(firstFrames_.empty());

    // The first complete frame is still being captured while the sound
    // around its time arrives.
    sound(0.995);
    sound(1.005);
    frame(*recorder, at(1.0));
    sound(0.99);  // ends as the first frame begins
    sound(1.015);
    frame(*recorder, at(1.0));      // same time again
    frame(*recorder, at(0.99));     // earlier
    frame(*recorder, at(1.0 + 1.0 / 60));
    frame(*recorder, at(1.05), ScreenFrameStatus::idle);
    main_.runUntilIdle();
    ASSERT_EQ(firstFrames_.size(), 1u);
    EXPECT_EQ(firstFrames_[0], at(1.0));

    // The stop comes while the queue still holds a frame captured after the
    // stop time: that frame is not part of the recording.
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool appending = false;
    bool released = false;
    {
        std::lock_guard lock(writerLog_->mutex);
        writerLog_->beforeAppend = [&](TimePoint) {
            std::unique_lock gate(gateMutex);
            appending = true;
            gateChanged.notify_all();
            gateChanged.wait(gate, [&] { return released; });
        };
    }
    ASSERT_TRUE(capture_.emitFrame(patternFrame(64, 36, 0, at(1.0 + 2.0 / 60)), ScreenFrameStatus::complete));
    {
        std::unique_lock gate(gateMutex);
        ASSERT_TRUE(gateChanged.wait_for(gate, 10s, [&] { return appending; }));
    }
    ASSERT_TRUE(capture_.emitFrame(patternFrame(64, 36, 0, at(1.6)), ScreenFrameStatus::complete));
    const TimePoint stopTime = at(1.5);
    std::optional<Outcome> outcome;
    recorder->stop(stopTime, [&](Outcome r) { outcome = std::move(r); });
    // The last sound before the stop, delivered after it: written up to the
    // stop time.
    sound(1.485);
    sound(1.495);
    sound(1.505);
    {
        std::lock_guard gate(gateMutex);
        released = true;
        gateChanged.notify_all();
    }
    ASSERT_TRUE(main_.waitFor([&] { return outcome.has_value(); }, 10s));
    ASSERT_TRUE(outcome->has_value()) << outcome->error().userMessage();
    EXPECT_EQ(outcome->value(), path_);
    writerLog_->beforeAppend = {};

    std::lock_guard lock(writerLog_->mutex);
    EXPECT_EQ(writerLog_->starts, 1);
    EXPECT_EQ(writerLog_->sessionStart, at(1.0));
    EXPECT_EQ(writerLog_->video, (std::vector<TimePoint>{at(1.0), at(1.0 + 1.0 / 60), at(1.0 + 2.0 / 60)}));
    EXPECT_EQ(writerLog_->audio, (std::vector<TimePoint>{at(0.995), at(1.005), at(1.015), at(1.485), at(1.495)}));
    EXPECT_EQ(writerLog_->audioFrames, (std::vector<size_t>{480, 480, 480, 480, 240}));
    EXPECT_TRUE(writerLog_->finished);
    EXPECT_EQ(writerLog_->endTime, stopTime);
    EXPECT_FALSE(capture_.running());
}

// Sound whose first chunk starts after the first frame (a sound server that
// began late, its first fragment lost on a busy machine) is led in with
// silence from that frame, so picture and sound start together: a short lead
// whole, a long one by one block the writer's gap-filling goes on from.
TEST_F(ScreenRecorderTest, SoundThatStartsLateIsLedInWithSilenceFromTheFirstFrame) {
    const struct {
        const char* name;
        double soundAfter;  // seconds after the first frame
        std::vector<size_t> leadFrames;  // the silence written before the sound, at 48 kHz
    } cases[] = {
        {"17 ms late", 0.017, {816}},
        {"three seconds late", 3.0, {4800}},
        {"with the frame", 0.0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writerLog_ = std::make_shared<WriterLog>();
        std::filesystem::remove(path_);  // the last case's reserved name
        auto recorder = makeRecorder(/*systemAudio=*/true);
        ASSERT_TRUE(start(*recorder).has_value());
        const auto at = [&](double s) { return t0_ + toDuration(s); };
        frame(*recorder, at(1.0));
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(capture_.emitAudio(toneChunk(48000, 2, 480 * i, 480, at(1.0 + c.soundAfter + 0.01 * i))));
        }
        frame(*recorder, at(1.0 + c.soundAfter + 0.02));
        // At the sound's end: the stop has none to wait for.
        const Outcome outcome = stop(*recorder, at(1.0 + c.soundAfter + 0.02) + std::chrono::milliseconds(10));
        ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();

        std::lock_guard lock(writerLog_->mutex);
        std::vector<TimePoint> audio;
        std::vector<size_t> frames;
        if (!c.leadFrames.empty()) {
            audio.push_back(at(1.0));
            frames = c.leadFrames;
        }
        for (int i = 0; i < 3; ++i) {
            audio.push_back(at(1.0 + c.soundAfter + 0.01 * i));
            frames.push_back(480);
        }
        ASSERT_EQ(writerLog_->audio.size(), audio.size());
        for (size_t i = 0; i < audio.size(); ++i) {
            // The lead's length is whole samples: its start within one.
            EXPECT_LE(std::chrono::abs(writerLog_->audio[i] - audio[i]), std::chrono::microseconds(21)) << i;
        }
        EXPECT_EQ(writerLog_->audioFrames, frames);
    }
}

// A stop time before the last written frame ends the movie at that frame;
// none at all does too.
TEST_F(ScreenRecorderTest, EndsAtTheLastFrameWhenTheStopTimeIsEarlier) {
    const std::optional<TimePoint> stopTimes[] = {t0_ + 50ms, std::nullopt};
    for (const auto& stopTime : stopTimes) {
        writerLog_ = std::make_shared<WriterLog>();
        std::filesystem::remove(path_);
        auto recorder = makeRecorder();
        ASSERT_TRUE(start(*recorder).has_value());
        frame(*recorder, t0_);
        frame(*recorder, t0_ + 100ms);
        // The stop is taken after both frames were written.
        const auto outcome = stop(*recorder, stopTime);
        ASSERT_TRUE(outcome.has_value());
        std::lock_guard lock(writerLog_->mutex);
        EXPECT_EQ(writerLog_->video.size(), 2u);
        EXPECT_EQ(writerLog_->endTime, t0_ + 100ms);
    }
}

// A writer that cannot start is asked once; the stop reports its error and
// leaves no file.
TEST_F(ScreenRecorderTest, WriterThatCannotStartFailsAtTheStop) {
    writerLog_->startFailure = "libx265: Invalid argument";
    auto recorder = makeRecorder();
    ASSERT_TRUE(start(*recorder).has_value());
    frame(*recorder, t0_);
    frame(*recorder, t0_ + 20ms);
    EXPECT_EQ(writerLog_->starts, 1);
    EXPECT_TRUE(log_.contains("Screen writer could not start: libx265: Invalid argument"));
    main_.runUntilIdle();
    EXPECT_TRUE(firstFrames_.empty());
    const auto outcome = stop(*recorder, t0_ + 1s);
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error(), ScreenError::writerFailed("libx265: Invalid argument"));
    EXPECT_FALSE(std::filesystem::exists(path_));
}

// Stopped before any complete frame: "No screen frames were recorded", and
// the name reserved for the movie is given back.
TEST_F(ScreenRecorderTest, StopBeforeTheFirstFrameLeavesNoFile) {
    auto recorder = makeRecorder(false, ffmpegMovieWriterFactory());
    ASSERT_TRUE(start(*recorder).has_value());
    EXPECT_TRUE(std::filesystem::exists(path_));
    frame(*recorder, t0_, ScreenFrameStatus::idle);
    const auto outcome = stop(*recorder, SteadyClock::now());
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error().userMessage(), "No screen frames were recorded");
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_FALSE(capture_.running());
    // A second stop hears the same.
    EXPECT_EQ(stop(*recorder, SteadyClock::now()).error(), ScreenError::noFrames());
}

// A stop that arrives while the capture is starting, or before the start
// ran at all, leaves nothing running and no file.
TEST_F(ScreenRecorderTest, StopWhileStartingLeavesNothingRunning) {
    for (const bool beforeStart : {false, true}) {
        SCOPED_TRACE(beforeStart);
        auto recorder = makeRecorder(false, ffmpegMovieWriterFactory());
        std::optional<Outcome> outcome;
        const auto stopNow = [&] {
            recorder->stop(SteadyClock::now(), [&](Outcome r) { outcome = std::move(r); });
        };
        const int startsBefore = capture_.startCount();
        if (beforeStart) {
            stopNow();
        } else {
            capture_.setDuringStart(stopNow);
        }
        std::optional<StartResult> started;
        recorder->start(std::nullopt, [&](StartResult r) { started = std::move(r); });
        ASSERT_TRUE(main_.waitFor([&] { return started.has_value() && outcome.has_value(); }, 10s));
        capture_.setDuringStart({});
        EXPECT_TRUE(started->has_value());
        EXPECT_EQ(capture_.startCount() - startsBefore, beforeStart ? 0 : 1);
        EXPECT_FALSE(capture_.running());
        ASSERT_FALSE(outcome->has_value());
        EXPECT_EQ(outcome->error(), ScreenError::noFrames());
        EXPECT_FALSE(std::filesystem::exists(path_));
        main_.runUntilIdle();
        EXPECT_TRUE(firstFrames_.empty());
    }
}

// The capture ending by itself is logged and told to the owner once, on the
// main executor; the file is only finished by the owner's stop.
TEST_F(ScreenRecorderTest, ReportsACaptureThatStoppedByItself) {
    auto recorder = makeRecorder();
    ASSERT_TRUE(start(*recorder).has_value());
    frame(*recorder, t0_);
    ASSERT_TRUE(capture_.stopBySystem("The display connection was lost"));
    EXPECT_TRUE(stops_.empty());  // posted, not called on the capture's thread
    main_.runUntilIdle();
    EXPECT_EQ(stops_, (std::vector<std::string>{"The display connection was lost"}));
    EXPECT_TRUE(log_.contains("Screen capture stopped: The display connection was lost"));
    EXPECT_FALSE(writerLog_->finished);
    EXPECT_TRUE(stop(*recorder, t0_ + 1s).has_value());
}

// The real writer: the movie's picture size and its length up to the stop
// time, with no new frame after the last one.
TEST_F(ScreenRecorderTest, MovieLastsUntilTheStopTime) {
    displays_.setDisplays({display(kMain, 0, 640, 360, true)});
    FfmpegMovieWriterOptions options;
    options.realTime = false;
    auto recorder = makeRecorder(false, ffmpegMovieWriterFactory(options));
    ASSERT_TRUE(start(*recorder).has_value());
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(capture_.emitFrame(patternFrame(640, 360, i, t0_ + toDuration(i / 60.0))));
        (void)recorder->stats();
    }
    const auto outcome = stop(*recorder, t0_ + 2s);
    ASSERT_TRUE(outcome.has_value()) << outcome.error().userMessage();
    const auto probed = probe(path_);
    const auto* video = streamOfType(probed, "video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ((*video)["width"], 640);
    EXPECT_EQ((*video)["height"], 360);
    EXPECT_EQ(number(*video, "nb_frames"), 30);
    EXPECT_NEAR(number(probed["format"], "duration"), 2.0, 0.02);
    EXPECT_EQ(recorder->stats().framesWritten, 30u);
}

// The owner may let go of the recorder right after its stop (the model's
// end does): the movie is still completed, until the stop time, and the
// stop's outcome is posted before the recorder is gone, never dropped.
TEST_F(ScreenRecorderTest, LetGoRightAfterItsStopTheMovieIsStillCompleted) {
    auto recorder = makeRecorder();
    ASSERT_TRUE(start(*recorder).has_value());
    frame(*recorder, t0_);
    frame(*recorder, t0_ + 100ms);
    std::optional<Outcome> outcome;
    recorder->stop(t0_ + 1s, [&](Outcome r) { outcome = std::move(r); });
    recorder.reset();
    {
        std::lock_guard lock(writerLog_->mutex);
        EXPECT_TRUE(writerLog_->finished) << "the movie was cut off";
        EXPECT_EQ(writerLog_->endTime, t0_ + 1s);
    }
    main_.runUntilIdle();
    ASSERT_TRUE(outcome.has_value()) << "the stop's outcome was dropped";
    ASSERT_TRUE(outcome->has_value()) << outcome->error().userMessage();
    EXPECT_EQ(outcome->value(), path_);
}

}  // namespace
}  // namespace hollowkit
