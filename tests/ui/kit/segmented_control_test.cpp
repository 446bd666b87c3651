// The segmented control: segments split the width without gaps, a click
// names its segment and leaves the shown choice to the owner.

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "lumenhollow/ui/kit/segmented_control.h"
#include "lumenhollow/ui/kit/switch_button.h"

namespace lumenhollow::ui {
namespace {

TEST(SegmentedControlTest, SegmentsCoverTheWidthWithoutGapsOrOverlap) {
    const struct {
        double width;
        int count;
    } cases[] = {{180, 3}, {181, 3}, {100, 2}, {7, 3}, {50, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "/" << c.count);
        const std::vector<QRectF> rects = segmentRects(QSizeF(c.width, 22), c.count);
        ASSERT_EQ(rects.size(), static_cast<size_t>(c.count));
        EXPECT_DOUBLE_EQ(rects.front().left(), 0);
        EXPECT_DOUBLE_EQ(rects.back().right(), c.width);
        for (size_t i = 1; i < rects.size(); ++i) EXPECT_DOUBLE_EQ(rects[i].left(), rects[i - 1].right());
        for (const QRectF& r : rects) EXPECT_GE(r.width(), 0);
    }
    EXPECT_TRUE(segmentRects(QSizeF(100, 22), 0).empty());
}

TEST(SegmentedControlTest, AClickReportsItsSegmentAndTheOwnerSetsTheChoice) {
    QWidget host;
    SegmentedControl control({"Small", "Medium", "Large"}, &host);
    control.setFixedWidth(180);
    control.setCurrentIndex(1);
    host.show();
    QSignalSpy chosen(&control, &SegmentedControl::segmentChosen);
    const struct {
        int x;
        int segment;
    } clicks[] = {{1, 0}, {59, 0}, {60, 1}, {119, 1}, {120, 2}, {179, 2}};
    for (const auto& c : clicks) {
        SCOPED_TRACE(c.x);
        chosen.clear();
        QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(c.x, 10));
        ASSERT_EQ(chosen.size(), 1);
        EXPECT_EQ(chosen.front().front().toInt(), c.segment);
        EXPECT_EQ(control.currentIndex(), 1) << "the owner decides what shows";
    }
    control.setCurrentIndex(5);
    EXPECT_EQ(control.currentIndex(), -1);
}

TEST(SwitchButtonTest, AClickDoesNotFlipTheSwitchByItself) {
    QWidget host;
    SwitchButton button(Qt::red, &host);
    host.show();
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center());
    EXPECT_EQ(clicked.size(), 1);
    EXPECT_FALSE(button.isOn());
    button.setOn(true);
    EXPECT_TRUE(button.isOn());
}

}  // namespace
}  // namespace lumenhollow::ui
