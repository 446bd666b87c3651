// The cursor recorder on virtual time against fake pointer, keys, button
// events and displays: the 60 Hz sampling, positions normalised to the
// recorded display, the button (from its events, else from the samples),
// the app's own windows, and the key-press rule.

#include "hollowkit/recording/cursor_recorder.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "hollowkit/testing/fake_pointer.h"
#include "hollowkit/testing/fake_screen_capture.h"
#include "hollowkit/testing/manual_executor.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kLeft = 1;
constexpr uint32_t kRecorded = 2;
constexpr double kFrame = 1.0 / 60;

double seconds(TimePoint t) {
    return CursorRecorder::timelineSeconds(t);
}

class CursorRecorderTest : public ::testing::Test {
protected:
    CursorRecorderTest() {
        // A 1920 x 1080 display left of the recorded 2560 x 1440 one, which
        // is the primary.
        displays_.setDisplays({DisplayInfo{kLeft, 0, 0, 1920, 1080, false, false},
                               DisplayInfo{kRecorded, 1920, 0, 2560, 1440, true, false}});
    }

    std::unique_ptr<CursorRecorder> makeRecorder(uint32_t display = kRecorded) {
        return std::make_unique<CursorRecorder>(display, main_, displays_, pointer_, keys_, buttons_);
    }

    // One sample interval of virtual time.
    void tick(int frames = 1) {
        for (int i = 0; i < frames; ++i) main_.advance(CursorRecorder::kSampleInterval);
    }

    ManualExecutor main_;
    FakeDisplayService displays_;
    FakePointerService pointer_;
    FakeKeyPressSource keys_;
    FakeButtonPressSource buttons_;
};

// One sample at once, then one per 1/60 s on the main executor's clock,
// until stop; the recorder keeps what it took. A take's start converted with
// timelineSeconds shifts the timeline to count from that start.
TEST_F(CursorRecorderTest, SamplesSixtyTimesASecondUntilStopped) {
    auto recorder = makeRecorder();
    const TimePoint takeStart = main_.clock().now() - 250ms;
    recorder->start();
    EXPECT_TRUE(keys_.started());
    EXPECT_EQ(recorder->samples().size(), 1u);
    keys_.press(main_.clock().now() + 4ms);
    tick(60);
    const auto timeline = recorder->stop();
    EXPECT_FALSE(keys_.started());
    ASSERT_EQ(timeline.samples.size(), 61u);
    const CursorTimeline fromStart = timeline.shifted(CursorRecorder::timelineSeconds(takeStart));
    for (size_t i = 0; i < fromStart.samples.size(); ++i) {
        EXPECT_NEAR(fromStart.samples[i].time, 0.25 + static_cast<double>(i) * kFrame, 1e-6);
    }
    ASSERT_EQ(fromStart.keyPresses.size(), 1u);
    EXPECT_NEAR(fromStart.keyPresses[0], 0.254, 1e-6);
    tick(10);
    EXPECT_EQ(recorder->samples().size(), 61u);
    EXPECT_EQ(recorder->stop(), timeline);
}

// x and y are 0 at the recorded display's top-left corner and 1 at its
// bottom-right, whatever display the pointer is on.
TEST_F(CursorRecorderTest, NormalisesPositionsToTheRecordedDisplay) {
    struct Case {
        int32_t rootX, rootY;
        double x, y;
    };
    const Case cases[] = {
        {1920, 0, 0.0, 0.0},
        {1920 + 1280, 720, 0.5, 0.5},
        {4480, 1440, 1.0, 1.0},
        {960, 270, -0.375, 0.1875},  // on the display to the left
        {5000, 2000, 3080.0 / 2560, 2000.0 / 1440},
    };
    auto recorder = makeRecorder();
    pointer_.set(cases[0].rootX, cases[0].rootY);
    recorder->start();
    for (size_t i = 1; i < std::size(cases); ++i) {
        pointer_.set(cases[i].rootX, cases[i].rootY);
        tick();
    }
    const auto timeline = recorder->stop();
    ASSERT_EQ(timeline.samples.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_DOUBLE_EQ(timeline.samples[i].x, cases[i].x);
        EXPECT_DOUBLE_EQ(timeline.samples[i].y, cases[i].y);
    }
}

// A display that is gone is measured as the main display, and a display
// moved during the take is followed within a second.
TEST_F(CursorRecorderTest, FollowsTheDisplaysBounds) {
    auto recorder = makeRecorder(/*display=*/77);
    pointer_.set(1920 + 1280, 720);
    recorder->start();
    EXPECT_DOUBLE_EQ(recorder->samples().back().x, 0.5);
    // The primary moves to the left of the other.
    displays_.setDisplays({DisplayInfo{kLeft, 2560, 0, 1920, 1080, false, false},
                           DisplayInfo{kRecorded, 0, 0, 2560, 1440, true, false}});
    tick(CursorRecorder::kBoundsRefreshSamples);
    EXPECT_DOUBLE_EQ(recorder->samples().back().x, 3200.0 / 2560);
    // Without an answer the last bounds stay.
    displays_.setFailure("gone");
    tick(CursorRecorder::kBoundsRefreshSamples);
    EXPECT_DOUBLE_EQ(recorder->samples().back().x, 3200.0 / 2560);
}

TEST_F(CursorRecorderTest, ButtonAndOwnWindows) {
    auto recorder = makeRecorder();
    pointer_.set(2000, 100, /*leftButtonDown=*/true);
    recorder->start();
    EXPECT_TRUE(buttons_.started());
    pointer_.setOverOwnWindow(true);
    tick();
    pointer_.set(2000, 100, false);
    buttons_.change(main_.clock().now() + 5ms, false);
    tick();
    pointer_.setOverOwnWindow(false);
    tick();
    const auto timeline = recorder->stop();
    // The release has a sample of its own, at its time.
    ASSERT_EQ(timeline.samples.size(), 5u);
    EXPECT_TRUE(timeline.samples[0].pressed);
    EXPECT_FALSE(timeline.samples[0].overApp);
    EXPECT_TRUE(timeline.samples[1].overApp);
    EXPECT_FALSE(timeline.samples[2].pressed);
    EXPECT_DOUBLE_EQ(timeline.samples[2].time, timeline.samples[1].time + 0.005);
    EXPECT_FALSE(timeline.samples[3].pressed);
    EXPECT_TRUE(timeline.samples[3].overApp);
    EXPECT_FALSE(timeline.samples[4].overApp);
    EXPECT_EQ(timeline.pressOnsets().size(), 1u);
    EXPECT_FALSE(buttons_.started());
}

// A sampler held up (a busy machine, a long paint) still keeps every click
// the button's events told of, at its own time and where the pointer was
// when it was heard (between the samples around it when that is not
// known), over the app's windows as it was heard to be (else as the sample
// nearer that place was), though the pointer showed no press.
TEST_F(CursorRecorderTest, ClicksBetweenTwoSamplesAreKeptAtTheirTimesAndPlaces) {
    struct Change {
        int afterMs = 0;
        bool down = false;
        std::optional<RootPoint> at = std::nullopt;
        std::optional<bool> overApp = std::nullopt;
    };
    struct Onset {
        int ms;
        double x;
        bool overApp;
    };
    // The pointer goes from the display's left edge, over the app's window,
    // to its right edge during the hold-up.
    const RootPoint middle{1920 + 1280, 0};
    const struct {
        const char* name;
        std::vector<Change> changes;
        bool pressedAtTheNextSample;
        std::vector<Onset> onsets;
    } cases[] = {
        {"a click that came and went", {{5, true}, {200, false}}, false, {{5, 5 / 300.0, true}}},
        {"a press still held at the next sample", {{40, true}}, true, {{40, 40 / 300.0, true}}},
        {"two clicks",
         {{5, true}, {60, false}, {120, true}, {180, false}},
         false,
         {{5, 5 / 300.0, true}, {120, 120 / 300.0, true}}},
        {"a click heard only after the next sample", {{400, true}, {410, false}}, false, {{300, 1.0, false}}},
        {"a click where the pointer was heard, off the app",
         {{5, true, middle}, {20, false, middle}},
         false,
         {{5, 0.5, false}}},
        {"a click on the app's window, heard there",
         {{250, true, RootPoint{1920, 0}}, {260, false, RootPoint{1920, 0}}},
         false,
         {{250, 0.0, true}}},
        {"a click beside the app's window, heard off it",
         {{5, true, RootPoint{1920 + 256, 0}, false}, {20, false, RootPoint{1920 + 256, 0}, false}},
         false,
         {{5, 0.1, false}}},
        {"a click on the app's window, heard there, near a sample off it",
         {{250, true, RootPoint{1920 + 2304, 0}, true}, {260, false, RootPoint{1920 + 2304, 0}, true}},
         false,
         {{250, 0.9, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto recorder = makeRecorder();
        pointer_.set(1920, 0);
        pointer_.setOverOwnWindow(true);
        recorder->start();
        const TimePoint before = main_.clock().now();
        for (const Change& change : c.changes) {
            buttons_.change(before + std::chrono::milliseconds(change.afterMs), change.down, change.at,
                            change.overApp);
        }
        // Held up 0.3 s, then the pointer has moved across the display, off
        // the app's window.
        pointer_.set(1920 + 2560, 0, c.pressedAtTheNextSample);
        pointer_.setOverOwnWindow(false);
        main_.manualClock().advance(300ms);
        main_.runUntilIdle();
        const CursorTimeline timeline = recorder->stop();
        const std::vector<CursorSample> onsets = timeline.pressOnsets();
        ASSERT_EQ(onsets.size(), c.onsets.size());
        for (size_t i = 0; i < onsets.size(); ++i) {
            EXPECT_NEAR(onsets[i].time, seconds(before) + c.onsets[i].ms / 1000.0, 1e-6);
            EXPECT_NEAR(onsets[i].x, c.onsets[i].x, 1e-6);
            EXPECT_EQ(onsets[i].overApp, c.onsets[i].overApp);
        }
        EXPECT_EQ(timeline.samples.back().pressed, c.pressedAtTheNextSample);
        for (size_t i = 1; i < timeline.samples.size(); ++i) {
            EXPECT_GE(timeline.samples[i].time, timeline.samples[i - 1].time);
        }
    }
}

// Each click counts once: events heard after the pointer showed the press
// (a listener held up) tell it once, when they come; where the button
// cannot be heard at all, or no longer, the samples alone say it.
TEST_F(CursorRecorderTest, EachClickCountsOnceWhetherItsEventsComeLateOrNotAtAll) {
    const struct {
        const char* name;
        bool available;
        bool lostAfterStart;
    } cases[] = {
        {"events that come late", true, false},
        {"no button events here", false, false},
        {"button events lost during the take", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buttons_.setAvailable(c.available);
        auto recorder = makeRecorder();
        pointer_.set(2000, 100);
        recorder->start();
        if (c.lostAfterStart) buttons_.lose();
        const TimePoint pressed = main_.clock().now() + 5ms;
        pointer_.set(2000, 100, true);
        tick(3);
        const TimePoint released = main_.clock().now() + 5ms;
        pointer_.set(2000, 100, false);
        tick(3);
        buttons_.change(pressed, true);
        buttons_.change(released, false);
        tick(2);
        const CursorTimeline timeline = recorder->stop();
        EXPECT_EQ(timeline.pressOnsets().size(), 1u);
        EXPECT_FALSE(timeline.samples.back().pressed);
    }
}

// Each new key-down is kept at its own time; a key held (no new key-down)
// adds nothing; two key-downs within one interval count once; key-downs in
// consecutive intervals each count; a key-down seen more than 0.1 s late is
// dropped.
TEST_F(CursorRecorderTest, KeepsTheTimeOfEachNewKeyDown) {
    auto recorder = makeRecorder();
    recorder->start();
    const auto now = [&] { return main_.clock().now(); };
    std::vector<double> expected;

    keys_.press(now() + 5ms);
    expected.push_back(seconds(now() + 5ms));
    tick();
    tick(5);  // held: nothing new

    keys_.press(now() + 2ms);
    keys_.press(now() + 9ms);  // the same interval: only the later one is seen
    expected.push_back(seconds(now() + 9ms));
    tick();

    // Pressed again in the next interval, earlier within it than the one
    // before (so seen with a longer idle time): still a new key-down.
    keys_.press(now() + 1ms);
    expected.push_back(seconds(now() + 1ms));
    tick();
    // And once more, later within its interval.
    keys_.press(now() + 15ms);
    expected.push_back(seconds(now() + 15ms));
    tick();

    // The sampler was held up for 0.2 s.
    keys_.press(now() + 1ms);
    main_.manualClock().advance(200ms);
    tick();
    const auto timeline = recorder->stop();
    ASSERT_EQ(timeline.keyPresses.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_DOUBLE_EQ(timeline.keyPresses[i], expected[i]);
}

// Without a pointer answer no sample is made up; keys still count. Without
// key events the timeline simply has none.
TEST_F(CursorRecorderTest, SkipsSamplesItCannotTake) {
    auto recorder = makeRecorder();
    pointer_.setAvailable(false);
    recorder->start();
    keys_.press(main_.clock().now() + 1ms);
    tick(3);
    EXPECT_TRUE(recorder->samples().empty());
    EXPECT_EQ(recorder->keyPresses().size(), 1u);
    pointer_.setAvailable(true);
    tick();
    EXPECT_EQ(recorder->samples().size(), 1u);
    recorder->stop();

    keys_.setAvailable(false);
    auto other = makeRecorder();
    other->start();
    keys_.press(main_.clock().now() + 1ms);  // not listening: not seen
    tick(2);
    EXPECT_EQ(other->samples().size(), 3u);
    EXPECT_TRUE(other->keyPresses().empty());
}

// A recorder dropped while sampling takes its timer and its key and button
// listening with it.
TEST_F(CursorRecorderTest, DroppingARecorderStopsItsTimer) {
    auto recorder = makeRecorder();
    recorder->start();
    const int queries = pointer_.queryCount();
    recorder.reset();
    EXPECT_FALSE(keys_.started());
    EXPECT_FALSE(buttons_.started());
    tick(5);
    EXPECT_EQ(pointer_.queryCount(), queries);
}

}  // namespace
}  // namespace hollowkit
