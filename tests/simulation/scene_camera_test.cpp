#include "hollowkit/simulation/scene_camera.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/mutex.h"
#include "hollowkit/testing/manual_executor.h"

namespace hollowkit {
namespace {

using Route = SceneCamera::Route;

// The relative move's fixed rate on the USB route, degrees a second.
constexpr double kUsbRate = 35000.0 / 3600.0;

// One small scene for every test: building it is the slow part.
std::shared_ptr<const ScenePanorama> bareScene() {
    static const auto scene = ScenePanorama::build({6, {}});
    return scene;
}

SceneCamera::Options manualOptions(Route route, LensPose start = {}) {
    SceneCamera::Options options;
    options.route = route;
    options.start = start;
    options.pacedFrames = false;
    options.format = {320, 180, 30};
    return options;
}

struct Recorder {
    std::vector<CameraEvent> events;
    std::vector<VideoFrame> frames;  // guarded by lock
    std::vector<AudioChunk> chunks;  // guarded by lock
    mutable Mutex lock;

    void attach(SceneCamera& camera) {
        camera.setOnEvent([this](const CameraEvent& event) { events.push_back(event); });
        camera.setOnVideoSample([this](const VideoFrame& frame) {
            MutexLock guard(lock);
            frames.push_back(frame);
        });
        camera.setOnAudioSample([this](const AudioChunk& chunk) {
            MutexLock guard(lock);
            chunks.push_back(chunk);
        });
    }
    size_t frameCount() const {
        MutexLock guard(lock);
        return frames.size();
    }
};

// --- Speeds integrated over virtual time.

struct SpeedCase {
    const char* name;
    Route route;
    double startPan;
    GimbalVelocity velocity;
    double seconds;
    double expectedPan;
    double expectedTilt;
};

class SceneCameraSpeedTest : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(SceneCameraSpeedTest, TurnsAtTheRoutesRateForAsLongAsTheSpeedHolds) {
    const SpeedCase& c = GetParam();
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(c.route, {c.startPan, 0, 100}));
    camera.gimbal().setVelocity(c.velocity);
    main.manualClock().advanceSeconds(c.seconds);
    const LensPose pose = camera.pose();
    EXPECT_NEAR(pose.panDegrees, c.expectedPan, 1e-6);
    EXPECT_NEAR(pose.tiltDegrees, c.expectedTilt, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Speeds, SceneCameraSpeedTest,
    ::testing::Values(
        // The USB route sends directions only: any size turns at one rate.
        SpeedCase{"usbRight", Route::usb, 0, {0, 300}, 1, kUsbRate, 0},
        SpeedCase{"usbSlowRightSameRate", Route::usb, 0, {0, 20}, 1, kUsbRate, 0},
        SpeedCase{"usbDownLeft", Route::usb, 0, {-40, -500}, 2, -2 * kUsbRate, -2 * kUsbRate},
        SpeedCase{"usbHeldPastTheHoldLimit", Route::usb, 0, {0, 300}, 5, 3 * kUsbRate, 0},
        // The wireless camera turns in proportion to the speed.
        SpeedCase{"wirelessRight", Route::wireless, 0, {0, 300}, 1, 30, 0},
        SpeedCase{"wirelessUpLeft", Route::wireless, 0, {100, -200}, 2, -40, 20},
        SpeedCase{"wirelessBeyondFullSpeed", Route::wireless, 0, {0, 900}, 1, 55, 0},
        SpeedCase{"wirelessHeldPastTheHoldLimit", Route::wireless, 0, {0, 40}, 10, 12, 0},
        // The gimbal stops at its travel.
        SpeedCase{"wirelessIntoTheLimit", Route::wireless, -100, {-550, -550}, 2, -170, -90},
        SpeedCase{"usbIntoTheLimit", Route::usb, 165, {0, 1}, 1, 170, 0}),
    [](const ::testing::TestParamInfo<SpeedCase>& param) { return param.param.name; });

// Many small steps (one per frame) add up to the same turn as one big step.
TEST(SceneCameraTest, FrameByFrameIntegrationAddsUpToTheWholeTurn) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::wireless));
    camera.gimbal().setVelocity({50, 100});
    for (int frame = 0; frame < 45; ++frame) {
        main.manualClock().advance(std::chrono::milliseconds(100));
        camera.deliverFrameNow();
    }
    // 4.5 s passed, the speed held for 3 s.
    EXPECT_NEAR(camera.pose().panDegrees, 30, 1e-6);
    EXPECT_NEAR(camera.pose().tiltDegrees, 15, 1e-6);
}

// Changing the speed during a motion keeps its start, so the hold limit
// still counts from the first request; a zero speed stops at once.
TEST(SceneCameraTest, ASpeedChangeKeepsTheMotionsStartAndZeroStops) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::usb));
    camera.gimbal().setVelocity({0, 300});
    main.manualClock().advanceSeconds(2);
    EXPECT_NEAR(camera.pose().panDegrees, 2 * kUsbRate, 1e-6);
    camera.gimbal().setVelocity({0, -300});
    main.manualClock().advanceSeconds(2);
    EXPECT_NEAR(camera.pose().panDegrees, kUsbRate, 1e-6);

    camera.gimbal().setVelocity(GimbalVelocity::zero);
    camera.gimbal().setVelocity({200, 0});
    main.manualClock().advanceSeconds(0.5);
    // The camera samples the mailbox with each frame, as the routes do on
    // their timers: a speed ended between two samples never turned it.
    camera.deliverFrameNow();
    camera.gimbal().setVelocity(GimbalVelocity::zero);
    main.manualClock().advanceSeconds(1);
    EXPECT_NEAR(camera.pose().panDegrees, kUsbRate, 1e-6);
    EXPECT_NEAR(camera.pose().tiltDegrees, 0.5 * kUsbRate, 1e-6);
}

// --- Positions.

TEST(SceneCameraTest, MovesArriveAtOnceByDefaultAndAreClamped) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::usb));
    camera.move({30, -10, 250});
    EXPECT_EQ(camera.currentPosition(), (CameraPosition{30, -10, 250}));
    camera.move({200, 100, std::nullopt});
    EXPECT_EQ(camera.currentPosition(), (CameraPosition{170, 90, 250}));
    camera.move({-500, -100, 50});
    EXPECT_EQ(camera.currentPosition(), (CameraPosition{-170, -90, 100}));
    camera.move({NAN, 0, std::nullopt});
    EXPECT_EQ(camera.currentPosition(), (CameraPosition{-170, -90, 100}));
}

TEST(SceneCameraTest, MovesAtABoundedSpeedTakeTheirTime) {
    ManualExecutor main;
    SceneCamera::Options options = manualOptions(Route::usb);
    options.moveDegreesPerSecond = 60;
    SceneCamera camera(main, bareScene(), options);
    camera.move({30, -10, std::nullopt});
    EXPECT_EQ(camera.currentPosition(), (CameraPosition{0, 0, 100}));
    main.manualClock().advanceSeconds(0.25);
    EXPECT_EQ(camera.currentPosition(), (CameraPosition{15, -10, 100}));
    main.manualClock().advanceSeconds(0.25);
    EXPECT_EQ(camera.currentPosition(), (CameraPosition{30, -10, 100}));
    // A speed takes over from a move under way.
    camera.move({0, 0, std::nullopt});
    main.manualClock().advanceSeconds(0.25);
    camera.gimbal().setVelocity({0, 300});
    main.manualClock().advanceSeconds(1);
    EXPECT_NEAR(camera.pose().panDegrees, 15 + kUsbRate, 1e-6);
}

TEST(SceneCameraTest, ARecentreRequestTurnsBackToTheMiddle) {
    for (Route route : {Route::usb, Route::wireless}) {
        SCOPED_TRACE(route == Route::usb ? "usb" : "wireless");
        ManualExecutor main;
        SceneCamera camera(main, bareScene(), manualOptions(route, {40, -20, 300}));
        camera.gimbal().requestRecenter();
        main.manualClock().advanceSeconds(0.05);
        EXPECT_EQ(camera.pose(), (LensPose{0, 0, 300}));
    }
}

struct FlipCase {
    const char* name;
    Route route;
    double fromPan;
    double expectedPan;
};

class SceneCameraFlipTest : public ::testing::TestWithParam<FlipCase> {};

TEST_P(SceneCameraFlipTest, TurnsAround) {
    const FlipCase& c = GetParam();
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(c.route, {c.fromPan, 12, 150}));
    camera.flipGimbal();
    EXPECT_EQ(camera.pose(), (LensPose{c.expectedPan, 12, 150}));
}

INSTANTIATE_TEST_SUITE_P(Flips, SceneCameraFlipTest,
                         ::testing::Values(
                             // The USB route turns to 180 (the travel ends at 170) or back to 0.
                             FlipCase{"usbFromFront", Route::usb, 45, 170}, FlipCase{"usbFromBack", Route::usb, 170, 0},
                             FlipCase{"usbFromJustLeft", Route::usb, -89.9, 170},
                             FlipCase{"usbFromNinety", Route::usb, 90, 0},
                             // The wireless camera turns half a turn from where it is.
                             FlipCase{"wirelessFromRight", Route::wireless, 45, -135},
                             FlipCase{"wirelessFromLeft", Route::wireless, -60, 120},
                             FlipCase{"wirelessPastTheTravel", Route::wireless, 0, -170}),
                         [](const ::testing::TestParamInfo<FlipCase>& param) { return param.param.name; });

TEST(SceneCameraTest, TheWirelessRouteNeitherReadsNorSetsPositions) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::wireless));
    EXPECT_FALSE(camera.supportsPositioning());
    camera.move({30, 10, 200});
    EXPECT_EQ(camera.currentPosition(), std::nullopt);
    EXPECT_EQ(camera.pose(), (LensPose{0, 0, 100}));
    camera.setZoom(200);
    EXPECT_EQ(camera.pose().zoomPercent, 200);
}

TEST(SceneCameraTest, ZoomIsClampedToTheRange) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::usb));
    ASSERT_EQ(camera.zoomRange(), (ZoomRange{100, 400}));
    for (auto [asked, expected] : {std::pair{250, 250}, {50, 100}, {1000, 400}, {100, 100}}) {
        camera.setZoom(asked);
        EXPECT_EQ(camera.currentPosition()->zoom, expected) << asked;
    }
}

// --- Frames, sound and statistics.

TEST(SceneCameraTest, FramesShowTheLensWindowAtTheClocksTime) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::usb, {20, 5, 200}));
    Recorder recorder;
    recorder.attach(camera);
    camera.deliverFrameNow();
    ASSERT_EQ(recorder.frames.size(), 1U);
    const VideoFrame& frame = recorder.frames[0];
    EXPECT_EQ(frame.pixelFormat(), PixelFormat::nv12);
    EXPECT_EQ(frame.width(), 320);
    EXPECT_EQ(frame.height(), 180);
    EXPECT_EQ(frame.pts(), main.clock().now());
    const VideoFrame expected = bareScene()->render(camera.lens().window({20, 5, 200}, 320, 180), 320, 180, {});
    for (int y = 0; y < 180; y += 17) {
        ASSERT_TRUE(std::ranges::equal(frame.row(0, y), expected.row(0, y))) << y;
    }
    EXPECT_EQ(camera.framesDelivered(), 1U);
}

// The chunks of the tone follow one another without a gap or an overlap
// however unevenly they are asked for, and join into one smooth signal of
// the tone's pitch whose loudness swells and fades, which the level follows.
TEST(SceneCameraTest, TheUsbRoutesToneIsOneUnbrokenSwellingSignal) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::usb));
    Recorder recorder;
    recorder.attach(camera);
    camera.start();
    const TimePoint started = main.clock().now();
    EXPECT_EQ(camera.audioLevel(), std::nullopt) << "nothing heard yet";
    std::vector<float> levels;
    const int steps[] = {7, 20, 33, 1, 19, 40};
    for (int i = 0; i < 400; ++i) {
        main.manualClock().advance(std::chrono::milliseconds(steps[i % 6]));
        camera.deliverSoundNow();
        if (const auto level = camera.audioLevel()) levels.push_back(*level);
    }
    const double seconds = std::chrono::duration<double>(main.clock().now() - started).count();
    ASSERT_GT(seconds, 5.0);

    std::vector<float> left;
    TimePoint expectedPts = started;
    for (const AudioChunk& chunk : recorder.chunks) {
        ASSERT_EQ(chunk.channels(), 2);
        ASSERT_EQ(chunk.sampleRate(), 48000);
        EXPECT_LE(std::chrono::abs(chunk.pts() - expectedPts), std::chrono::microseconds(1));
        expectedPts = chunk.pts() + chunk.duration();
        for (size_t i = 0; i < chunk.frameCount(); ++i) {
            ASSERT_EQ(chunk.f32()[2 * i], chunk.f32()[2 * i + 1]);
            left.push_back(chunk.f32()[2 * i]);
        }
    }
    EXPECT_NEAR(static_cast<double>(left.size()), seconds * 48000, 1.0);
    // No step between neighbours beyond the loudest sine's steepest.
    const double steepest = 2 * std::numbers::pi * 440 * 0.1 / 48000;
    size_t crossings = 0;
    for (size_t i = 1; i < left.size(); ++i) {
        ASSERT_LE(std::abs(left[i] - left[i - 1]), steepest * 1.01) << i;
        if ((left[i - 1] < 0) != (left[i] < 0)) ++crossings;
    }
    EXPECT_NEAR(static_cast<double>(crossings) / seconds, 2 * 440, 2);
    // The loudest second of a sine at 0.1 is about -23 dB; the quietest, a
    // tenth of it, 20 dB lower.
    ASSERT_FALSE(levels.empty());
    const auto [quietest, loudest] = std::ranges::minmax(levels);
    EXPECT_NEAR(loudest, -23.0, 0.5);
    EXPECT_LT(quietest, -40.0);
    EXPECT_EQ(camera.microphones(), std::vector<MicrophoneOption>{*camera.activeMicrophone()});
}

// A tone that does not swell holds one loudness, so a level meter showing
// it stands still: half the swell's range, every 20 ms chunk alike.
TEST(SceneCameraTest, ASteadyToneHoldsOneLevel) {
    ManualExecutor main;
    SceneCamera::Options options = manualOptions(Route::usb);
    options.swellingTone = false;
    SceneCamera camera(main, bareScene(), options);
    camera.start();
    std::vector<float> levels;
    for (int i = 0; i < 150; ++i) {
        main.manualClock().advance(std::chrono::milliseconds(20));
        camera.deliverSoundNow();
        if (const auto level = camera.audioLevel()) levels.push_back(*level);
    }
    ASSERT_FALSE(levels.empty());
    const auto [quietest, loudest] = std::ranges::minmax(levels);
    EXPECT_LT(loudest - quietest, 0.5) << "over three seconds, more than one swell";
    // 0.55 of the loudest: about 5 dB below it.
    EXPECT_NEAR(loudest, -23.0 + 20 * std::log10(0.55), 0.7);
}

// A sound thread held up for seconds delivers the last quarter second, not
// the whole wait at once; the chunks go on from there.
TEST(SceneCameraTest, AStalledSoundSkipsToTheLastQuarterSecond) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::usb));
    Recorder recorder;
    recorder.attach(camera);
    camera.start();
    main.manualClock().advance(std::chrono::milliseconds(20));
    camera.deliverSoundNow();
    main.manualClock().advanceSeconds(3);
    camera.deliverSoundNow();
    const TimePoint stalledAt = main.clock().now();
    main.manualClock().advance(std::chrono::milliseconds(20));
    camera.deliverSoundNow();
    ASSERT_EQ(recorder.chunks.size(), 3U);
    EXPECT_EQ(recorder.chunks[1].frameCount(), 12000U);
    EXPECT_LE(std::chrono::abs(recorder.chunks[1].pts() - (stalledAt - std::chrono::milliseconds(250))),
              std::chrono::microseconds(1));
    EXPECT_EQ(recorder.chunks[2].frameCount(), 960U);
    EXPECT_LE(std::chrono::abs(recorder.chunks[2].pts() - stalledAt), std::chrono::microseconds(1));
}

// The model learns formats and microphones only from `devicesChanged`: the
// USB route tells it at start and when the format changes, never in vain.
TEST(SceneCameraTest, TheUsbRouteTellsOfItsDevicesAtStartAndOnANewFormat) {
    const struct {
        const char* name;
        Route route;
        std::vector<VideoFormatOption> chosen;  // after start
        int told;
    } cases[] = {
        {"usb start", Route::usb, {}, 1},
        {"usb new format", Route::usb, {{1280, 720, 30}}, 2},
        {"usb same format, one not offered", Route::usb, {{1920, 1080, 30}, {640, 480, 30}}, 1},
        {"usb back and forth", Route::usb, {{1280, 720, 30}, {1920, 1080, 30}}, 3},
        {"wireless", Route::wireless, {{1280, 720, 30}}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor main;
        SceneCamera::Options options = manualOptions(c.route);
        options.format = {1920, 1080, 30};
        SceneCamera camera(main, bareScene(), options);
        int told = 0;
        camera.setOnEvent([&](const CameraEvent& event) {
            if (event.kind() != CameraEvent::Kind::devicesChanged) return;
            ++told;
            // What the model reads when told.
            EXPECT_FALSE(camera.formats().empty());
            EXPECT_TRUE(camera.activeFormat().has_value());
            EXPECT_EQ(camera.microphones().size(), 1U);
        });
        camera.start();
        main.runUntilIdle();
        for (const VideoFormatOption& format : c.chosen) camera.selectFormat(format);
        main.runUntilIdle();
        EXPECT_EQ(told, c.told);
    }
}

TEST(SceneCameraTest, TheWirelessRouteHasNoSoundNorFormats) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::wireless));
    Recorder recorder;
    recorder.attach(camera);
    camera.start();
    main.manualClock().advanceSeconds(1);
    camera.deliverFrameNow();
    camera.deliverSoundNow();
    main.runUntilIdle();
    EXPECT_EQ(recorder.frames.size(), 1U);
    EXPECT_TRUE(recorder.chunks.empty());
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(camera.audioLevel(), std::nullopt);
    EXPECT_TRUE(camera.microphones().empty());
    EXPECT_TRUE(camera.formats().empty());
    EXPECT_TRUE(camera.supportsCardRecording());
}

TEST(SceneCameraTest, AChosenFormatSetsThePictureSize) {
    ManualExecutor main;
    SceneCamera::Options options = manualOptions(Route::usb);
    options.format = {1920, 1080, 30};
    SceneCamera camera(main, bareScene(), options);
    Recorder recorder;
    recorder.attach(camera);
    camera.selectFormat({1280, 720, 30});
    camera.selectFormat({640, 480, 30});  // not offered: ignored
    camera.deliverFrameNow();
    ASSERT_EQ(recorder.frames.size(), 1U);
    EXPECT_EQ(recorder.frames[0].width(), 1280);
    EXPECT_EQ(recorder.frames[0].height(), 720);
    EXPECT_EQ(camera.activeFormat(), (VideoFormatOption{1280, 720, 30}));
}

TEST(SceneCameraTest, StatisticsEveryTwoSecondsOfFrames) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::usb, {12, -3, 100}));
    Recorder recorder;
    recorder.attach(camera);
    // 25 frames a second for 4 seconds.
    for (int i = 0; i < 100; ++i) {
        main.manualClock().advance(std::chrono::milliseconds(40));
        camera.deliverFrameNow();
    }
    main.runUntilIdle();
    std::vector<CameraStats> stats;
    for (const CameraEvent& event : recorder.events) {
        if (const auto* s = event.get<CameraStats>()) stats.push_back(*s);
    }
    ASSERT_EQ(stats.size(), 2U);
    for (const CameraStats& s : stats) {
        EXPECT_TRUE(s.hasPicture);
        EXPECT_NEAR(s.framesPerSecond, 25, 1e-9);
        EXPECT_TRUE(s.gimbalResponding);
        EXPECT_EQ(s.attitude, (GimbalAttitude{-3, 0, 12}));
        EXPECT_EQ(s.resolution, (VideoDimensions{320, 180}));
    }
}

TEST(SceneCameraTest, AStoppedPictureDeliversNothingAndTheStatisticsSaySo) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::usb));
    Recorder recorder;
    recorder.attach(camera);
    // Each row: two seconds of 25 ticks a second with the picture as given.
    const struct {
        const char* name;
        bool flowing;
        size_t frames;
        bool hasPicture;
    } phases[] = {
        {"flowing", true, 50, true},
        {"dropped out", false, 0, false},
        {"back", true, 50, true},
    };
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.name);
        camera.setPictureFlowing(phase.flowing);
        const size_t framesBefore = [&] {
            MutexLock guard(recorder.lock);
            return recorder.frames.size();
        }();
        const size_t chunksBefore = [&] {
            MutexLock guard(recorder.lock);
            return recorder.chunks.size();
        }();
        recorder.events.clear();
        for (int i = 0; i < 50; ++i) {
            main.manualClock().advance(std::chrono::milliseconds(40));
            camera.deliverFrameNow();
            camera.deliverSoundNow();
        }
        main.runUntilIdle();
        {
            MutexLock guard(recorder.lock);
            EXPECT_EQ(recorder.frames.size() - framesBefore, phase.frames);
            // The microphone is a device of its own: it goes on without the picture.
            EXPECT_EQ(recorder.chunks.size() - chunksBefore, 50U);
        }
        std::vector<CameraStats> stats;
        for (const CameraEvent& event : recorder.events) {
            if (const auto* s = event.get<CameraStats>()) stats.push_back(*s);
        }
        ASSERT_EQ(stats.size(), 1U);
        EXPECT_EQ(stats[0].hasPicture, phase.hasPicture);
    }
}

// --- The camera's own thread.

TEST(SceneCameraTest, PacedFramesFlowUntilStopThenStoppedComesBeforeTheCompletion) {
    ManualExecutor main;
    SceneCamera::Options options = manualOptions(Route::usb);
    options.pacedFrames = true;
    options.format = {320, 180, 60};
    SceneCamera camera(main, bareScene(), options);
    Recorder recorder;
    recorder.attach(camera);
    camera.start();
    ASSERT_TRUE(main.waitFor([&] { return recorder.frameCount() >= 3; }));
    std::vector<std::string> order;
    camera.setOnEvent([&](const CameraEvent& event) {
        if (event.kind() == CameraEvent::Kind::stopped) order.push_back("stopped");
    });
    camera.stop([&] { order.push_back("completion"); });
    const size_t framesAtStop = recorder.frameCount();
    main.runUntilIdle();
    EXPECT_EQ(order, (std::vector<std::string>{"stopped", "completion"}));
    EXPECT_EQ(recorder.frameCount(), framesAtStop);
    EXPECT_EQ(camera.framesDelivered(), framesAtStop);
}

// The sound thread delivers the tone up to the clock's now on its own, and
// nothing once stopped.
TEST(SceneCameraTest, PacedSoundFollowsTheClockUntilStop) {
    ManualExecutor main;
    SceneCamera::Options options = manualOptions(Route::usb);
    options.pacedFrames = true;
    SceneCamera camera(main, bareScene(), options);
    Recorder recorder;
    recorder.attach(camera);
    auto heardFrames = [&] {
        MutexLock guard(recorder.lock);
        size_t frames = 0;
        for (const AudioChunk& chunk : recorder.chunks) frames += chunk.frameCount();
        return frames;
    };
    camera.start();
    main.manualClock().advance(std::chrono::milliseconds(100));
    ASSERT_TRUE(main.waitFor([&] { return heardFrames() == 4800; })) << heardFrames();
    camera.stop(nullptr);
    main.manualClock().advance(std::chrono::milliseconds(100));
    main.runUntilIdle();
    EXPECT_EQ(heardFrames(), 4800U);
}

TEST(SceneCameraTest, TheCompletionRunsWhenTheCameraIsGoneAndTheEventIsDropped) {
    ManualExecutor main;
    int completions = 0;
    int events = 0;
    {
        SceneCamera camera(main, bareScene(), manualOptions(Route::wireless));
        camera.setOnEvent([&](const CameraEvent&) { ++events; });
        camera.stop([&] { ++completions; });
    }
    main.runUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(events, 0);
}

TEST(SceneCameraTest, AHangingStopEndsTheFramesButNeverReportsItsEnd) {
    ManualExecutor main;
    SceneCamera::Options options = manualOptions(Route::usb);
    options.pacedFrames = true;
    options.format = {320, 180, 60};
    options.stopCompletes = false;
    SceneCamera camera(main, bareScene(), options);
    Recorder recorder;
    recorder.attach(camera);
    camera.start();
    ASSERT_TRUE(main.waitFor([&] { return recorder.frameCount() >= 2; }));
    int stoppedEvents = 0;
    camera.setOnEvent([&](const CameraEvent& event) {
        if (event.kind() == CameraEvent::Kind::stopped) ++stoppedEvents;
    });
    int completions = 0;
    camera.stop([&] { ++completions; });
    const uint64_t framesAtStop = camera.framesDelivered();
    main.advanceSeconds(60);
    EXPECT_EQ(stoppedEvents, 0);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(camera.framesDelivered(), framesAtStop);
}

TEST(SceneCameraTest, CardRecordingIsReportedBackOnTheWirelessRoute) {
    ManualExecutor main;
    SceneCamera camera(main, bareScene(), manualOptions(Route::wireless));
    Recorder recorder;
    recorder.attach(camera);
    camera.setCardRecording(true);
    camera.setCardRecording(false);
    main.runUntilIdle();
    ASSERT_EQ(recorder.events.size(), 2U);
    ASSERT_NE(recorder.events[0].get<CardRecordingState>(), nullptr);
    EXPECT_TRUE(recorder.events[0].get<CardRecordingState>()->isRecording);
    EXPECT_FALSE(recorder.events[1].get<CardRecordingState>()->isRecording);
}

}  // namespace
}  // namespace hollowkit
