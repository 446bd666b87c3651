// The Linux recording services built as one bundle, against an X server and
// a sound server of the test's own: every service must reach the display
// and the sound server it was given (not $DISPLAY or the user's own), and
// the screen capture must record system sound through the bundle's sound
// inputs.

#include "hollowkit/recording/linux/linux_recording_system.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "hollowkit/testing/private_pulse_server.h"
#include "screen_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

// Polls `done` until it holds or several seconds have passed.
bool eventually(const std::function<bool()>& done) {
    const TimePoint deadline = SteadyClock::now() + 15s;
    while (!done()) {
        if (SteadyClock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(LinuxRecordingSystemTest, EveryServiceReachesTheGivenDisplayAndSoundServer) {
    if (!PrivatePulseServer::program()) GTEST_SKIP() << "pulseaudio is not installed";
    if (!XvfbServer::xdotoolProgram()) GTEST_SKIP() << "xdotool is not installed (apt-get install xdotool)";
    std::string skip;
    auto xserver = testsupport::startXvfb(640, 480, skip);
    if (!xserver) {
        if (!skip.empty()) GTEST_SKIP() << skip;
        return;
    }
    PrivatePulseServer pulse;
    const auto pulseStarted = pulse.start();
    ASSERT_TRUE(pulseStarted.has_value()) << pulseStarted.error();

    LinuxRecordingSystemOptions options;
    options.displayName = xserver->displayName();
    options.sound.server = pulse.address();
    RecordingSystem system = makeLinuxRecordingSystem(options);

    const auto displays = system.displays->displays();
    ASSERT_TRUE(displays.has_value()) << displays.error();
    ASSERT_EQ(displays->size(), 1u);
    EXPECT_EQ(displays->front().width, 640);
    EXPECT_EQ(displays->front().height, 480);
    EXPECT_TRUE(system.displays->canCapture());

    ASSERT_EQ(xserver->xdotool({"mousemove", "123", "45"}).status, 0);
    EXPECT_TRUE(eventually([&] {
        const auto pointer = system.pointer->query();
        return pointer && pointer->rootX == 123 && pointer->rootY == 45;
    }));

    ASSERT_TRUE(system.keys->start());
    ASSERT_EQ(xserver->xdotool({"key", "space"}).status, 0);
    EXPECT_TRUE(eventually([&] { return system.keys->lastKeyDown().has_value(); }));
    system.keys->stop();

    const auto inputs = system.audioInputs->inputs();
    EXPECT_TRUE(std::any_of(inputs.begin(), inputs.end(), [](const AudioInputOption& input) {
        return input.id == PrivatePulseServer::kToneSource;
    }));

    ScreenCaptureRequest request;
    request.display = displays->front();
    request.outputWidth = 320;
    request.outputHeight = 240;
    request.capturesAudio = true;
    std::atomic<int> frames{0};
    std::atomic<int> chunks{0};
    ScreenCaptureHandlers handlers;
    handlers.onFrame = [&](VideoFrame frame, ScreenFrameStatus status) {
        if (status == ScreenFrameStatus::complete && frame.width() == 320 && frame.height() == 240) ++frames;
    };
    handlers.onAudio = [&](AudioChunk) { ++chunks; };
    auto capture = system.screenCapture->start(request, std::move(handlers));
    ASSERT_TRUE(capture.has_value()) << capture.error();
    EXPECT_TRUE(eventually([&] { return frames.load() > 0 && chunks.load() > 0; }))
        << frames.load() << " frames, " << chunks.load() << " sound chunks";
    capture.value().reset();
}

}  // namespace
}  // namespace hollowkit
