#include "lumenhollow/ui/window/joystick_pad.h"

#include <QMenu>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <vector>

#include "control_harness.h"
#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/ui/kit/motion.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::GimbalVelocity;

// Animations as a test needs them, restored afterwards.
class PadAnimations {
public:
    explicit PadAnimations(bool on) : was_(ui::animationsEnabled()) { ui::setAnimationsEnabled(on); }
    ~PadAnimations() { ui::setAnimationsEnabled(was_); }

private:
    bool was_;
};

struct PadHarness : ControlHarness {
    JoystickPad* pad = nullptr;
    // The arrow keys, as the window's preview feeds them.
    PreviewInput keys{model};

    PadHarness() {
        pad = new JoystickPad(*modelSignals, host.get());
        pad->move(300, 100);
        showHost();
    }

    QPoint centre() const { return pad->rect().center() + QPoint(1, 1); }
    QPoint arrow(GimbalDirection direction) const { return pad->arrowCentre(direction).toPoint(); }
    void press(QPoint at) { QTest::mousePress(pad, Qt::LeftButton, {}, at); }
    void moveTo(QPoint at) { QTest::mouseMove(pad, at); }
    void release(QPoint at) { QTest::mouseRelease(pad, Qt::LeftButton, {}, at); }
    void holdKey(PreviewKey key) { keys.keyPressed(PreviewKeyEvent{key, "", false, false}); }
};

TEST(JoystickPadTest, TheKnobsDragSetsTheSpeedByItsDeflectionAndItsReleaseStops) {
    struct Case {
        const char* name;
        std::vector<QPoint> moves;  // from the centre
        GimbalVelocity whileDragging;
        PadPoint offset;
    };
    const std::vector<Case> cases{
        {"58 up", {{0, -58}}, {330, 0}, {0, -29}},
        {"10 right", {{10, 0}}, {0, 113}, {10, 0}},
        {"far along the up-right diagonal", {{100, -100}}, {233, 233}, {20.506, -20.506}},
        {"under 10 starts nothing", {{3, -3}, {6, -7}}, {0, 0}, {0, 0}},
        {"back under 10 once begun keeps dragging", {{0, -20}, {0, -5}}, {56, 0}, {0, -5}},
    };
    PadAnimations animations(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PadHarness h;
        h.press(h.centre());
        for (const QPoint& move : c.moves) h.moveTo(h.centre() + move);
        EXPECT_EQ(h.velocity(), c.whileDragging) << h.velocity().pitch << " " << h.velocity().yaw;
        EXPECT_NEAR(h.pad->knobOffset().x, c.offset.x, 0.01);
        EXPECT_NEAR(h.pad->knobOffset().y, c.offset.y, 0.01);
        if (c.whileDragging.isZero()) {
            EXPECT_FALSE(h.camera()->gimbal().moveStarted()) << "nothing was sent";
        }
        h.release(h.centre() + c.moves.back());
        EXPECT_TRUE(h.velocity().isZero());
        EXPECT_EQ(h.pad->knobOffset(), (PadPoint{0, 0})) << "back at once without animations";
    }
}

TEST(JoystickPadTest, TheReleaseStopsAtOnceWhileTheKnobSpringsBack) {
    PadAnimations animations(true);
    PadHarness h;
    h.press(h.centre());
    h.moveTo(h.centre() + QPoint(0, -58));
    h.release(h.centre() + QPoint(0, -58));
    EXPECT_TRUE(h.velocity().isZero());
    EXPECT_FALSE(h.pad->isKnobDragging());
    EXPECT_EQ(h.pad->knobOffset(), (PadPoint{0, -29})) << "the spring has only begun";
    // A new drag takes the knob from the spring, wherever on its way back it is.
    h.press(h.centre() + QPoint(0, -22));
    h.moveTo(h.centre() + QPoint(20, -22));
    EXPECT_EQ(h.pad->knobOffset(), (PadPoint{20, 0}));
    EXPECT_EQ(h.velocity(), (GimbalVelocity{0, 227}));
    h.release(h.centre() + QPoint(20, -22));
}

TEST(JoystickPadTest, ArrowsShareTheHeldDirectionsWithTheKeysAndHoldWhereverThePointerGoes) {
    struct Case {
        const char* name;
        std::vector<PreviewKey> keys;
        GimbalDirection arrow;
        std::optional<QPoint> slideTo;  // in the pad, possibly far outside it
        GimbalVelocity whileHeld;
        GimbalVelocity afterRelease;
        std::set<GimbalDirection> heldAfter;
    };
    const std::vector<Case> cases{
        {"up", {}, GimbalDirection::up, std::nullopt, {150, 0}, {0, 0}, {}},
        {"up with the right key", {PreviewKey::right}, GimbalDirection::up, std::nullopt, {150, 150}, {0, 150},
         {GimbalDirection::right}},
        {"up with the up key: one release ends both", {PreviewKey::up}, GimbalDirection::up, std::nullopt, {150, 0},
         {0, 0}, {}},
        {"up against the down key", {PreviewKey::down}, GimbalDirection::up, std::nullopt, {0, 0}, {-150, 0},
         {GimbalDirection::down}},
        {"left slid off the pad", {}, GimbalDirection::left, QPoint(-200, 150), {0, -150}, {0, 0}, {}},
        {"down slid onto the knob", {}, GimbalDirection::down, QPoint(48, 48), {-150, 0}, {0, 0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PadHarness h;
        for (PreviewKey key : c.keys) h.holdKey(key);
        h.press(h.arrow(c.arrow));
        ASSERT_EQ(h.pad->heldArrow(), c.arrow);
        QPoint last = h.arrow(c.arrow);
        if (c.slideTo) {
            last = *c.slideTo;
            h.moveTo(last);
        }
        EXPECT_EQ(h.velocity(), c.whileHeld) << h.velocity().pitch << " " << h.velocity().yaw;
        EXPECT_EQ(h.pad->knobOffset(), (PadPoint{0, 0})) << "the knob stays put";
        h.release(last);
        EXPECT_EQ(h.velocity(), c.afterRelease) << h.velocity().pitch << " " << h.velocity().yaw;
        EXPECT_EQ(h.model->heldDirections(), c.heldAfter);
        EXPECT_FALSE(h.pad->heldArrow());
    }
}

TEST(JoystickPadTest, LettingGoOfTheKnobStopsEvenWithAnArrowKeyHeld) {
    PadAnimations animations(false);
    PadHarness h;
    h.holdKey(PreviewKey::up);
    ASSERT_EQ(h.velocity(), (GimbalVelocity{150, 0}));
    h.press(h.centre());
    h.moveTo(h.centre() + QPoint(10, 0));
    EXPECT_EQ(h.velocity(), (GimbalVelocity{0, 113})) << "the knob's speed replaces the key's";
    h.release(h.centre() + QPoint(10, 0));
    EXPECT_TRUE(h.velocity().isZero());
    EXPECT_EQ(h.model->heldDirections(), std::set<GimbalDirection>{GimbalDirection::up}) << "the key is still down";
}

TEST(JoystickPadTest, WhileTrackingPressesAndMovesHoldTheFollowerButReleasesDoNot) {
    struct Case {
        const char* name;
        std::function<void(PadHarness&)> lead;  // well before
        std::function<void(PadHarness&)> act;
        bool paused;
    };
    const auto nothing = [](PadHarness&) {};
    const auto pressUp = [](PadHarness& h) { h.press(h.arrow(GimbalDirection::up)); };
    const auto dragKnob = [](PadHarness& h) {
        h.press(h.centre());
        h.moveTo(h.centre() + QPoint(20, 0));
    };
    const std::vector<Case> cases{
        {"an arrow's press", nothing, pressUp, true},
        {"an arrow's move", pressUp, [](PadHarness& h) { h.moveTo(h.arrow(GimbalDirection::up) + QPoint(30, 0)); },
         true},
        {"the knob's move", dragKnob, [](PadHarness& h) { h.moveTo(h.centre() + QPoint(25, 0)); }, true},
        {"an arrow's release", pressUp, [](PadHarness& h) { h.release(h.arrow(GimbalDirection::up)); }, false},
        {"the knob's release", dragKnob, [](PadHarness& h) { h.release(h.centre() + QPoint(20, 0)); }, false},
        {"a press on the knob alone", nothing, [](PadHarness& h) { h.press(h.centre()); }, false},
    };
    PadAnimations animations(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PadHarness h;
        h.emit(CameraEvent::stats(picture(1920, 1080)));
        h.model->startFaceTracking();
        ASSERT_TRUE(h.state().faceTracking);
        c.lead(h);
        h.main.advanceSeconds(1.6);  // any pause from the lead is over
        c.act(h);
        const size_t readsAtAct = h.positionReads();
        h.main.advanceSeconds(1.45);
        EXPECT_EQ(h.positionReads() == readsAtAct, c.paused);
        h.main.advanceSeconds(0.1);
        EXPECT_GT(h.positionReads(), readsAtAct) << "following again after 1.5 s";
        QTest::mouseRelease(h.pad, Qt::LeftButton, {}, h.centre());
    }
}

TEST(JoystickPadTest, AGestureCutOffBeforeItsReleaseEndsAsIfReleased) {
    struct Interruption {
        const char* name;
        std::function<void(PadHarness&, std::vector<std::unique_ptr<QWidget>>& windows)> cut;
    };
    const std::vector<Interruption> interruptions{
        {"the pad hidden", [](PadHarness& h, auto&) { h.pad->hide(); }},
        {"the pad disabled", [](PadHarness& h, auto&) { h.pad->setEnabled(false); }},
        {"a menu opening",
         [](PadHarness& h, auto& windows) {
             auto menu = std::make_unique<QMenu>(h.host.get());
             menu->addAction(QStringLiteral("Grid"));
             menu->popup(h.host->mapToGlobal(QPoint(10, 10)));
             windows.push_back(std::move(menu));
         }},
        {"another window taking the focus",
         [](PadHarness&, auto& windows) {
             auto other = std::make_unique<QWidget>();
             other->resize(100, 100);
             other->show();
             other->activateWindow();
             EXPECT_TRUE(QTest::qWaitForWindowActive(other.get(), 5000));
             windows.push_back(std::move(other));
         }},
    };
    struct Gesture {
        const char* name;
        std::function<void(PadHarness&)> begin;
        GimbalVelocity running;
    };
    const std::vector<Gesture> gestures{
        {"knob",
         [](PadHarness& h) {
             h.press(h.centre());
             h.moveTo(h.centre() + QPoint(0, -58));
         },
         {330, 0}},
        {"arrow", [](PadHarness& h) { h.press(h.arrow(GimbalDirection::right)); }, {0, 150}},
    };
    PadAnimations animations(false);
    for (const Gesture& gesture : gestures) {
        for (const Interruption& interruption : interruptions) {
            SCOPED_TRACE(std::string(gesture.name) + ", " + interruption.name);
            PadHarness h;
            std::vector<std::unique_ptr<QWidget>> windows;
            gesture.begin(h);
            ASSERT_EQ(h.velocity(), gesture.running);
            interruption.cut(h, windows);
            EXPECT_TRUE(h.velocity().isZero()) << h.velocity().pitch << " " << h.velocity().yaw;
            EXPECT_TRUE(h.model->heldDirections().empty());
            EXPECT_FALSE(h.pad->isKnobDragging());
            EXPECT_FALSE(h.pad->heldArrow());
            EXPECT_EQ(h.pad->knobOffset(), (PadPoint{0, 0}));
            windows.clear();
            // The release that finally comes changes nothing.
            QTest::mouseRelease(h.host.get(), Qt::LeftButton, {}, QPoint(5, 5));
            EXPECT_TRUE(h.velocity().isZero());
        }
    }
}

}  // namespace
}  // namespace lumenhollow::test
