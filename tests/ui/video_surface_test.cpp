#include "lumenhollow/ui/window/video_surface.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lumenhollow/testing/fake_take_focus_source.h"
#include "ui_harness.h"

namespace QTest {
extern int Q_TESTLIB_EXPORT defaultMouseDelay();
}  // namespace QTest

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::GimbalVelocity;

struct KeyStep {
    bool press = true;
    int key = 0;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    bool autoRepeat = false;
};

KeyStep down(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { return {true, key, modifiers, false}; }
KeyStep up(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { return {false, key, modifiers, false}; }
KeyStep repeatedDown(int key) { return {true, key, Qt::NoModifier, true}; }
KeyStep repeatedUp(int key) { return {false, key, Qt::NoModifier, true}; }

// QTest types the key itself; a repeat, which QTest cannot make, is built by hand.
void send(QWidget& target, const KeyStep& step) {
    if (!step.autoRepeat) {
        if (step.press) {
            QTest::keyPress(&target, static_cast<Qt::Key>(step.key), step.modifiers);
        } else {
            QTest::keyRelease(&target, static_cast<Qt::Key>(step.key), step.modifiers);
        }
        return;
    }
    QKeyEvent event(step.press ? QEvent::KeyPress : QEvent::KeyRelease, step.key, step.modifiers, QString(), true);
    QApplication::sendEvent(&target, &event);
}

// The window over a live USB camera with nine saved scenes at pan 10, 20,
// ... 90 and a three-second countdown running, so every key of the table
// has something to act on.
struct KeyHarness : WindowHarness {
    size_t commandsBefore = 0;

    KeyHarness() {
        emit(CameraEvent::stats(picture(1920, 1080)));
        for (int i = 1; i <= 9; ++i) {
            camera()->setPosition(hollowkit::CameraPosition{10.0 * i, 0, 100});
            model->saveCurrentPositionAsScene();
        }
        main.runUntilIdle();
        model->setCountdownSeconds(3);
        model->toggleRecording();
        main.runUntilIdle();
        show();
        commandsBefore = commands().size();
    }

    std::vector<std::string> newCommands() const {
        const std::vector<std::string> all = commands();
        return {all.begin() + static_cast<std::ptrdiff_t>(commandsBefore), all.end()};
    }
};

TEST(VideoSurfaceTest, KeyTableThroughRealKeyEvents) {
    struct Case {
        Case(const char* caseName, std::vector<KeyStep> keySteps, GimbalVelocity after, bool recentres = false,
             std::vector<std::string> sent = {}, bool cancels = false)
            : name(caseName),
              steps(std::move(keySteps)),
              velocity(after),
              recentre(recentres),
              commands(std::move(sent)),
              countdownCancelled(cancels) {}
        const char* name;
        std::vector<KeyStep> steps;
        GimbalVelocity velocity;
        bool recentre;
        std::vector<std::string> commands;
        bool countdownCancelled;
    };
    const std::vector<Case> cases{
        {"up held", {down(Qt::Key_Up)}, {150, 0}},
        {"down held", {down(Qt::Key_Down)}, {-150, 0}},
        {"left held", {down(Qt::Key_Left)}, {0, -150}},
        {"right held", {down(Qt::Key_Right)}, {0, 150}},
        {"a held arrow's repeats, as X11 sends them, keep it moving",
         {down(Qt::Key_Right), repeatedUp(Qt::Key_Right), repeatedDown(Qt::Key_Right), repeatedUp(Qt::Key_Right),
          repeatedDown(Qt::Key_Right)},
         {0, 150}},
        {"the real release stops it", {down(Qt::Key_Up), repeatedUp(Qt::Key_Up), repeatedDown(Qt::Key_Up), up(Qt::Key_Up)},
         GimbalVelocity::zero},
        {"two arrows move diagonally", {down(Qt::Key_Up), down(Qt::Key_Left)}, {150, -150}},
        {"releasing one keeps the other", {down(Qt::Key_Up), down(Qt::Key_Left), up(Qt::Key_Up)}, {0, -150}},
        {"Shift-arrow is an arrow", {down(Qt::Key_Down, Qt::ShiftModifier)}, {-150, 0}},
        {"Ctrl-arrow is an arrow", {down(Qt::Key_Left, Qt::ControlModifier)}, {0, -150}},
        {"Escape cancels the countdown", {down(Qt::Key_Escape)}, GimbalVelocity::zero, false, {}, true},
        {"Alt+1 recalls the first scene", {down(Qt::Key_1, Qt::AltModifier)}, GimbalVelocity::zero, false,
         {"move 10.00 0.00 100"}},
        {"Alt+9 recalls the ninth", {down(Qt::Key_9, Qt::AltModifier)}, GimbalVelocity::zero, false,
         {"move 90.00 0.00 100"}},
        {"Alt+0 falls through", {down(Qt::Key_0, Qt::AltModifier)}, GimbalVelocity::zero},
        {"Alt+X falls through", {down(Qt::Key_X, Qt::AltModifier)}, GimbalVelocity::zero},
        {"Alt+C recentres", {down(Qt::Key_C, Qt::AltModifier)}, GimbalVelocity::zero, true},
        {"c recentres", {down(Qt::Key_C)}, GimbalVelocity::zero, true},
        {"C with Shift recentres", {down(Qt::Key_C, Qt::ShiftModifier)}, GimbalVelocity::zero, true},
        {"a repeated c does not", {repeatedDown(Qt::Key_C)}, GimbalVelocity::zero, false},
        {"+ zooms in, repeats included", {down(Qt::Key_Plus, Qt::ShiftModifier), repeatedDown(Qt::Key_Plus)},
         GimbalVelocity::zero, false, {"setZoom 125", "setZoom 150"}},
        {"= zooms in", {down(Qt::Key_Equal)}, GimbalVelocity::zero, false, {"setZoom 125"}},
        {"- zooms out", {down(Qt::Key_Equal), down(Qt::Key_Minus)}, GimbalVelocity::zero, false,
         {"setZoom 125", "setZoom 100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyHarness h;
        for (const KeyStep& step : c.steps) send(h.surface(), step);
        h.main.runUntilIdle();
        EXPECT_EQ(h.velocity(), c.velocity);
        EXPECT_EQ(h.camera()->gimbal().takeRecenterRequest(), c.recentre);
        EXPECT_EQ(h.newCommands(), c.commands);
        EXPECT_EQ(h.state().countdownRemaining.has_value(), !c.countdownCancelled);
    }
}

// Ways the window stops hearing the keyboard and the mouse's release.
const std::vector<std::pair<const char*, std::function<void(WindowHarness&)>>> kLossesOfTheKeyboard{
    {"another window takes the keyboard",
     [](WindowHarness&) {
         QWidget other;
         other.show();
         other.activateWindow();
         EXPECT_TRUE(QTest::qWaitForWindowActive(&other, 5000));
     }},
    {"the window hides", [](WindowHarness& h) { h.window->hide(); }},
};

TEST(VideoSurfaceTest, AHeldArrowStopsWhenTheWindowLosesTheKeyboardOrHides) {
    for (const auto& [name, lose] : kLossesOfTheKeyboard) {
        SCOPED_TRACE(name);
        WindowHarness h;
        h.show();
        QTest::keyPress(&h.surface(), Qt::Key_Up);
        ASSERT_EQ(h.velocity(), (GimbalVelocity{150, 0}));
        lose(h);
        EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
        EXPECT_TRUE(h.model->heldDirections().empty());
    }
}

TEST(VideoSurfaceTest, DragsOverThePictureCountUpwardsAndEndWithTheirRelease) {
    // Over the wireless route a drag sets speeds: pitch from the upward
    // offset, both against the pointer's motion.
    WindowHarness h(false);
    h.show();
    QWidget& surface = h.surface();
    QTest::mousePress(&surface, Qt::LeftButton, {}, QPoint(500, 300));
    QTest::mouseMove(&surface, QPoint(510, 320));
    EXPECT_EQ(h.velocity(), (GimbalVelocity{40, -20})) << "20 down is -20 upward, times -2";
    EXPECT_EQ(surface.cursor().shape(), Qt::ClosedHandCursor);
    QTest::mouseRelease(&surface, Qt::LeftButton, {}, QPoint(510, 320));
    EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
    EXPECT_EQ(surface.cursor().shape(), Qt::OpenHandCursor);

    // A move without a press on the picture is nobody's drag.
    QTest::mouseMove(&surface, QPoint(400, 100));
    QMouseEvent move(QEvent::MouseMove, QPointF(400, 100), surface.mapToGlobal(QPointF(400, 100)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&surface, &move);
    EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
}

TEST(VideoSurfaceTest, ADragWhoseReleaseNeverComesEndsAsIfReleased) {
    for (const auto& [name, interrupt] : kLossesOfTheKeyboard) {
        SCOPED_TRACE(name);
        WindowHarness h(false);
        h.show();
        QTest::mousePress(&h.surface(), Qt::LeftButton, {}, QPoint(500, 300));
        QTest::mouseMove(&h.surface(), QPoint(530, 300));
        ASSERT_FALSE(h.velocity().isZero());
        interrupt(h);
        EXPECT_EQ(h.velocity(), GimbalVelocity::zero);
        EXPECT_FALSE(h.window->input().isDragging());
        EXPECT_EQ(h.surface().cursor().shape(), Qt::OpenHandCursor);
    }
}

// The server time QTest stamps its next press on a window with.
quint32 nextPressTime() {
    return static_cast<quint32>(QTest::lastMouseTimestamp + qMax(1, QTest::defaultMouseDelay()));
}

TEST(VideoSurfaceTest, ThePressThatOnlyBringsTheWindowForwardStartsNoDrag) {
    enum class Message { none, forOurWindow, forAnotherWindow };
    struct Case {
        const char* name;
        Message message;
        // A wheel turn and a key between the take-focus and the press.
        bool wheelAndKeyBetween;
        bool swallowed;
    };
    const std::vector<Case> cases{
        {"the take-focus for our window with the press's time", Message::forOurWindow, false, true},
        {"the wheel and the keys still act, and the press is still swallowed", Message::forOurWindow, true, true},
        {"a take-focus for another window of ours", Message::forAnotherWindow, false, false},
        {"a window manager that sends none", Message::none, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Over the wireless route a drag sets a speed at once; with a live
        // picture no status panel lies over it.
        WindowHarness h(false);
        h.emit(CameraEvent::stats(picture(1920, 1080)));
        h.main.advance(CameraModel::kSettleDelay);
        h.main.runUntilIdle();
        h.show();
        FakeTakeFocusSource source;
        h.surface().watchTakeFocus(source);
        QWindow* window = h.window->windowHandle();
        const quintptr ours = window->winId();
        // As openbox tells it: the window came up focused and was focused
        // again as it asked to be active (two take-focus messages no press
        // answered), another window took the keyboard, and the click on our
        // window brings it back.
        source.focusTo(ours);
        source.send(ours, nextPressTime() - 2);
        source.send(ours, nextPressTime() - 1);
        source.focusFrom(ours);
        source.focusTo(ours);
        if (c.message != Message::none) {
            source.send(c.message == Message::forOurWindow ? ours : ours + 1, nextPressTime());
        }
        if (c.wheelAndKeyBetween) {
            const size_t before = h.commands().size();
            for (int i = 0; i < 4; ++i) {
                const QPointF at(300, 300);
                QWheelEvent wheel(at, h.surface().mapToGlobal(at), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                                  Qt::NoScrollPhase, false);
                QApplication::sendEvent(&h.surface(), &wheel);
            }
            h.main.runUntilIdle();
            EXPECT_EQ(h.commands().size(), before + 1) << "the wheel did not zoom";
            QTest::keyPress(&h.surface(), Qt::Key_Up);
            EXPECT_EQ(h.velocity(), (GimbalVelocity{150, 0})) << "the arrow did not turn";
            QTest::keyRelease(&h.surface(), Qt::Key_Up);
        }
        const QPoint at = h.surface().mapTo(h.window.get(), QPoint(500, 300));
        QTest::mousePress(window, Qt::LeftButton, {}, at);
        QTest::mouseMove(window, at + QPoint(10, 20));
        EXPECT_EQ(h.window->input().isDragging(), !c.swallowed);
        EXPECT_EQ(h.velocity().isZero(), c.swallowed);
        QTest::mouseRelease(window, Qt::LeftButton, {}, at + QPoint(10, 20));
        EXPECT_EQ(h.velocity(), GimbalVelocity::zero);

        // The next click on the window now in front drags, though openbox
        // sends a take-focus with its time too.
        source.send(ours, nextPressTime());
        QTest::mousePress(window, Qt::LeftButton, {}, at);
        QTest::mouseMove(window, at + QPoint(10, 20));
        EXPECT_EQ(h.velocity(), (GimbalVelocity{40, -20}));
        QTest::mouseRelease(window, Qt::LeftButton, {}, at + QPoint(10, 20));
    }
}

TEST(VideoSurfaceTest, WheelTurnsZoomByNotchesAndPreciseDeltas) {
    // One zoom step gathers four lines: four notches, or 24 precise points.
    struct Case {
        const char* name;
        QPoint pixelDelta;
        QPoint angleDelta;
        int events;
        std::vector<std::string> commands;
    };
    const std::vector<Case> cases{
        {"four notches", {}, {0, 120}, 4, {"setZoom 125"}},
        {"three notches are not enough", {}, {0, 120}, 3, {}},
        {"precise 6 is one line", {0, 6}, {0, 15}, 4, {"setZoom 125"}},
        {"precise 6 three times is not", {0, 6}, {0, 15}, 3, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        h.show();
        const size_t before = h.commands().size();
        for (int i = 0; i < c.events; ++i) {
            const QPointF at(300, 300);
            QWheelEvent wheel(at, h.surface().mapToGlobal(at), c.pixelDelta, c.angleDelta, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&h.surface(), &wheel);
        }
        h.main.runUntilIdle();
        const std::vector<std::string> all = h.commands();
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), c.commands);
    }
}

}  // namespace
}  // namespace lumenhollow::test
