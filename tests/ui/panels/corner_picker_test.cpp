#include "lumenhollow/ui/panels/corner_picker.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QVariantAnimation>
#include <QWindow>

#include "lumenhollow/ui/kit/motion.h"

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
        const QPoint at = picker->mapTo(&window, picker->targets()[indexOf(corner)].rect.center().toPoint());
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    }
};

// Animations on or off for one test, as they were afterwards.
struct PickerMotion {
    explicit PickerMotion(bool on) : was(ui::animationsEnabled()) { ui::setAnimationsEnabled(on); }
    ~PickerMotion() { ui::setAnimationsEnabled(was); }
    bool was;
};

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
