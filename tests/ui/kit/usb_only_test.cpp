#include "lumenhollow/ui/kit/usb_only.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace lumenhollow::ui {
namespace {

const QString kReason = QStringLiteral("Over Wi-Fi the camera can only be turned by speed, not aimed.");

TEST(UsbOnlyMarkers, TooltipForms) {
    EXPECT_EQ(usbOnlyPillTooltip(kReason), kReason);
    EXPECT_EQ(usbOnlyIconTooltip(QStringLiteral("Auto frame"), kReason),
              QStringLiteral("Auto frame needs USB. ") + kReason);
    int switches = 0;
    UsbOnlyPill pill("grid", QStringLiteral("Scenes"), kReason, [&] { ++switches; }, nullptr);
    UsbOnlyIconButton icon("crop", QStringLiteral("Auto frame"), kReason, 32, [&] { ++switches; }, nullptr);
    EXPECT_EQ(pill.toolTip(), kReason);
    EXPECT_TRUE(icon.toolTip().startsWith(QStringLiteral("Auto frame needs USB. ")));
    EXPECT_EQ(icon.accessibleDescription(), QStringLiteral("Needs USB"));
}

TEST(UsbOnlyMarkers, IconMarkerSizes) {
    const struct {
        double size, glyph, badge, inset;
    } cases[] = {{32, 12.8, 8.0, 3.84}, {40, 16.0, 9.6, 4.8}, {30, 12.0, 8.0, 3.6}, {20, 8.0, 8.0, 2.4}};
    for (const auto& c : cases) {
        const UsbIconMarkerMetrics m = usbIconMarkerMetrics(c.size);
        EXPECT_DOUBLE_EQ(m.glyphPx, c.glyph) << c.size;
        EXPECT_DOUBLE_EQ(m.badgePx, c.badge) << c.size;
        EXPECT_DOUBLE_EQ(m.inset, c.inset) << c.size;
    }
}

TEST(UsbOnlyMarkers, ClickTogglesThePopover) {
    UsbOnlyIconButton icon("crop", QStringLiteral("Auto frame"), kReason, 32, [] {}, nullptr);
    icon.show();
    EXPECT_FALSE(icon.isPresented());
    QTest::mouseClick(&icon, Qt::LeftButton, {}, QPoint(16, 16));
    ASSERT_TRUE(icon.isPresented());
    // The round marker opens above itself.
    EXPECT_LE(icon.popover()->geometry().bottom(), icon.mapToGlobal(QPoint(0, 0)).y());
    QTest::mouseClick(&icon, Qt::LeftButton, {}, QPoint(16, 16));
    EXPECT_FALSE(icon.isPresented());
}

TEST(UsbOnlyMarkers, ReturnSwitchesExactlyOnceAndClosesFirst) {
    int switches = 0;
    bool openWhileSwitching = true;
    UsbOnlyPill* pillPtr = nullptr;
    UsbOnlyPill pill("grid", QStringLiteral("Scenes"), kReason,
                     [&] {
                         ++switches;
                         openWhileSwitching = pillPtr->isPresented();
                     },
                     nullptr);
    pillPtr = &pill;
    pill.show();
    QTest::mouseClick(&pill, Qt::LeftButton, {}, pill.rect().center());
    ASSERT_TRUE(pill.isPresented());
    UsbOnlyPopover* popover = pill.popover();
    // The pill opens below itself.
    EXPECT_GE(popover->geometry().top(), pill.mapToGlobal(QPoint(0, pill.height())).y());
    QTest::keyClick(popover, Qt::Key_Return);
    QTest::keyClick(popover, Qt::Key_Enter);
    EXPECT_EQ(switches, 1);
    EXPECT_FALSE(openWhileSwitching);
    EXPECT_FALSE(pill.isPresented());
}

TEST(UsbOnlyMarkers, SwitchButtonRunsTheActionOnce) {
    int switches = 0;
    UsbOnlyPill pill("grid", QStringLiteral("Scenes"), kReason, [&] { ++switches; }, nullptr);
    pill.show();
    QTest::mouseClick(&pill, Qt::LeftButton, {}, pill.rect().center());
    auto* button = pill.popover()->findChild<QPushButton*>(QStringLiteral("switchToUsb"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("Switch to USB"));
    button->click();
    button->click();
    EXPECT_EQ(switches, 1);
}

TEST(UsbOnlyMarkers, PopoverKeepsItsWidthAndGrowsInHeight) {
    const QString longReason = kReason.repeated(6);
    UsbOnlyPopover shortPopover(QStringLiteral("Scenes"), kReason, [] {}, nullptr);
    UsbOnlyPopover longPopover(QStringLiteral("Scenes"), longReason, [] {}, nullptr);
    shortPopover.openAt(QPoint(400, 300), true);
    longPopover.openAt(QPoint(400, 300), true);
    EXPECT_EQ(shortPopover.width(), 290);
    EXPECT_EQ(longPopover.width(), 290);
    EXPECT_GT(longPopover.height(), shortPopover.height() + 40);
    // The whole reason fits: its label is given the height its wrapped text needs.
    auto* label = longPopover.findChild<QLabel*>(QStringLiteral("reason"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->width(), 290 - 2 * 14);
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    shortPopover.close();
    longPopover.close();
}

TEST(UsbOnlyMarkers, PillTakesClicksOnItsCapsuleOnly) {
    int opened = 0;
    UsbOnlyPill pill("grid", QStringLiteral("Scenes"), kReason, [] {}, nullptr);
    QObject::connect(&pill, &QAbstractButton::clicked, [&] { ++opened; });
    pill.show();
    QTest::mouseClick(&pill, Qt::LeftButton, {}, QPoint(1, 1));  // outside the rounded end
    EXPECT_EQ(opened, 0);
    QTest::mouseClick(&pill, Qt::LeftButton, {}, QPoint(pill.width() - 20, 15));
    EXPECT_EQ(opened, 1);
    if (pill.isPresented()) pill.popover()->close();
}

}  // namespace
}  // namespace lumenhollow::ui
