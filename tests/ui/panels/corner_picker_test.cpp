#include "lumenhollow/ui/panels/corner_picker.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QTest>
#include <QVariantAnimation>
#include <QWindow>

#include <optional>
#include <string>
#include <vector>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow {
namespace {

namespace hk = hollowkit;

// The picker in a shown window, writing each choice back as its owner does.
struct PickerRig {
    QWidget window;
    CornerPicker* picker = new CornerPicker(&window);

    explicit PickerRig(hk::BubbleShape shape) {
        window.resize(300, 200);
        picker->move(40, 30);
        picker->setStyle(hk::BubbleCorner::bottomTrailing, hk::BubbleSize::medium, shape);
        QObject::connect(picker, &CornerPicker::cornerChosen, &window, [this, shape](hk::BubbleCorner corner) {
            picker->setStyle(corner, hk::BubbleSize::medium, shape);
        });
        window.show();
    }
    size_t indexOf(hk::BubbleCorner corner) const {
        for (size_t i = 0; i < picker->targets().size(); ++i) {
            if (picker->targets()[i].corner == corner) return i;
        }
        return picker->targets().size();
    }
    void press(hk::BubbleCorner corner) {
        pressAt(picker->targets()[indexOf(corner)].rect.center().toPoint());
    }
    void pressAt(QPoint inPicker) {
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, picker->mapTo(&window, inPicker));
    }
    std::optional<hk::BubbleCorner> chosen() const {
        for (const CornerTarget& target : picker->targets()) {
            if (target.selected) return target.corner;
        }
        return std::nullopt;
    }
};

// Animations on or off for one test, as they were afterwards.
struct PickerMotion {
    explicit PickerMotion(bool on) : was(ui::animationsEnabled()) { ui::setAnimationsEnabled(on); }
    ~PickerMotion() { ui::setAnimationsEnabled(was); }
    bool was;
};

struct PickerCase {
    hk::BubbleShape shape;
    std::vector<std::string> titles;
    std::vector<hk::BubbleCorner> corners;
};

const PickerCase kPickerCases[] = {
    {hk::BubbleShape::circle,
     {"Top Left", "Top Right", "Bottom Left", "Bottom Right"},
     {hk::BubbleCorner::topLeading, hk::BubbleCorner::topTrailing, hk::BubbleCorner::bottomLeading,
      hk::BubbleCorner::bottomTrailing}},
    {hk::BubbleShape::cutout, {"Left", "Right"}, {hk::BubbleCorner::bottomLeading, hk::BubbleCorner::bottomTrailing}},
};

// Pixels of the focus ring's blue around `target`.
int ringPixels(CornerPicker& picker, const CornerTarget& target) {
    const QImage shot = picker.grab().toImage();
    const QRect around = target.rect.toAlignedRect().adjusted(-4, -4, 4, 4) & picker.rect();
    const QColor ring = ui::platformAccentColor();
    int count = 0;
    for (int y = around.top(); y <= around.bottom(); ++y) {
        for (int x = around.left(); x <= around.right(); ++x) {
            const QColor pixel = shot.pixelColor(x, y);
            if (pixel.blue() > 180 && pixel.red() < 90 && pixel.green() > ring.green() - 60) ++count;
        }
    }
    return count;
}

// The keyboard reaches every target in order: Tab moves to the next one,
// drawing its focus ring, and Space chooses it, as a button is pressed.
TEST(CornerPickerTest, TabWalksTheTargetsInOrderAndSpaceChoosesTheFocusedOne) {
    PickerMotion off(false);
    for (const PickerCase& c : kPickerCases) {
        SCOPED_TRACE(static_cast<int>(c.shape));
        PickerRig rig(c.shape);
        rig.window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.window));
        // Activation may hand the first target the focus, drawn only once
        // the keyboard moves it; the walk starts from none.
        EXPECT_EQ(ringPixels(*rig.picker, rig.picker->targets()[0]), 0);
        if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
        const std::vector<QAbstractButton*>& buttons = rig.picker->targetButtons();
        ASSERT_EQ(buttons.size(), c.titles.size());
        for (int round = 0; round < 2; ++round) {  // the second round comes back to the first target
            for (size_t i = 0; i < c.titles.size(); ++i) {
                SCOPED_TRACE(c.titles[i]);
                const size_t other = (i + 1) % c.titles.size();
                EXPECT_EQ(ringPixels(*rig.picker, rig.picker->targets()[i]), 0);
                QTest::keyClick(rig.window.windowHandle(), Qt::Key_Tab);
                ASSERT_EQ(QApplication::focusWidget(), buttons[i]);
                EXPECT_GT(ringPixels(*rig.picker, rig.picker->targets()[i]), 20) << "the focus is drawn";
                EXPECT_EQ(ringPixels(*rig.picker, rig.picker->targets()[other]), 0);
                QTest::keyClick(rig.window.windowHandle(), Qt::Key_Space);
                EXPECT_EQ(rig.chosen(), c.corners[i]);
            }
        }
    }
}

// The picker is one group named "Camera position"; each target is a button
// of its own carrying its title, also after the shape changes their number.
TEST(CornerPickerTest, TheAccessibleTreeHasTheGroupAndOneButtonPerTarget) {
    PickerRig rig(hk::BubbleShape::circle);
    for (const PickerCase& c : {kPickerCases[0], kPickerCases[1], kPickerCases[0]}) {
        SCOPED_TRACE(static_cast<int>(c.shape));
        rig.picker->setStyle(hk::BubbleCorner::topTrailing, hk::BubbleSize::small, c.shape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QAccessibleInterface* group = QAccessible::queryAccessibleInterface(rig.picker);
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->role(), QAccessible::Grouping);
        EXPECT_EQ(group->text(QAccessible::Name), QStringLiteral("Camera position"));
        std::vector<std::string> titles;
        for (int i = 0; i < group->childCount(); ++i) {
            QAccessibleInterface* child = group->child(i);
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(child->role(), QAccessible::Button);
            EXPECT_TRUE(child->state().focusable);
            EXPECT_EQ(child->object(), rig.picker->targetButtons().at(static_cast<size_t>(i)));
            titles.push_back(child->text(QAccessible::Name).toStdString());
        }
        EXPECT_EQ(titles, c.titles);
    }
}

// A press lands on a target's own shape: inside a circle's disc, not in the
// corners of its square.
TEST(CornerPickerTest, APressOnATargetChoosesItAndBesideItNothing) {
    PickerMotion off(false);
    PickerRig rig(hk::BubbleShape::circle);
    const QRectF topLeft = rig.picker->targets()[rig.indexOf(hk::BubbleCorner::topLeading)].rect;
    rig.pressAt(topLeft.topLeft().toPoint() + QPoint(1, 1));
    EXPECT_EQ(rig.chosen(), hk::BubbleCorner::bottomTrailing);
    rig.pressAt(topLeft.center().toPoint());
    EXPECT_EQ(rig.chosen(), hk::BubbleCorner::topLeading);
}

// A press moves the choice with the 0.3 s spring, stepped here in virtual
// time: the old target lets go as the new one fills, and both settle.
TEST(CornerPickerTest, AChoiceMovesWithTheSpring) {
    for (const hk::BubbleShape shape : {hk::BubbleShape::circle, hk::BubbleShape::cutout}) {
        SCOPED_TRACE(static_cast<int>(shape));
        PickerMotion motion(true);
        PickerRig rig(shape);
        const size_t from = rig.indexOf(hk::BubbleCorner::bottomTrailing);
        const size_t to = rig.indexOf(hk::BubbleCorner::bottomLeading);
        rig.press(hk::BubbleCorner::bottomLeading);
        QVariantAnimation* spring = rig.picker->motion();
        ASSERT_NE(spring, nullptr);
        spring->pause();
        const int total = spring->duration();
        EXPECT_GT(total, 300);
        EXPECT_LT(total, 600);
        struct Step {
            int ms;
            double low;
            double high;
        };
        for (const Step step : {Step{0, 0, 0.01}, Step{75, 0.2, 0.6}, Step{150, 0.7, 0.9}, Step{total, 0.998, 1}}) {
            spring->setCurrentTime(step.ms);
            const double lit = rig.picker->emphasis(to);
            EXPECT_GE(lit, step.low) << step.ms;
            EXPECT_LE(lit, step.high) << step.ms;
            EXPECT_NEAR(rig.picker->emphasis(from), 1 - lit, 1e-9) << step.ms;
        }
        EXPECT_TRUE(rig.picker->targets()[to].selected);
    }
}

// With animations off (tests, screenshots) the choice is there at once, and
// a new size redraws the targets in place without a move.
TEST(CornerPickerTest, NoMoveWithAnimationsOffOrForANewSize) {
    PickerMotion off(false);
    PickerRig rig(hk::BubbleShape::circle);
    rig.press(hk::BubbleCorner::topLeading);
    EXPECT_EQ(rig.picker->motion(), nullptr);
    EXPECT_EQ(rig.picker->emphasis(rig.indexOf(hk::BubbleCorner::topLeading)), 1);
    EXPECT_EQ(rig.picker->emphasis(rig.indexOf(hk::BubbleCorner::bottomTrailing)), 0);

    PickerMotion on(true);
    rig.picker->setStyle(hk::BubbleCorner::bottomTrailing, hk::BubbleSize::large, hk::BubbleShape::circle);
    EXPECT_EQ(rig.picker->motion(), nullptr);
    EXPECT_EQ(rig.picker->emphasis(rig.indexOf(hk::BubbleCorner::bottomTrailing)), 1);
    // The same choice again starts nothing either.
    rig.press(hk::BubbleCorner::bottomTrailing);
    EXPECT_EQ(rig.picker->motion(), nullptr);
}

}  // namespace
}  // namespace lumenhollow
