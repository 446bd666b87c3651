// The segmented control: segments split the width without gaps, a click
// names its segment and leaves the shown choice to the owner; a screen
// reader finds each segment named, checked while chosen and pressable.

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QSignalSpy>
#include <QTest>

#include <string>

#include <gtest/gtest.h>

#include "lumenhollow/ui/kit/segmented_control.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "segmented_pickers.h"

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

TEST(SegmentedControlTest, ASegmentIsNamedByItsWordsOrElseByItsHelp) {
    const QString icon = QString(QChar(0xE001));
    const struct {
        QString title;
        QString help;
        QString name;
    } cases[] = {
        {"Blur", "", "Blur"},
        {"Blur", "Blur the room", "Blur"},
        {icon, "Blur the room", "Blur the room"},
        {icon + "  Blur ", "Blur the room", "Blur"},
        {"  ", " Keep\nthe room ", "Keep the room"},
        {"", "", ""},
        {icon, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.toStdString() + " / " + c.help.toStdString());
        EXPECT_EQ(segmentName(c.title, c.help), c.name);
    }
}

// A window whose owner takes every choice, as the panels do.
struct PickerHost {
    QWidget window;
    SegmentedControl* control;
    std::vector<int> chosen;

    explicit PickerHost(const QStringList& titles) : control(new SegmentedControl(titles, &window)) {
        control->setAccessibleName(QStringLiteral("Size"));
        control->move(20, 30);
        control->setFixedWidth(180);
        QObject::connect(control, &SegmentedControl::segmentChosen, &window, [this](int index) {
            chosen.push_back(index);
            control->setCurrentIndex(index);
        });
        window.resize(240, 100);
        window.show();
    }
};

// The control is a group under its own name with a radio button per
// segment; pressing one through the tree is a click on it, each time.
TEST(SegmentedControlTest, TheAccessibleTreeHasOneRadioButtonPerSegment) {
    const QString icon = QString(QChar(0xE002));
    const struct {
        const char* name;
        QStringList titles;
        QStringList help;
        int current;
        std::vector<std::string> names;
    } cases[] = {
        {"words", {"Small", "Medium", "Large"}, {}, 1, {"Small", "Medium", "Large"}},
        {"icons with help", {icon, "Blur"}, {"Keep the room", "Blur the room"}, 0, {"Keep the room", "Blur"}},
        {"the last chosen", {"Circle", "Cutout"}, {}, 1, {"Circle", "Cutout"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PickerHost host(c.titles);
        host.control->setSegmentHelp(c.help);
        host.control->setCurrentIndex(c.current);
        QAccessibleInterface* group = QAccessible::queryAccessibleInterface(host.control);
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->text(QAccessible::Name), QStringLiteral("Size"));
        std::vector<std::string> names;
        for (int i = 0; i < group->childCount(); ++i) names.push_back(group->child(i)->text(QAccessible::Name).toStdString());
        EXPECT_EQ(names, c.names);
        // The helper presses once by action and once with the mouse each way.
        const int walked = test::expectSegmentedPickersReachable(
            host.window, [] { QCoreApplication::processEvents(); }, [] { return std::string(); });
        EXPECT_EQ(walked, 1);
        const int to = (c.current + 1) % static_cast<int>(c.titles.size());
        EXPECT_EQ(host.chosen, (std::vector<int>{to, c.current, to, c.current}));
        EXPECT_EQ(test::namelessInAccessibleTree(host.window).nameless, std::vector<std::string>{});
    }
}

// A disabled control offers no press and takes none.
TEST(SegmentedControlTest, ADisabledSegmentTakesNoPress) {
    PickerHost host({"Small", "Medium", "Large"});
    host.control->setCurrentIndex(0);
    host.control->setEnabled(false);
    QAccessibleInterface* segment = QAccessible::queryAccessibleInterface(host.control)->child(2);
    ASSERT_NE(segment, nullptr);
    EXPECT_TRUE(segment->state().disabled);
    ASSERT_NE(segment->actionInterface(), nullptr);
    EXPECT_TRUE(segment->actionInterface()->actionNames().isEmpty());
    segment->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(host.chosen.empty());
    EXPECT_EQ(host.control->currentIndex(), 0);
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

// A screen reader finds the switch as a check box, checked while on,
// and flips it by its toggle or its press action, each a click on it: what
// it shows next is the owner's answer. Disabled, it offers neither action
// and takes neither.
TEST(SwitchButtonTest, TheAccessibleTreeReadsItsStateAndFlipsItAsAClickDoes) {
    const struct {
        const char* name;
        QString action;
        bool enabled;
        bool ownerAgrees;
        int clicks;
        bool on;
    } cases[] = {
        {"toggle", QAccessibleActionInterface::toggleAction(), true, true, 1, true},
        {"press", QAccessibleActionInterface::pressAction(), true, true, 1, true},
        {"refused by the owner", QAccessibleActionInterface::toggleAction(), true, false, 1, false},
        {"disabled", QAccessibleActionInterface::toggleAction(), false, true, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget host;
        auto* button = new SwitchButton(Qt::red, &host);
        button->setAccessibleName(QStringLiteral("Auto"));
        int clicks = 0;
        QObject::connect(button, &QAbstractButton::clicked, &host, [&] {
            ++clicks;
            if (c.ownerAgrees) button->setOn(!button->isOn());
        });
        button->setEnabled(c.enabled);
        host.show();
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
        EXPECT_TRUE(accessible->state().checkable);
        EXPECT_FALSE(accessible->state().checked);
        QAccessibleActionInterface* actions = accessible->actionInterface();
        ASSERT_NE(actions, nullptr);
        EXPECT_EQ(actions->actionNames().contains(c.action), c.enabled);
        actions->doAction(c.action);
        EXPECT_EQ(clicks, c.clicks);
        EXPECT_EQ(accessible->state().checked, c.on);
        EXPECT_EQ(button->isOn(), c.on);
    }
}

}  // namespace
}  // namespace lumenhollow::ui
