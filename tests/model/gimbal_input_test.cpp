#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::CameraPosition;
using hollowkit::GimbalVelocity;
using hollowkit::ZoomRange;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A model over a USB-like camera (it can be positioned) or a wireless-like one.
struct GimbalHarness : ModelHarness {
    explicit GimbalHarness(bool usb, std::optional<ZoomRange> cameraRange = ZoomRange{100, 400}) {
        cameras.setPocketConnected(usb);
        FakeCamera::Options options;
        options.zoomRange = cameraRange;
        options.position = CameraPosition{0, 0, 100};
        cameras.setOptions(usb ? ConnectionMode::usb : ConnectionMode::wireless, options);
        createAndStart();
    }

    // The camera's commands after its start.
    std::vector<std::string> commands() const {
        std::vector<std::string> all = camera()->commands();
        if (!all.empty() && all.front() == "start") all.erase(all.begin());
        return all;
    }
    GimbalVelocity velocity() const { return camera()->gimbal().storedVelocity(); }
};

TEST(GimbalInputTest, SpeedsPositionsAndZoomFollowTheirRules) {
    struct Case {
        const char* name;
        std::optional<ZoomRange> cameraRange;
        std::function<void(GimbalHarness&)> act;
        GimbalVelocity velocity;
        std::vector<std::string> commands;
        std::optional<int> zoom;
    };
    // A vector, not the initializer list: the lambda outlives the list's array.
    const auto hold = [](std::vector<GimbalDirection> directions) {
        return [directions](GimbalHarness& h) {
            for (GimbalDirection direction : directions) h.model->holdDirection(direction);
            h.model->applyHeldDirections();
        };
    };
    const ZoomRange usual{100, 400};
    // Zoom 500 from a range up to 600, then the camera reports its range
    // narrowed to 100...400, and `then` runs.
    const auto aboveTheRange = [](std::function<void(CameraModel&)> then) {
        return [then](GimbalHarness& h) {
            h.model->zoomStep(16);
            h.camera()->setZoomRange(ZoomRange{100, 400});
            h.emit(CameraEvent::devicesChanged());
            then(*h.model);
        };
    };
    const std::vector<Case> cases{
        // Held directions.
        {"up and right", usual, hold({GimbalDirection::up, GimbalDirection::right}), {150, 150}, {}, {}},
        {"up, right and down", usual,
         hold({GimbalDirection::up, GimbalDirection::right, GimbalDirection::down}), {0, 150}, {}, {}},
        {"left and right cancel, down stays", usual,
         hold({GimbalDirection::left, GimbalDirection::right, GimbalDirection::down}), {-150, 0}, {}, {}},
        {"releasing the last stops", usual,
         [](GimbalHarness& h) {
             h.model->holdDirection(GimbalDirection::left);
             h.model->applyHeldDirections();
             h.model->releaseDirection(GimbalDirection::left);
             h.model->applyHeldDirections();
         },
         {0, 0}, {}, {}},
        // Joystick: pitch from y, yaw from x, truncated toward zero, then clamped.
        {"joystick (1, -2)", usual, [](GimbalHarness& h) { h.model->joystick(1.0, -2.0); }, {-550, 330}, {}, {}},
        {"joystick truncates toward zero", usual, [](GimbalHarness& h) { h.model->joystick(-0.0999, 0.0999); },
         {32, -32}, {}, {}},
        {"joystick beyond every int", usual, [](GimbalHarness& h) { h.model->joystick(-1e300, kInfinity); },
         {550, -550}, {}, {}},
        {"joystick not a number", usual, [](GimbalHarness& h) { h.model->joystick(kNaN, 0.5); }, {165, 0}, {}, {}},
        // Drag without a start position: a speed against the drag.
        {"speed drag", usual, [](GimbalHarness& h) { h.model->dragGimbal(10, 20, 700); }, {-40, -20}, {}, {}},
        {"speed drag clamps", usual, [](GimbalHarness& h) { h.model->dragGimbal(-1000, 400.7, 700); },
         {-550, 550}, {}, {}},
        // Drag from a start position: an exact aim, 70 degrees across the preview at 1.0x.
        {"exact drag at zoom 200", usual,
         [](GimbalHarness& h) {
             h.model->zoomStep(4);
             h.model->startDrag(CameraPosition{10, 5, 200});
             h.model->dragGimbal(100, 0, 700);
         },
         {0, 0}, {"setZoom 200", "move 5.00 5.00"}, 200},
        {"exact drag with no zoom set", usual,
         [](GimbalHarness& h) {
             h.model->startDrag(CameraPosition{0, 0, std::nullopt});
             h.model->dragGimbal(100, 50, 700);
         },
         {0, 0}, {"move -10.00 -5.00"}, {}},
        {"exact drags at most 15 a second, each from the start", usual,
         [](GimbalHarness& h) {
             h.model->startDrag(CameraPosition{0, 0, std::nullopt});
             h.model->dragGimbal(100, 0, 700);
             h.main.advanceSeconds(0.05);
             h.model->dragGimbal(200, 0, 700);  // dropped
             h.main.advanceSeconds(0.02);
             h.model->dragGimbal(300, 0, 700);
         },
         {0, 0}, {"move -10.00 0.00", "move -30.00 0.00"}, {}},
        {"exact drag over no width", usual,
         [](GimbalHarness& h) {
             h.model->startDrag(CameraPosition{0, 0, std::nullopt});
             h.model->dragGimbal(100, 0, 0);
             h.model->dragGimbal(100, 0, -700);
             h.model->dragGimbal(100, 0, kNaN);
         },
         {0, 0}, {}, {}},
        // Zoom steps of 25 within the range; the camera is told even at a bound.
        {"zoom 390 steps in twice", ZoomRange{90, 400},
         [](GimbalHarness& h) {
             h.model->zoomStep(12);
             h.model->zoomStep(1);
             h.model->zoomStep(1);
         },
         {0, 0}, {"setZoom 390", "setZoom 400", "setZoom 400"}, 400},
        {"first step in from no zoom", usual, [](GimbalHarness& h) { h.model->zoomStep(1); }, {0, 0},
         {"setZoom 125"}, 125},
        {"first step out from no zoom", usual, [](GimbalHarness& h) { h.model->zoomStep(-1); }, {0, 0},
         {"setZoom 100"}, 100},
        {"many steps stay in the range", usual,
         [](GimbalHarness& h) {
             h.model->zoomStep(std::numeric_limits<int>::max());
             h.model->zoomStep(std::numeric_limits<int>::min());
         },
         {0, 0}, {"setZoom 400", "setZoom 100"}, 100},
        {"the published range before the camera's", usual,
         [](GimbalHarness& h) {
             h.emit(CameraEvent::devicesChanged());  // publishes 100...400
             h.camera()->setZoomRange(ZoomRange{100, 200});
             h.model->zoomStep(8);
         },
         {0, 0}, {"setZoom 300"}, 300},
        {"the camera's range when none is published", ZoomRange{100, 200},
         [](GimbalHarness& h) { h.model->zoomStep(8); }, {0, 0}, {"setZoom 200"}, 200},
        {"no range, no zoom", std::nullopt, [](GimbalHarness& h) { h.model->zoomStep(1); }, {0, 0}, {}, {}},
        // n steps are one move of 25 x n, then brought into the range: a zoom
        // left outside by a narrower range does not first come to its bound.
        {"two steps out from above the range", ZoomRange{100, 600},
         aboveTheRange([](CameraModel& m) { m.zoomStep(-2); }), {0, 0}, {"setZoom 500", "setZoom 400"}, 400},
        {"no step from above the range", ZoomRange{100, 600}, aboveTheRange([](CameraModel& m) { m.zoomStep(0); }),
         {0, 0}, {"setZoom 500", "setZoom 400"}, 400},
        {"three steps in from below the range", usual,
         [](GimbalHarness& h) {
             h.model->zoomStep(1);
             h.camera()->setZoomRange(ZoomRange{200, 400});
             h.emit(CameraEvent::devicesChanged());
             h.model->zoomStep(3);
         },
         {0, 0}, {"setZoom 125", "setZoom 200"}, 200},
        // Scroll: one step per 4.0 gathered, the rest kept.
        {"scroll 3, 3, -1 leaves 1", usual,
         [](GimbalHarness& h) {
             h.model->scrollZoom(3);
             h.model->scrollZoom(3);   // 6: one step, 2 left
             h.model->scrollZoom(-1);  // 1 left
             h.model->scrollZoom(2.5);
             h.model->scrollZoom(0.5);  // 4.0: one step
         },
         {0, 0}, {"setZoom 125", "setZoom 150"}, 150},
        {"scroll out by two steps at once", usual,
         [](GimbalHarness& h) {
             h.model->zoomStep(4);
             h.model->scrollZoom(-9);  // two steps, -1 left
             h.model->scrollZoom(-3);  // one more
         },
         {0, 0}, {"setZoom 200", "setZoom 150", "setZoom 125"}, 125},
        {"scroll from above the range steps to the bound, then on", ZoomRange{100, 600},
         aboveTheRange([](CameraModel& m) { m.scrollZoom(-8); }), {0, 0}, {"setZoom 500", "setZoom 375"}, 375},
        {"scroll without a range is still used up", std::nullopt,
         [](GimbalHarness& h) {
             h.model->scrollZoom(5);  // one step lost, 1 left
             h.camera()->setZoomRange(ZoomRange{100, 400});
             h.emit(CameraEvent::devicesChanged());
             h.model->scrollZoom(3);
         },
         {0, 0}, {"setZoom 125"}, 125},
        {"a huge scroll is one zoom", usual,
         [](GimbalHarness& h) {
             h.model->scrollZoom(1e12);
             h.model->scrollZoom(-1e300);
             h.model->scrollZoom(-3.5);
         },
         {0, 0}, {"setZoom 400", "setZoom 100"}, 100},
        {"scroll that is not a number is ignored", usual,
         [](GimbalHarness& h) {
             h.model->scrollZoom(2);
             h.model->scrollZoom(kNaN);
             h.model->scrollZoom(kInfinity);
             h.model->scrollZoom(2);
         },
         {0, 0}, {"setZoom 125"}, 125},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GimbalHarness h(true, c.cameraRange);
        c.act(h);
        EXPECT_EQ(h.velocity(), c.velocity) << h.velocity().pitch << " " << h.velocity().yaw;
        EXPECT_EQ(h.commands(), c.commands);
        EXPECT_EQ(h.state().zoom, c.zoom);
    }
}

// The label reads only the published range; a step or a scroll that uses a
// range only the camera knew publishes it first, so whoever is told of the
// new zoom finds the label agreeing with it.
TEST(GimbalInputTest, TheZoomLabelAgreesWithWhatTheZoomButtonsDo) {
    struct Case {
        const char* name;
        std::optional<ZoomRange> cameraRange;
        bool published;  // the camera's devices were read, publishing its range
        std::function<void(CameraModel&)> act;
        const char* label;
        std::optional<ZoomRange> publishedRange;
        std::vector<std::string> commands;
        std::vector<Field> assigned;  // zoomRange and zoom, in order, after the start
    };
    const auto nothing = [](CameraModel&) {};
    const ZoomRange usual{100, 400};
    const std::vector<Case> cases{
        {"published range, no zoom yet", usual, true, nothing, "1.0x", usual, {}, {}},
        {"a range only the camera knows", usual, false, nothing, "-", std::nullopt, {}, {}},
        {"a step within it", usual, false, [](CameraModel& m) { m.zoomStep(4); }, "2.0x", usual,
         {"setZoom 200"}, {Field::zoomRange, Field::zoom}},
        {"a step out from it", usual, false, [](CameraModel& m) { m.zoomStep(-1); }, "1.0x", usual,
         {"setZoom 100"}, {Field::zoomRange, Field::zoom}},
        {"a scroll within it", usual, false, [](CameraModel& m) { m.scrollZoom(8); }, "1.5x", usual,
         {"setZoom 150"}, {Field::zoomRange, Field::zoom}},
        {"a scroll short of a step", usual, false, [](CameraModel& m) { m.scrollZoom(3); }, "-", std::nullopt, {},
         {}},
        {"two steps publish it once", usual, false,
         [](CameraModel& m) {
             m.zoomStep(1);
             m.scrollZoom(4);
         },
         "1.5x", usual, {"setZoom 125", "setZoom 150"}, {Field::zoomRange, Field::zoom, Field::zoom}},
        {"a published range", usual, true, [](CameraModel& m) { m.zoomStep(40); }, "4.0x", usual,
         {"setZoom 400"}, {Field::zoom}},
        {"no range anywhere", std::nullopt, false,
         [](CameraModel& m) {
             m.zoomStep(1);
             m.scrollZoom(-8);
         },
         "-", std::nullopt, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GimbalHarness h(true, c.cameraRange);
        if (c.published) h.emit(CameraEvent::devicesChanged());
        StateRecorder recorder(h.model);
        std::vector<std::string> labelsAtZoom;
        const auto observer = h.model->addObserver([&](Field field) {
            if (field == Field::zoom) labelsAtZoom.push_back(h.model->zoomLabel());
        });
        c.act(*h.model);
        h.model->removeObserver(observer);
        EXPECT_EQ(h.model->zoomLabel(), c.label);
        EXPECT_EQ(h.state().zoomRange, c.publishedRange);
        EXPECT_EQ(h.commands(), c.commands);
        std::vector<Field> assigned;
        for (Field field : recorder.fields()) {
            if (field == Field::zoomRange || field == Field::zoom) assigned.push_back(field);
        }
        EXPECT_EQ(assigned, c.assigned);
        if (!labelsAtZoom.empty()) {
            EXPECT_NE(labelsAtZoom.front(), "-") << "the label was told of the zoom before its range";
        }
    }
}

TEST(GimbalInputTest, TheFlipHoldsTheFollowerForThreeSecondsOnlyWhileTracking) {
    struct Case {
        const char* name;
        bool trackingAtFlip;
        bool paused;
    };
    const std::vector<Case> cases{
        {"tracking", true, true},
        {"not tracking", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GimbalHarness h(true);
        h.emit(CameraEvent::stats(picture(1920, 1080)));
        if (c.trackingAtFlip) h.model->startFaceTracking();
        h.main.advanceSeconds(0.5);
        h.model->flipGimbal();
        // Tracking started after the flip shows whether the flip left a pause behind.
        if (!c.trackingAtFlip) h.model->startFaceTracking();
        ASSERT_TRUE(h.state().faceTracking);
        const std::vector<std::string> atFlip = h.camera()->commands();
        EXPECT_EQ(std::ranges::count(atFlip, std::string("flipGimbal")), 1);
        const auto reads = [&h] { return std::ranges::count(h.camera()->commands(), std::string("currentPosition")); };
        const auto readsAtFlip = reads();
        h.main.advanceSeconds(2.9);
        EXPECT_EQ(reads() == readsAtFlip, c.paused);
        h.main.advanceSeconds(0.2);
        EXPECT_GT(reads(), readsAtFlip) << "following again after 3 s";
    }
}

}  // namespace
}  // namespace lumenhollow::test
