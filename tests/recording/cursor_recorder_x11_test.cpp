// The cursor recorder and the X11 services behind it against a real X
// server (Xvfb started by the test), with xdotool moving the pointer,
// pressing the button and typing: logical monitors, normalised positions,
// press onsets (a click between two samples too), the app's own windows
// (and the window manager's frames around them) and key-press times.

#include <unistd.h>

#include <algorithm>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "hollowkit/base/loop_executor.h"
#include "hollowkit/recording/cursor_recorder.h"
#include "hollowkit/recording/screen_recorder.h"
#include "hollowkit/recording/x11/x11_button_press_source.h"
#include "hollowkit/recording/x11/x11_display_service.h"
#include "hollowkit/recording/x11/x11_key_press_source.h"
#include "hollowkit/recording/x11/x11_pointer_service.h"
#include "hollowkit/testing/manual_executor.h"
#include "screen_test_support.h"
#include "x11_test_windows.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

constexpr double kX11Frame = 1.0 / 60;

double secondsOf(TimePoint t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

class CursorRecorderX11Test : public ::testing::Test {
protected:
    // False (with skip_ set when the machine lacks a program) when the server
    // cannot be had.
    bool startServer() {
        server_ = testsupport::startXvfb(1920, 1080, skip_);
        if (!server_) return false;
        if (!XvfbServer::xdotoolProgram()) {
            skip_ = "xdotool is not installed (apt-get install xdotool)";
            return false;
        }
        displays_ = std::make_unique<X11DisplayService>(server_->displayName());
        pointer_ = std::make_unique<X11PointerService>(server_->displayName());
        keys_ = std::make_unique<X11KeyPressSource>(server_->displayName());
        buttons_ = std::make_unique<X11ButtonPressSource>(server_->displayName());
        return true;
    }

    void xdotool(const std::vector<std::string>& arguments) {
        const auto result = server_->xdotool(arguments);
        ASSERT_EQ(result.status, 0) << result.output;
    }

    // Samples on virtual time until the latest sample satisfies `done`; the
    // server handles xdotool's requests in its own time.
    bool sampleUntil(CursorRecorder& recorder, const std::function<bool(const CursorSample&)>& done) {
        for (int i = 0; i < 500; ++i) {
            main_.advance(CursorRecorder::kSampleInterval);
            if (!recorder.samples().empty() && done(recorder.samples().back())) return true;
        }
        return false;
    }

    std::unique_ptr<XvfbServer> server_;
    std::string skip_;
    std::unique_ptr<X11DisplayService> displays_;
    std::unique_ptr<X11PointerService> pointer_;
    std::unique_ptr<X11KeyPressSource> keys_;
    std::unique_ptr<X11ButtonPressSource> buttons_;
    ManualExecutor main_;
};

// The screen split into two logical monitors: the display list shows both,
// and positions are measured against the recorded one, also while the
// pointer is on the other. Button presses start onsets where they happen.
TEST_F(CursorRecorderX11Test, PositionsAndPressesOnALogicalMonitor) {
    if (!startServer()) {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        return;
    }
    auto split = server_->addMonitors({{"LEFT", 0, 0, 960, 1080, true}, {"RIGHT", 960, 0, 960, 1080, false}});
    if (!split) GTEST_SKIP() << "this X server cannot split its screen into monitors: " << split.error();
    const auto right = server_->monitorId("RIGHT");
    const auto left = server_->monitorId("LEFT");
    ASSERT_TRUE(right && left);

    const auto list = displays_->displays();
    ASSERT_TRUE(list.has_value()) << list.error();
    const auto find = [&](uint32_t id) {
        return std::find_if(list->begin(), list->end(), [&](const DisplayInfo& d) { return d.id == id; });
    };
    ASSERT_NE(find(*right), list->end());
    EXPECT_EQ(*find(*right), (DisplayInfo{*right, 960, 0, 960, 1080, false, false}));
    EXPECT_EQ(*find(*left), (DisplayInfo{*left, 0, 0, 960, 1080, true, false}));
    const auto named = ScreenRecorder::displays(*displays_);
    ASSERT_TRUE(named.has_value());
    EXPECT_NE(std::find(named->begin(), named->end(),
                        ScreenDisplay{*right, "Display " + std::to_string(*right), {960, 1080}}),
              named->end());

    CursorRecorder recorder(*right, main_, *displays_, *pointer_, *keys_, *buttons_);
    xdotool({"mousemove", "--sync", "1440", "810"});
    recorder.start();
    EXPECT_DOUBLE_EQ(recorder.samples().back().x, 0.5);
    EXPECT_DOUBLE_EQ(recorder.samples().back().y, 0.75);

    xdotool({"mousemove", "--sync", "480", "270"});  // on the left monitor
    ASSERT_TRUE(sampleUntil(recorder, [](const CursorSample& s) { return s.x < 0; }));
    EXPECT_DOUBLE_EQ(recorder.samples().back().x, -0.5);
    EXPECT_DOUBLE_EQ(recorder.samples().back().y, 0.25);

    xdotool({"mousemove", "--sync", "1200", "540"});
    ASSERT_TRUE(sampleUntil(recorder, [](const CursorSample& s) { return s.x > 0; }));
    xdotool({"mousedown", "1"});
    ASSERT_TRUE(sampleUntil(recorder, [](const CursorSample& s) { return s.pressed; }));
    main_.advance(CursorRecorder::kSampleInterval * 3);
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(sampleUntil(recorder, [](const CursorSample& s) { return !s.pressed; }));
    const auto timeline = recorder.stop();
    const auto onsets = timeline.pressOnsets();
    ASSERT_EQ(onsets.size(), 1u);
    EXPECT_DOUBLE_EQ(onsets[0].x, 0.25);
    EXPECT_DOUBLE_EQ(onsets[0].y, 0.5);
    EXPECT_FALSE(onsets[0].overApp);
}

// A click that came and went while the sampler was held up (no sample
// between its press and its release) is kept, once.
TEST_F(CursorRecorderX11Test, AClickBetweenTwoSamplesIsKept) {
    if (!startServer()) {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        return;
    }
    const auto whole = displays_->displays();
    ASSERT_TRUE(whole.has_value() && !whole->empty());
    CursorRecorder recorder(whole->front().id, main_, *displays_, *pointer_, *keys_, *buttons_);
    // Off the screen's middle, where the pointer starts (a move there would
    // never be seen to happen).
    xdotool({"mousemove", "--sync", "480", "270"});
    recorder.start();
    xdotool({"click", "1"});
    // Sampled until the click's press and release have been heard (the
    // server sends them in its own time); the pointer itself never shows
    // the button down.
    const auto heard = [&] {
        const CursorTimeline sofar{recorder.samples(), {}};
        return !sofar.pressOnsets().empty() && !sofar.samples.back().pressed;
    };
    const auto deadline = SteadyClock::now() + 30s;
    while (!heard() && SteadyClock::now() < deadline) {
        main_.advance(CursorRecorder::kSampleInterval);
        std::this_thread::yield();
    }
    const CursorTimeline timeline = recorder.stop();
    ASSERT_EQ(timeline.pressOnsets().size(), 1u);
    EXPECT_DOUBLE_EQ(timeline.pressOnsets()[0].x, 0.25);
    EXPECT_DOUBLE_EQ(timeline.pressOnsets()[0].y, 0.25);
    EXPECT_FALSE(timeline.samples.back().pressed);
}

// Whether the pointer is over one of the app's windows, by the rule the
// screen recording leaves them out by: a window manager's frame, title bar
// included, counts with the window it holds; a window of another program
// over ours does not. "Ours" are windows marked with this process's id. The
// pointer's query and the button's events tell it alike.
TEST_F(CursorRecorderX11Test, KnowsWhenThePointerIsOverTheAppsWindowOrItsFrame) {
    if (!startServer()) {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        return;
    }
    using Look = testsupport::X11TestWindows::Look;
    const RgbColor grey{128, 128, 128};
    testsupport::X11TestWindows ours(server_->displayName(), static_cast<uint32_t>(::getpid()));
    testsupport::X11TestWindows others(server_->displayName(), static_cast<uint32_t>(::getpid()) + 1);
    testsupport::X11TestWindows windowManager(server_->displayName(), std::nullopt);
    ASSERT_TRUE(ours.ok() && others.ok() && windowManager.ok());
    // Frames with a title bar 30 pixels high above their client window.
    const uint32_t ourFrame = windowManager.open({100, 100, 400, 300}, Look{grey});
    ours.open({10, 30, 380, 260}, Look{grey, 255, false, true, ourFrame});
    const uint32_t otherFrame = windowManager.open({600, 100, 400, 300}, Look{grey});
    others.open({10, 30, 380, 260}, Look{grey, 255, false, true, otherFrame});
    ours.open({700, 500, 200, 100}, Look{grey, 255, true});  // a popover
    ours.open({100, 600, 300, 200}, Look{grey});             // no window manager
    others.open({250, 650, 100, 100}, Look{grey, 255, true});

    struct Probe {
        const char* where;
        int x;
        int y;
        bool overApp;
    };
    const Probe probes[] = {
        {"our frame's title bar", 300, 110, true},
        {"our window in its frame", 300, 250, true},
        {"another program's title bar", 800, 110, false},
        {"another program's window in its frame", 800, 250, false},
        {"our popover", 800, 550, true},
        {"our window without a window manager", 150, 650, true},
        {"another program's window over ours", 300, 700, false},
        {"the desktop", 1500, 900, false},
    };
    // The button's own events say it by the same rule, where they were heard.
    ASSERT_TRUE(buttons_->start());
    for (const Probe& p : probes) {
        SCOPED_TRACE(p.where);
        xdotool({"mousemove", "--sync", std::to_string(p.x), std::to_string(p.y)});
        const std::optional<PointerState> state = pointer_->query();
        ASSERT_TRUE(state);
        ASSERT_EQ(std::make_pair(state->rootX, state->rootY), std::make_pair(p.x, p.y));
        EXPECT_EQ(state->overOwnWindow, p.overApp);

        xdotool({"click", "1"});
        std::vector<ButtonChange> heard;
        const auto deadline = SteadyClock::now() + 30s;
        while (heard.size() < 2 && SteadyClock::now() < deadline) {
            const auto changes = buttons_->takeChanges();
            ASSERT_TRUE(changes);
            heard.insert(heard.end(), changes->begin(), changes->end());
            std::this_thread::yield();
        }
        ASSERT_EQ(heard.size(), 2u) << "the click's press and release";
        for (const ButtonChange& change : heard) {
            EXPECT_EQ(change.at, (RootPoint{p.x, p.y}));
            EXPECT_EQ(change.overApp, std::optional<bool>(p.overApp));
        }
    }
    buttons_->stop();

    // The recorder takes it as it is.
    const auto whole = displays_->displays();
    ASSERT_TRUE(whole.has_value() && !whole->empty());
    CursorRecorder recorder(whole->front().id, main_, *displays_, *pointer_, *keys_, *buttons_);
    xdotool({"mousemove", "--sync", "300", "110"});
    recorder.start();
    EXPECT_TRUE(recorder.samples().back().overApp);
}

// A typed key is kept at the moment it went down (within a frame of when
// xdotool typed it), once per key-down; which key it was is not kept.
TEST_F(CursorRecorderX11Test, KeyPressTimesWithinAFrame) {
    if (!startServer()) {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        return;
    }
    LoopExecutor loop;
    const auto whole = displays_->displays();
    ASSERT_TRUE(whole.has_value() && !whole->empty());
    std::unique_ptr<CursorRecorder> recorder;
    ASSERT_TRUE(loop.sync([&] {
        recorder = std::make_unique<CursorRecorder>(whole->front().id, loop, *displays_, *pointer_, *keys_, *buttons_);
        recorder->start();
    }));
    const auto keyTimes = [&] {
        std::vector<double> times;
        loop.sync([&] { times = recorder->keyPresses(); });
        return times;
    };
    std::vector<std::pair<double, double>> windows;
    for (size_t i = 0; i < 3; ++i) {
        const double before = secondsOf(SteadyClock::now());
        xdotool({"key", "a"});
        const auto deadline = SteadyClock::now() + 5s;
        while (keyTimes().size() <= i && SteadyClock::now() < deadline) {
            std::this_thread::yield();
        }
        // The key is stamped when the recorder's watch reads it, which a busy
        // machine may put off past xdotool's return: the stamp is bounded by
        // the typing and by the moment the recorder was seen holding it.
        windows.emplace_back(before, secondsOf(SteadyClock::now()));
    }
    std::optional<CursorTimeline> timeline;
    ASSERT_TRUE(loop.sync([&] {
        timeline = recorder->stop();
        recorder.reset();
    }));
    ASSERT_EQ(timeline->keyPresses.size(), windows.size());
    EXPECT_EQ(keys_->keyDownCount(), 3u);
    for (size_t i = 0; i < windows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(timeline->keyPresses[i], windows[i].first - kX11Frame);
        EXPECT_LE(timeline->keyPresses[i], windows[i].second + kX11Frame);
    }
}

}  // namespace
}  // namespace hollowkit
