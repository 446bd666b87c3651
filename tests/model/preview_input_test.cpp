#include "lumenhollow/model/preview_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "model_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::CameraPosition;
using hollowkit::GimbalVelocity;

PreviewKeyEvent arrow(PreviewKey key, bool autoRepeat = false) {
    return PreviewKeyEvent{key, "", false, autoRepeat};
}

PreviewKeyEvent typed(std::string text, bool alt = false, bool autoRepeat = false) {
    return PreviewKeyEvent{PreviewKey::none, std::move(text), alt, autoRepeat};
}

// A model over a USB-like camera at a known position, or a wireless-like
// one, with a PreviewInput whose hooks are recorded.
struct InputHarness : ModelHarness {
    std::vector<int> recalled;
    int escapes = 0;
    std::optional<PreviewInput> input;

    explicit InputHarness(bool usb, std::optional<CameraPosition> position = CameraPosition{20, -4, 100}) {
        cameras.setPocketConnected(usb);
        FakeCamera::Options options;
        options.zoomRange = hollowkit::ZoomRange{100, 400};
        options.position = position;
        cameras.setOptions(usb ? ConnectionMode::usb : ConnectionMode::wireless, options);
        createAndStart();
        input.emplace(model, PreviewInput::Hooks{[this](int index) { recalled.push_back(index); },
                                                 [this] { ++escapes; }});
    }

    GimbalVelocity velocity() const { return camera()->gimbal().storedVelocity(); }
    std::vector<std::string> commands() const {
        std::vector<std::string> all = camera()->commands();
        std::erase(all, "start");
        return all;
    }
    size_t positionReads() const { return std::ranges::count(camera()->commands(), std::string("currentPosition")); }
};

TEST(PreviewInputTest, AHeldArrowIsOnePressAndOneReleaseWhateverRepeatsCome) {
    InputHarness h(true);
    ASSERT_TRUE(h.input->keyPressed(arrow(PreviewKey::up)));
    const std::optional<hollowkit::TimePoint> started = h.camera()->gimbal().moveStarted();
    ASSERT_TRUE(started);
    // The system repeats the key as release and press pairs while it is held.
    for (int i = 0; i < 5; ++i) {
        h.main.advanceSeconds(0.1);
        EXPECT_TRUE(h.input->keyReleased(arrow(PreviewKey::up, true)));
        EXPECT_TRUE(h.input->keyPressed(arrow(PreviewKey::up, true)));
        EXPECT_EQ(h.velocity(), (GimbalVelocity{150, 0}));
    }
    // The motion still began at the real press, so the mailbox's hold limit counts from there.
    EXPECT_EQ(h.camera()->gimbal().moveStarted(), started);
    EXPECT_TRUE(h.input->keyReleased(arrow(PreviewKey::up)));
    EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
}

TEST(PreviewInputTest, ArrowsAndPadButtonsShareTheHeldDirections) {
    InputHarness h(true);
    h.input->keyPressed(arrow(PreviewKey::right));
    h.input->directionButton(GimbalDirection::up, true);
    EXPECT_EQ(h.velocity(), (GimbalVelocity{150, 150}));
    h.input->keyReleased(arrow(PreviewKey::right));
    EXPECT_EQ(h.velocity(), (GimbalVelocity{150, 0})) << "the button keeps moving";
    h.input->directionButton(GimbalDirection::up, false);
    EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
    EXPECT_TRUE(h.model->heldDirections().empty());
}

TEST(PreviewInputTest, LosingTheKeyboardStopsHeldArrows) {
    InputHarness h(true);
    h.input->keyPressed(arrow(PreviewKey::up));
    h.input->keyPressed(arrow(PreviewKey::left));
    EXPECT_EQ(h.velocity(), (GimbalVelocity{150, -150}));
    h.input->focusLost();
    EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
    EXPECT_TRUE(h.model->heldDirections().empty());
    // The releases go to another view; a stray one later changes nothing.
    h.input->keyReleased(arrow(PreviewKey::up));
    EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
}

TEST(PreviewInputTest, KeysByCharacterAndModifier) {
    struct Case {
        const char* name;
        std::vector<PreviewKeyEvent> presses;
        bool consumed;  // of the last press
        std::vector<int> recalled;
        int escapes;
        bool recentre;
        std::vector<std::string> commands;
    };
    const std::vector<Case> cases{
        {"Alt+1 is the first scene", {typed("1", true)}, true, {0}, 0, false, {}},
        {"Alt+9 is the ninth", {typed("9", true)}, true, {8}, 0, false, {}},
        {"Alt+0 falls through", {typed("0", true)}, false, {}, 0, false, {}},
        {"Alt with a signed digit", {typed("+3", true)}, true, {2}, 0, false, {}},
        {"Alt with a letter falls through", {typed("x", true)}, false, {}, 0, false, {}},
        {"Alt+C recentres", {typed("c", true)}, true, {}, 0, true, {}},
        {"a digit without Alt is not the preview's", {typed("1")}, false, {}, 0, false, {}},
        {"c recentres", {typed("c")}, true, {}, 0, true, {}},
        {"C with Shift recentres", {typed("C")}, true, {}, 0, true, {}},
        {"a repeated c does not", {typed("c", false, true)}, true, {}, 0, false, {}},
        {"+ zooms in", {typed("+")}, true, {}, 0, false, {"setZoom 125"}},
        {"= zooms in without Shift", {typed("=")}, true, {}, 0, false, {"setZoom 125"}},
        {"- zooms out", {typed("=", false), typed("=", false, true), typed("-", false, true)}, true, {}, 0, false,
         {"setZoom 125", "setZoom 150", "setZoom 125"}},
        {"Alt++ zooms", {typed("+", true)}, true, {}, 0, false, {"setZoom 125"}},
        {"Escape, repeats included", {arrow(PreviewKey::escape), arrow(PreviewKey::escape, true)}, true, {}, 2,
         false, {}},
        {"an arrow with Alt is still an arrow", {PreviewKeyEvent{PreviewKey::down, "1", true, false}}, true, {}, 0,
         false, {}},
        {"anything else is passed on", {typed("x"), typed("")}, false, {}, 0, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputHarness h(true);
        bool consumed = false;
        for (const PreviewKeyEvent& press : c.presses) consumed = h.input->keyPressed(press);
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(h.recalled, c.recalled);
        EXPECT_EQ(h.escapes, c.escapes);
        EXPECT_EQ(h.camera()->gimbal().takeRecenterRequest(), c.recentre);
        EXPECT_EQ(h.commands(), c.commands);
    }
}

TEST(PreviewInputTest, OnlyArrowReleasesAreThePreviews) {
    InputHarness h(true);
    EXPECT_TRUE(h.input->keyReleased(arrow(PreviewKey::left)));
    EXPECT_FALSE(h.input->keyReleased(typed("c")));
    EXPECT_FALSE(h.input->keyReleased(arrow(PreviewKey::escape)));
}

TEST(PreviewInputTest, DragsAimFromTheStartOrSetSpeeds) {
    struct Case {
        const char* name;
        bool usb;
        std::optional<CameraPosition> position;
        std::vector<std::string> commands;
        GimbalVelocity whileDragging;
        GimbalVelocity afterRelease;
    };
    // Held up arrow: an exact drag's end must not stop it, a speed drag's end does.
    const std::vector<Case> cases{
        {"exact over USB", true, CameraPosition{20, -4, 100},
         {"currentPosition", "move 19.00 -5.00"}, {150, 0}, {150, 0}},
        {"speed over Wi-Fi", false, CameraPosition{20, -4, 100}, {}, {-20, -20}, GimbalVelocity::zero},
        {"speed when the position cannot be read", true, std::nullopt, {"currentPosition"}, {-20, -20},
         GimbalVelocity::zero},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputHarness h(c.usb, c.position);
        h.input->keyPressed(arrow(PreviewKey::up));
        h.input->mousePressed({300, 200});
        EXPECT_TRUE(h.input->isDragging());
        EXPECT_EQ(h.model->dragStart().has_value(), c.usb && c.position.has_value());
        // 10 points right and 10 up on a 700-point preview: 1 degree at 1.0x.
        h.input->mouseDragged({310, 190}, 700);
        EXPECT_EQ(h.velocity(), c.whileDragging);
        h.input->mouseReleased();
        EXPECT_EQ(h.velocity(), c.afterRelease);
        EXPECT_EQ(h.model->dragStart(), std::nullopt);
        EXPECT_FALSE(h.input->isDragging());
        EXPECT_EQ(h.commands(), c.commands);
    }
}

TEST(PreviewInputTest, AnExactDragEndsWhereThePointerEnded) {
    struct Move {
        double afterSeconds;
        double x;
    };
    struct Case {
        const char* name;
        std::vector<Move> moves;
        std::vector<std::string> commands;
    };
    // From (300, 200) on a 700-point preview: 10 points right is 1 degree of pan.
    const std::vector<Case> cases{
        {"the moves the interval held back end at the last", {{0, 310}, {0.03, 320}, {0, 330}},
         {"currentPosition", "move 19.00 -4.00", "move 17.00 -4.00"}},
        {"the last move was sent", {{0, 310}}, {"currentPosition", "move 19.00 -4.00"}},
        {"a held back move overtaken by a sent one", {{0, 310}, {0.03, 320}, {0.05, 330}},
         {"currentPosition", "move 19.00 -4.00", "move 17.00 -4.00"}},
        {"after a pause the pointer's place was sent", {{0, 310}, {0.03, 320}, {0.05, 320}},
         {"currentPosition", "move 19.00 -4.00", "move 18.00 -4.00"}},
        {"a press without a move", {}, {"currentPosition"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputHarness h(true);
        h.input->mousePressed({300, 200});
        for (const Move& move : c.moves) {
            h.main.advanceSeconds(move.afterSeconds);
            h.input->mouseDragged({move.x, 200}, 700);
        }
        h.input->mouseReleased();
        h.input->mouseReleased();
        EXPECT_EQ(h.commands(), c.commands);
    }
}

TEST(PreviewInputTest, ADragThatBeganElsewhereIsIgnored) {
    InputHarness h(false);
    h.input->keyPressed(arrow(PreviewKey::right));
    h.input->mouseDragged({10, 10}, 700);
    h.input->mouseReleased();
    EXPECT_EQ(h.velocity(), (GimbalVelocity{0, 150}));
    EXPECT_TRUE(h.commands().empty());
}

TEST(PreviewInputTest, PreciseScrollCountsASixth) {
    struct Case {
        const char* name;
        std::vector<PreviewWheelEvent> events;
        std::vector<std::string> commands;
    };
    const std::vector<Case> cases{
        {"four notches", {{1, false}, {1, false}, {1, false}, {1, false}}, {"setZoom 125"}},
        {"24 precise points", {{12, true}, {12, true}}, {"setZoom 125"}},
        {"23 precise points are not yet a step", {{23, true}}, {}},
        {"precise and notched together", {{18, true}, {1, false}}, {"setZoom 125"}},
        {"back out", {{8, false}, {-30, true}}, {"setZoom 150", "setZoom 125"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputHarness h(true);
        for (const PreviewWheelEvent& event : c.events) h.input->wheel(event);
        EXPECT_EQ(h.commands(), c.commands);
    }
}

TEST(PreviewInputTest, TheKnobSetsASpeedAndLettingGoStopsIt) {
    InputHarness h(false);
    h.input->knobMoved(0.5, -0.25);
    EXPECT_EQ(h.velocity(), (GimbalVelocity{-82, 165}));
    h.input->knobReleased();
    EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
}

TEST(PreviewInputTest, ManualInputHoldsTheFollowerForOneAndAHalfSecondsWhileTracking) {
    struct Case {
        const char* name;
        std::function<void(PreviewInput&)> input;
    };
    const std::vector<Case> cases{
        {"arrow key", [](PreviewInput& in) { in.keyPressed(arrow(PreviewKey::left)); }},
        {"pad button", [](PreviewInput& in) { in.directionButton(GimbalDirection::down, true); }},
        {"knob", [](PreviewInput& in) { in.knobMoved(0.3, 0.3); }},
        {"drag", [](PreviewInput& in) {
             in.mousePressed({0, 0});
             in.mouseDragged({40, 0}, 700);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputHarness h(true);
        h.emit(CameraEvent::stats(picture(1920, 1080)));
        h.model->startFaceTracking();
        ASSERT_TRUE(h.state().faceTracking);
        h.main.advanceSeconds(0.5);
        ASSERT_GT(h.positionReads(), 0u) << "the follower reads the position every tick";

        c.input(*h.input);
        const size_t readsAtInput = h.positionReads();
        h.main.advanceSeconds(1.45);
        EXPECT_EQ(h.positionReads(), readsAtInput) << "paused";
        h.main.advanceSeconds(0.1);
        EXPECT_GT(h.positionReads(), readsAtInput) << "reading again after 1.5 s";
    }
}

TEST(PreviewInputTest, ARepeatedArrowDoesNotProlongThePause) {
    InputHarness h(true);
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.model->startFaceTracking();
    h.input->keyPressed(arrow(PreviewKey::left));
    const size_t readsAtPress = h.positionReads();
    h.main.advanceSeconds(1.0);
    h.input->keyPressed(arrow(PreviewKey::left, true));
    h.main.advanceSeconds(0.6);
    EXPECT_GT(h.positionReads(), readsAtPress);
}

TEST(PreviewInputTest, AfterTheModelIsGoneInputDoesNothingButKeysAreStillThePreviews) {
    InputHarness h(true);
    const std::shared_ptr<FakeCamera> camera = h.camera();
    h.model.reset();
    EXPECT_TRUE(h.input->keyPressed(arrow(PreviewKey::up)));
    EXPECT_TRUE(h.input->keyPressed(typed("+")));
    EXPECT_TRUE(h.input->keyPressed(typed("c")));
    EXPECT_TRUE(h.input->keyPressed(typed("2", true)));
    EXPECT_EQ(h.recalled, std::vector<int>{1}) << "the hooks are the owner's";
    h.input->focusLost();
    h.input->mousePressed({1, 1});
    h.input->mouseDragged({50, 50}, 700);
    h.input->mouseReleased();
    h.input->wheel({100, false});
    h.input->knobMoved(1, 1);
    h.input->directionButton(GimbalDirection::up, true);
    EXPECT_EQ(camera->gimbal().storedVelocity(), GimbalVelocity::zero);
    EXPECT_FALSE(camera->gimbal().takeRecenterRequest());
}

}  // namespace
}  // namespace lumenhollow::test
