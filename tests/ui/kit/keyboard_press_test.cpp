// The kit's controls as the keyboard and a screen reader use them: in the
// Tab order but not taken by a click, pressed by Space and Return, the
// focus ring drawn where the keyboard put the focus and nowhere else, and
// found as push buttons or menu buttons whose action presses them.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/pill_button.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/record_pill.h"
#include "lumenhollow/ui/kit/segmented_control.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/kit/usb_only.h"

namespace lumenhollow::ui {
namespace {

TEST(FocusRing, ShowsWhereTheKeyboardMovedTheFocusOnly) {
    const struct {
        Qt::FocusReason reason;
        bool before;
        bool shown;
    } cases[] = {
        {Qt::TabFocusReason, false, true},           {Qt::BacktabFocusReason, false, true},
        {Qt::ShortcutFocusReason, false, true},      {Qt::MouseFocusReason, true, false},
        {Qt::MouseFocusReason, false, false},        {Qt::OtherFocusReason, true, false},
        {Qt::ActiveWindowFocusReason, true, true},   {Qt::ActiveWindowFocusReason, false, false},
        {Qt::PopupFocusReason, true, true},          {Qt::PopupFocusReason, false, false},
        {Qt::MenuBarFocusReason, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(focusRingShown(c.reason, c.before), c.shown) << c.reason << " after " << c.before;
    }
}

// The accent pixels in `widget` as drawn now.
int accentPixels(QWidget& widget) {
    const QImage image = widget.grab().toImage();
    const QColor accent = platformAccentColor();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - accent.red()) < 40 && std::abs(c.green() - accent.green()) < 40 &&
                std::abs(c.blue() - accent.blue()) < 40) {
                ++count;
            }
        }
    }
    return count;
}

struct Control {
    const char* name;
    std::function<QWidget*(QWidget* parent, int& presses)> make;
    QAccessible::Role role;
};

// Every kind of control the kit makes pressable, in a window with a first
// field to Tab from.
std::vector<Control> controls() {
    return {
        {"icon button",
         [](QWidget* parent, int& presses) {
             auto* button = new IconButton("scope", QStringLiteral("Center"), 32, parent);
             QObject::connect(button, &QAbstractButton::clicked, [&presses] { ++presses; });
             return button;
         },
         QAccessible::Button},
        {"pill menu",
         [](QWidget* parent, int& presses) {
             auto* pill = new PillMenu("grid", QStringLiteral("Guide"), parent);
             pill->menu()->addAction(QStringLiteral("Grid"));
             QObject::connect(pill->menu(), &QMenu::aboutToShow, [&presses] { ++presses; });
             return pill;
         },
         QAccessible::ButtonMenu},
        {"pill button",
         [](QWidget* parent, int& presses) {
             auto* button = new PillButton("arrow.clockwise", QStringLiteral("Reconnect"), uiFont(13, QFont::Medium),
                                           parent);
             QObject::connect(button, &QAbstractButton::clicked, [&presses] { ++presses; });
             return button;
         },
         QAccessible::Button},
        {"record pill",
         [](QWidget* parent, int& presses) {
             auto* pill = new RecordPill([] { return hollowkit::WallTime{}; }, parent);
             RecordPillInputs live;
             live.hasPicture = true;
             pill->setInputs(live);
             QObject::connect(pill, &QAbstractButton::clicked, [&presses] { ++presses; });
             return pill;
         },
         QAccessible::Button},
        {"USB-only pill",
         [](QWidget* parent, int& presses) {
             auto* marker = new UsbOnlyPill("rectangle.on.rectangle", QStringLiteral("Scenes"),
                                            QStringLiteral("Needs a position."), [] {}, parent);
             QObject::connect(marker, &QAbstractButton::clicked, [&presses] { ++presses; });
             return marker;
         },
         QAccessible::ButtonMenu},
    };
}

TEST(KeyboardPress, TabReachesTheControlSpaceAndReturnPressItAndOnlyTheKeyboardDrawsItsRing) {
    for (const Control& c : controls()) {
        SCOPED_TRACE(c.name);
        QWidget window;
        window.setStyleSheet(QStringLiteral("background: black"));
        auto* layout = new QVBoxLayout(&window);
        auto* first = new TextButton(TextButtonKind::plain, QStringLiteral("First"), &window);
        first->setFocusPolicy(Qt::StrongFocus);
        int presses = 0;
        QWidget* control = c.make(&window, presses);
        layout->addWidget(first);
        layout->addWidget(control);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        first->setFocus(Qt::OtherFocusReason);

        // A click presses it but leaves the focus, and draws no ring.
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, control->mapTo(&window, control->rect().center()));
        if (auto* menu = control->findChild<QMenu*>()) menu->hide();
        if (auto* marker = qobject_cast<UsbOnlyMarker*>(control)) marker->popover()->dismiss();
        EXPECT_EQ(presses, 1);
        EXPECT_TRUE(first->hasFocus());
        EXPECT_EQ(accentPixels(*control), 0);

        QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
        ASSERT_TRUE(control->hasFocus());
        EXPECT_GT(accentPixels(*control), 20) << "no ring drawn with the keyboard's focus";
        for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
            const int before = presses;
            QTest::keyClick(window.windowHandle(), key);
            EXPECT_EQ(presses, before + 1) << "key " << key;
            if (auto* menu = control->findChild<QMenu*>()) menu->hide();
            if (auto* marker = qobject_cast<UsbOnlyMarker*>(control)) marker->popover()->dismiss();
        }
        // The focus the program moves draws none either.
        first->setFocus(Qt::OtherFocusReason);
        control->setFocus(Qt::OtherFocusReason);
        EXPECT_EQ(accentPixels(*control), 0);

        QAccessibleInterface* found = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->role(), c.role);
        EXPECT_TRUE(found->state().focusable);
        QAccessibleActionInterface* actions = found->actionInterface();
        ASSERT_NE(actions, nullptr);
        EXPECT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()))
            << actions->actionNames().join(',').toStdString();
        const int before = presses;
        actions->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(presses, before + 1);
        if (auto* menu = control->findChild<QMenu*>()) menu->hide();
        if (auto* marker = qobject_cast<UsbOnlyMarker*>(control)) marker->popover()->dismiss();
    }
}

TEST(KeyboardPress, MadeAMenuButtonLaterItIsOneToAScreenReader) {
    // As a menu's button built on the plain one is: pressable twice over.
    IconButton gear("gearshape", QStringLiteral("Settings"), 30, nullptr);
    ASSERT_EQ(QAccessible::queryAccessibleInterface(&gear)->role(), QAccessible::Button);
    int opened = 0;
    makePressable(gear, PressRole::menuButton, [&opened] { ++opened; }, [&opened] { return opened > 0; });
    QAccessibleInterface* found = QAccessible::queryAccessibleInterface(&gear);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->role(), QAccessible::ButtonMenu);
    EXPECT_FALSE(found->state().expanded);
    found->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(found->state().expanded);
    EXPECT_TRUE(pressedOpen(gear));
}

TEST(KeyboardPress, ArrowsGoOnToTheParentInsteadOfMovingTheFocus) {
    struct Parent final : QWidget {
        int arrows = 0;
        void keyPressEvent(QKeyEvent* event) override {
            if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) ++arrows;
            event->accept();
        }
    } window;
    auto* layout = new QHBoxLayout(&window);
    auto* one = new IconButton("scope", QStringLiteral("One"), 32, &window);
    auto* two = new IconButton("crop", QStringLiteral("Two"), 32, &window);
    layout->addWidget(one);
    layout->addWidget(two);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    one->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window.windowHandle(), Qt::Key_Right);
    QTest::keyClick(window.windowHandle(), Qt::Key_Left);
    EXPECT_TRUE(one->hasFocus());
    EXPECT_EQ(window.arrows, 2);
}

TEST(KeyboardPress, TheSwitchThePickerAndTheTextButtonDrawTheirFocusForTheKeyboardOnly) {
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* first = new TextButton(TextButtonKind::plain, QStringLiteral("First"), &window);
    auto* onOff = new SwitchButton(Qt::green, &window);
    auto* picker = new SegmentedControl({QStringLiteral("Small"), QStringLiteral("Large")}, &window);
    layout->addWidget(first);
    layout->addWidget(onOff);
    layout->addWidget(picker);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, first->mapTo(&window, first->rect().center()));
    ASSERT_TRUE(first->hasFocus());
    EXPECT_EQ(accentPixels(*first), 0) << "a click drew a ring";
    QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
    ASSERT_TRUE(onOff->hasFocus());
    EXPECT_GT(accentPixels(*onOff), 20);
    QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
    ASSERT_TRUE(picker->hasFocus());
    EXPECT_GT(accentPixels(*picker), 20);
    EXPECT_EQ(accentPixels(*onOff), 0);
    QTest::keyClick(window.windowHandle(), Qt::Key_Backtab);
    QTest::keyClick(window.windowHandle(), Qt::Key_Backtab);
    ASSERT_TRUE(first->hasFocus());
    EXPECT_GT(accentPixels(*first), 20);
    EXPECT_EQ(accentPixels(*onOff), 0);
    EXPECT_EQ(accentPixels(*picker), 0);
}

}  // namespace
}  // namespace lumenhollow::ui
