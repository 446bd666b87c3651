#include "lumenhollow/ui/kit/usb_only.h"

#include "lumenhollow/ui/kit/popover.h"

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
    icon.move(300, 400);  // room above it
    icon.show();
    EXPECT_FALSE(icon.isPresented());
    QTest::mouseClick(&icon, Qt::LeftButton, {}, QPoint(16, 16));
    ASSERT_TRUE(icon.isPresented());
    // The round marker opens above itself, its arrow below.
    EXPECT_LE(icon.popover()->geometry().bottom(), icon.mapToGlobal(QPoint(0, 0)).y());
    EXPECT_EQ(icon.popover()->placement().edge, PopoverEdge::above);
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
    Popover* popover = pill.popover();
    // The pill opens below itself, its arrow on top.
    EXPECT_GE(popover->geometry().top(), pill.mapToGlobal(QPoint(0, pill.height())).y());
    EXPECT_EQ(popover->placement().edge, PopoverEdge::below);
    QWidget* explanation = popover->content();
    ASSERT_NE(qobject_cast<UsbOnlyPopover*>(explanation), nullptr);
    QTest::keyClick(explanation, Qt::Key_Return);
    QTest::keyClick(explanation, Qt::Key_Enter);
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
    UsbOnlyPill shortPill("grid", QStringLiteral("Scenes"), kReason, [] {}, nullptr);
    UsbOnlyPill longPill("grid", QStringLiteral("Scenes"), longReason, [] {}, nullptr);
    shortPill.show();
    longPill.show();
    QTest::mouseClick(&shortPill, Qt::LeftButton, {}, shortPill.rect().center());
    QTest::mouseClick(&longPill, Qt::LeftButton, {}, longPill.rect().center());
    ASSERT_TRUE(shortPill.isPresented());
    ASSERT_TRUE(longPill.isPresented());
    EXPECT_EQ(shortPill.popover()->width(), 290);
    EXPECT_EQ(longPill.popover()->width(), 290);
    EXPECT_GT(longPill.popover()->height(), shortPill.popover()->height() + 40);
    // The whole reason fits: its label is given the height its wrapped text needs.
    auto* label = longPill.popover()->findChild<QLabel*>(QStringLiteral("reason"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->width(), 290 - 2 * 14);
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    shortPill.popover()->dismiss();
    longPill.popover()->dismiss();
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
    pill.popover()->dismiss();
}

}  // namespace
}  // namespace lumenhollow::ui
