// A whole take through the model against a test X server and a sound
// server of the test's own: the screen (with the system's sound), the
// pointer moved and clicked by xdotool, and a camera delivering a coloured
// picture and a tone, composed by the library's composer. The model's clock
// follows the real one here, as the capture stamps frames with it.

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/recording/linux/linux_recording_system.h"
#include "hollowkit/recording/movie_reader.h"
#include "hollowkit/testing/private_pulse_server.h"
#include "recording_harness.h"
#include "tests/recording/recording_test_support.h"
#include "tests/recording/screen_test_support.h"

namespace lumenhollow::test {
namespace {

using namespace std::chrono_literals;
using hollowkit::RgbColor;
using hollowkit::testsupport::colorNear;

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 360;
constexpr RgbColor kBackground{60, 60, 60};
constexpr RgbColor kBlock{220, 40, 40};
constexpr RgbColor kCamera{40, 200, 60};
// The block the click lands in, in screen fractions.
constexpr double kBlockFrom = 0.05;
constexpr double kBlockTo = 0.4;
constexpr double kClick = 0.15;
constexpr int kToneSampleRate = 48000;

// A solid picture of the camera's colour (BT.601 limited range, as the
// camera's frames are tagged).
hollowkit::VideoFrame cameraPicture(int width, int height, hollowkit::TimePoint pts) {
    auto frame = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::nv12, width, height);
    const double r = kCamera.r, g = kCamera.g, b = kCamera.b;
    const auto y = static_cast<uint8_t>(std::lround(16 + 0.257 * r + 0.504 * g + 0.098 * b));
    const auto u = static_cast<uint8_t>(std::lround(128 - 0.148 * r - 0.291 * g + 0.439 * b));
    const auto v = static_cast<uint8_t>(std::lround(128 + 0.439 * r - 0.368 * g - 0.071 * b));
    for (int row = 0; row < height; ++row) std::ranges::fill(frame.row(0, row), y);
    for (int row = 0; row < (height + 1) / 2; ++row) {
        auto chroma = frame.row(1, row);
        for (size_t i = 0; i + 1 < chroma.size(); i += 2) {
            chroma[i] = u;
            chroma[i + 1] = v;
        }
    }
    return std::move(frame).freeze(pts);
}

class ScreenTakeX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hollowkit::PrivatePulseServer::program()) GTEST_SKIP() << "pulseaudio is not installed";
        std::string skip;
        xserver_ = hollowkit::testsupport::startXvfb(kScreenWidth, kScreenHeight, skip);
        if (!xserver_) {
            if (!skip.empty()) GTEST_SKIP() << skip;
            FAIL() << "no X server";
        }
        if (!hollowkit::XvfbServer::xdotoolProgram()) GTEST_SKIP() << "xdotool is not installed";
        const auto px = [](double f, int size) { return static_cast<int>(f * size); };
        auto painted = xserver_->paint(
            kBackground, {{px(kBlockFrom, kScreenWidth), px(kBlockFrom, kScreenHeight), px(kBlockTo - kBlockFrom, kScreenWidth),
                           px(kBlockTo - kBlockFrom, kScreenHeight), kBlock}});
        ASSERT_TRUE(painted) << painted.error();
        auto cursor = xserver_->setSquareCursor(6, RgbColor{250, 0, 250});
        ASSERT_TRUE(cursor) << cursor.error();
        auto started = pulse_.start();
        ASSERT_TRUE(started) << started.error();

        hollowkit::LinuxRecordingSystemOptions options;
        options.displayName = xserver_->displayName();
        options.sound.server = pulse_.address();
        system_ = hollowkit::makeLinuxRecordingSystem(options);
        h_.recordingSystem = &system_;
        // The model's clock reads the capture's clock from here on.
        h_.main.manualClock().set(hollowkit::SteadyClock::now());
    }

    // Runs the model for `span` of real time, its clock following the real
    // one, while the camera's tone flows.
    void run(hollowkit::Duration span) {
        const hollowkit::TimePoint until = hollowkit::SteadyClock::now() + span;
        for (;;) {
            const hollowkit::TimePoint now = hollowkit::SteadyClock::now();
            if (now >= until) break;
            // The sound up to now first, so no recorder sees the time pass
            // without it.
            deliverTone(now);
            const hollowkit::Duration behind = now - h_.main.clock().now();
            if (behind > hollowkit::Duration::zero()) h_.main.advance(behind);
            h_.main.waitFor([] { return false; }, 5ms);
        }
    }

    void deliverTone(hollowkit::TimePoint now) {
        if (!toneStart_) toneStart_ = now;
        const auto due = static_cast<int64_t>(std::chrono::duration<double>(now - *toneStart_).count() * kToneSampleRate);
        if (due <= toneSamples_) return;
        const auto frames = static_cast<int>(due - toneSamples_);
        const hollowkit::TimePoint pts = *toneStart_ + hollowkit::toDuration(double(toneSamples_) / kToneSampleRate);
        h_.camera()->deliverAudio(hollowkit::testsupport::toneChunk(kToneSampleRate, 1, toneSamples_, frames, pts));
        toneSamples_ = due;
    }

    // A take of about five seconds with a click at 1.5 s; the camera's
    // picture turns to portrait half way when `turns`.
    std::filesystem::path recordTake(bool turns) {
        h_.start(true);
        toneStart_.reset();
        toneSamples_ = 0;
        h_.model->setCodec(hollowkit::VideoCodec::h264);
        h_.model->setRecordScreen(true);
        h_.model->setIncludeMacSound(true);
        h_.model->setAutoZoom(true);
        std::atomic<bool> portrait{false};
        h_.camera()->startFrames(30, [&portrait](uint64_t) {
            return portrait ? cameraPicture(90, 160, hollowkit::SteadyClock::now())
                            : cameraPicture(160, 90, hollowkit::SteadyClock::now());
        });
        run(300ms);  // the camera's sound counts as flowing
        const auto at = [](double f, int size) { return std::to_string(static_cast<int>(f * size)); };
        EXPECT_EQ(xserver_->xdotool({"mousemove", at(0.7, kScreenWidth), at(0.7, kScreenHeight)}).status, 0);

        h_.model->startRecording();
        EXPECT_TRUE(h_.model->hasScreenTake());
        const hollowkit::TimePoint deadline = hollowkit::SteadyClock::now() + 20s;
        while (!h_.state().recordingStarted && hollowkit::SteadyClock::now() < deadline) run(10ms);
        EXPECT_TRUE(h_.state().recordingStarted) << h_.state().notice.value_or("");
        run(1500ms);
        EXPECT_EQ(xserver_->xdotool({"mousemove", at(kClick, kScreenWidth), at(kClick, kScreenHeight)}).status, 0);
        // Held long enough for the pointer's 60 samples a second to see it.
        EXPECT_EQ(xserver_->xdotool({"mousedown", "1"}).status, 0);
        run(150ms);
        EXPECT_EQ(xserver_->xdotool({"mouseup", "1"}).status, 0);
        run(850ms);
        portrait = turns;
        run(2500ms);
        h_.model->toggleRecording();
        h_.camera()->stopFrames();
        EXPECT_TRUE(h_.main.waitFor([&] { return !h_.state().composeProgress; }, 120s));
        return h_.state().lastScreenTake.value_or(std::filesystem::path{});
    }

    RgbColor pixel(const hollowkit::testsupport::RgbPicture& picture, double fx, double fy) {
        return picture.at(static_cast<int>(fx * picture.width), static_cast<int>(fy * picture.height));
    }

    std::unique_ptr<hollowkit::XvfbServer> xserver_;
    hollowkit::PrivatePulseServer pulse_;
    hollowkit::RecordingSystem system_;
    RecordingHarness h_;
    std::optional<hollowkit::TimePoint> toneStart_;
    int64_t toneSamples_ = 0;
};

TEST_F(ScreenTakeX11Test, ATakeIsComposedWithTheBubbleAndTheZoomWhereTheClickWas) {
    for (const bool turns : {false, true}) {
        SCOPED_TRACE(turns ? "the camera turns to portrait" : "landscape throughout");
        if (turns) {
            // A fresh model in the same harness.
            h_.recorder.reset();
            h_.model.reset();
            h_.main.runUntilIdle();
        }
        const std::filesystem::path folder = recordTake(turns);
        ASSERT_FALSE(folder.empty()) << h_.state().notice.value_or("no notice");
        EXPECT_EQ(h_.state().notice, "Screen recording saved");
        // The composer's own progress: from 0, never back, then nothing.
        const auto progress = h_.recorder->values<Field::composeProgress>();
        ASSERT_GE(progress.size(), 3u);
        EXPECT_EQ(progress.front(), 0.0F);
        EXPECT_EQ(progress.back(), std::nullopt);
        for (size_t i = 1; i + 1 < progress.size(); ++i) {
            ASSERT_TRUE(progress[i]);
            EXPECT_GE(*progress[i], *progress[i - 1]);
        }
        for (const char* file : {"Screen.mov", "Camera.mov", "Cursor.json", "Combined.mov"}) {
            EXPECT_TRUE(std::filesystem::exists(folder / file)) << file;
        }
        EXPECT_EQ(std::filesystem::exists(folder / "Camera.json"), turns);
        auto cursor = hollowkit::CursorTimeline::load(folder / "Cursor.json");
        ASSERT_TRUE(cursor) << cursor.error();
        const auto presses = cursor->pressOnsets();
        ASSERT_EQ(presses.size(), 1u);
        EXPECT_NEAR(presses[0].x, kClick, 0.01);
        EXPECT_NEAR(presses[0].y, kClick, 0.01);

        auto screen = hollowkit::MovieReader::open(folder / "Screen.mov");
        auto combined = hollowkit::MovieReader::open(folder / "Combined.mov");
        ASSERT_TRUE(screen) << screen.error();
        ASSERT_TRUE(combined) << combined.error();
        EXPECT_NEAR((*combined)->duration(), (*screen)->duration(), 1.0 / 30 + 1e-3);
        EXPECT_GT((*screen)->duration(), 4.5);
        const nlohmann::json probed = hollowkit::testsupport::probe(folder / "Combined.mov");
        EXPECT_NE(hollowkit::testsupport::streamOfType(probed, "audio"), nullptr) << "the tone";

        const auto before = hollowkit::testsupport::decodePicture(folder / "Combined.mov", 0.5, kScreenWidth, kScreenHeight);
        const auto zoomed = hollowkit::testsupport::decodePicture(folder / "Combined.mov", 3.4, kScreenWidth, kScreenHeight);
        ASSERT_FALSE(before.pixels.empty());
        ASSERT_FALSE(zoomed.pixels.empty());
        // The bubble where the style puts it, before and after any turn.
        const hollowkit::PixelRect bubble =
            hollowkit::BubbleCompositor::bubbleSquare(h_.state().bubbleStyle, kScreenWidth, kScreenHeight);
        const double bx = (bubble.x + bubble.width / 2) / kScreenWidth;
        const double by = (bubble.y + bubble.height / 2) / kScreenHeight;
        EXPECT_TRUE(colorNear(pixel(before, bx, by), kCamera, 30));
        EXPECT_TRUE(colorNear(pixel(zoomed, bx, by), kCamera, 30));
        // A point past the block's edge shows the background unzoomed and
        // the block once the view has closed in on the click.
        EXPECT_TRUE(colorNear(pixel(before, 0.5, 0.5), kBackground, 20));
        EXPECT_TRUE(colorNear(pixel(zoomed, 0.5, 0.5), kBlock, 30));
    }
}

}  // namespace
}  // namespace lumenhollow::test
