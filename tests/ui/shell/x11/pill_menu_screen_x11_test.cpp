// A pill's menu open while the screen is made smaller (as a change of
// resolution makes it) on a test X server of its own: the window is fitted
// into the new screen, and the menu comes along with its pill, inside the
// screen, instead of staying where it was, open and out of sight.

#include <QApplication>
#include <QLabel>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "hollowkit/testing/xvfb_server.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/popup_screens.h"

namespace lumenhollow {
namespace {

class PillMenuScreenX11Test : public testing::Test {
protected:
    void SetUp() override {
        if (!hollowkit::XvfbServer::program()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
        auto started = xvfb_.start(1512, 944);
        ASSERT_TRUE(started.has_value()) << started.error();
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", QByteArray::fromStdString(xvfb_.displayName()));
        qputenv("QT_SCALE_FACTOR", "1");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

    // The screen made `width`×`height`, as a change of resolution makes it.
    testing::AssertionResult resizeScreen(int width, int height) {
        auto resized = xvfb_.resizeScreen(width, height);
        if (!resized.has_value()) return testing::AssertionFailure() << resized.error();
        return testing::AssertionSuccess();
    }
    // A press on `button` pops `menu` up under it, right edges aligned, as
    // the gear opens its own: placed, not run.
    static void opensUnder(QPushButton* button, QMenu& menu) {
        QObject::connect(button, &QPushButton::pressed, &menu, [button, &menu] {
            menu.popup(button->mapToGlobal(QPoint(button->width(), button->height())) -
                       QPoint(menu.sizeHint().width(), 0));
        });
    }

    hollowkit::XvfbServer xvfb_;
    int argc_ = 1;
    char name_[28] = "pill_menu_screen_x11_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

TEST_F(PillMenuScreenX11Test, AMenuOpenWhileTheScreenShrinksComesAlongWithItsPill) {
    QWidget window;
    window.setGeometry(180, 120, 1152, 700);
    auto* pill = new ui::PillMenu("grid", QStringLiteral("Guide"), &window);
    for (const char* title : {"None", "Thirds", "Centre"}) pill->menu()->addAction(QString::fromLatin1(title));
    pill->move(20, window.height() - 60);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 5000));
    // A press on the pill in the window, as a user's.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, pill->geometry().center());
    QMenu& menu = *pill->menu();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu, 5000));
    ASSERT_GT(menu.y() + menu.height(), 428) << "the menu opened where a smaller screen keeps it anyway";

    ASSERT_TRUE(resizeScreen(760, 428));
    const QRect screen(0, 0, 760, 428);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.screen()->geometry() == screen; }, 10000))
        << "Qt never heard of the new screen size";
    // The fit a window sizer makes: the window into the new screen, its pill at its foot.
    window.setGeometry(60, 40, 640, 361);
    pill->move(20, 361 - 60);
    const auto atPill = [&] {
        const QRect place(pill->mapToGlobal(QPoint(0, 0)), pill->size());
        return menu.isVisible() && screen.contains(menu.geometry()) &&
               menu.pos() == ui::pillMenuPosition(place, menu.size(), menu.screen()->availableGeometry());
    };
    EXPECT_TRUE(QTest::qWaitFor(atPill, 10000))
        << "the menu stays at " << menu.x() << "," << menu.y() << " " << menu.width() << "x" << menu.height()
        << ", its pill at " << pill->mapToGlobal(QPoint(0, 0)).x() << "," << pill->mapToGlobal(QPoint(0, 0)).y();

    // Closed, it is no longer the pill's to move.
    menu.close();
    const QPoint closedAt = menu.pos();
    window.move(30, 20);
    QTest::qWait(0);
    EXPECT_EQ(menu.pos(), closedAt);
}

// A pill near the screen's foot (a short screen, a window low on it): its
// menu opens above the pill, where it stays through later moves, instead of
// being pulled up over the pill it belongs to.
TEST_F(PillMenuScreenX11Test, AMenuWithNoRoomBelowItsPillOpensAboveIt) {
    QWidget window;
    window.setGeometry(400, 944 - 361, 640, 361);
    auto* pill = new ui::PillMenu("grid", QStringLiteral("Format"), &window);
    for (const char* title : {"1080p 30 FPS", "720p 30 FPS", "4K 30 FPS"}) {
        pill->menu()->addAction(QString::fromLatin1(title));
    }
    pill->move(20, window.height() - 40);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 5000));
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, pill->geometry().center());
    QMenu& menu = *pill->menu();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu, 5000));
    const QRect place(pill->mapToGlobal(QPoint(0, 0)), pill->size());
    ASSERT_GT(place.bottom() + menu.height(), 944) << "there is room below the pill";
    EXPECT_FALSE(menu.geometry().intersects(place))
        << "the menu at " << menu.x() << "," << menu.y() << " " << menu.width() << "x" << menu.height()
        << " covers its pill at " << place.x() << "," << place.y();
    EXPECT_EQ(menu.pos(), ui::pillMenuPosition(place, menu.size(), menu.screen()->availableGeometry()));
}

TEST_F(PillMenuScreenX11Test, APopoverOpenWhileTheScreenShrinksUnderAStillWindowComesInsideIt) {
    // No fit moves the window: the screen's own change brings the popover in.
    QWidget window;
    window.setGeometry(0, 0, 1400, 900);
    auto* button = new QWidget(&window);
    button->setGeometry(300, 820, 80, 30);
    ui::Popover popover(button, ui::PopoverEdge::above, [](QWidget* parent) {
        auto* content = new QLabel(QStringLiteral("Scenes"), parent);
        content->setFixedSize(200, 120);
        return content;
    });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 5000));
    popover.present();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&popover, 5000));
    ASSERT_GT(popover.y() + popover.height(), 428);

    ASSERT_TRUE(resizeScreen(760, 428));
    const QRect screen(0, 0, 760, 428);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popover.isVisible() && screen.contains(popover.geometry()); }, 10000))
        << "the popover stays at " << popover.x() << "," << popover.y() << " " << popover.width() << "x"
        << popover.height();
}

// A menu placed once, where it opened (the gear's, the menu bar's), and a
// form's pop-up list: the application's keeper brings each inside.
TEST_F(PillMenuScreenX11Test, APlainMenuOrListOpenWhileTheScreenShrinksComesInsideIt) {
    ui::PopupScreenKeeper keeper;
    QWidget window;
    window.setGeometry(0, 0, 1400, 900);
    auto* gear = new QPushButton(QStringLiteral("Settings"), &window);
    gear->setGeometry(1200, 820, 120, 30);
    QMenu gearMenu;
    for (const char* title : {"Keep Running in the Island", "Show Window on Launch", "Quit"}) {
        gearMenu.addAction(QString::fromLatin1(title));
    }
    opensUnder(gear, gearMenu);
    auto* list = new QComboBox(&window);
    list->addItems({QStringLiteral("1080p"), QStringLiteral("4K"), QStringLiteral("720p")});
    list->setGeometry(500, 840, 160, 30);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 5000));
    const QRect screen(0, 0, 760, 428);
    const auto inside = [&](QWidget& popup) { return popup.isVisible() && screen.contains(popup.frameGeometry()); };
    const struct {
        const char* name;
        QWidget* face;
        std::function<QWidget*()> popup;
    } cases[] = {
        {"the gear's menu", gear, [&]() -> QWidget* { return &gearMenu; }},
        {"a form's list", list, [&]() -> QWidget* { return list->view()->window(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A press on the face in the window, as a user's.
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, c.face->geometry().center());
        QWidget& popup = *c.popup();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&popup, 5000));
        ASSERT_FALSE(screen.contains(popup.frameGeometry())) << "it opened where a smaller screen keeps it anyway";

        ASSERT_TRUE(resizeScreen(760, 428));
        EXPECT_TRUE(QTest::qWaitFor([&] { return inside(popup); }, 10000))
            << "it stays at " << popup.x() << "," << popup.y() << " " << popup.width() << "x" << popup.height();
        popup.hide();
        ASSERT_TRUE(resizeScreen(1512, 944));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.screen()->geometry() == QRect(0, 0, 1512, 944); }, 10000));
    }
}

// The gear's menu with its Notch submenu open, low at the right of the
// screen, so the submenu opened to its left: once the screen shrinks, both
// come inside and the submenu still stands beside its menu, every row of the
// menu in sight.
TEST_F(PillMenuScreenX11Test, ASubmenuOpenWhileTheScreenShrinksStaysBesideItsMenu) {
    ui::PopupScreenKeeper keeper;
    QWidget window;
    window.setGeometry(0, 0, 1500, 930);
    auto* gear = new QPushButton(QStringLiteral("Settings"), &window);
    gear->setGeometry(1360, 860, 120, 30);
    QMenu gearMenu;
    gearMenu.addAction(QStringLiteral("Recording Codec"));
    QMenu* notch = gearMenu.addMenu(QStringLiteral("Notch"));
    for (const char* title : {"Show in the Notch", "Content", "Open", "Closing the Window"}) {
        notch->addAction(QString::fromLatin1(title));
    }
    gearMenu.addAction(QStringLiteral("Import LUT..."));
    opensUnder(gear, gearMenu);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 5000));
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, gear->geometry().center());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&gearMenu, 5000));
    // Down to the Notch row and into it, as a user's keys.
    for (int i = 0; i < 2; ++i) QTest::keyClick(gearMenu.windowHandle(), Qt::Key_Down);
    ASSERT_EQ(gearMenu.activeAction(), notch->menuAction());
    QTest::keyClick(gearMenu.windowHandle(), Qt::Key_Right);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(notch, 5000));
    ASSERT_LT(notch->x(), gearMenu.x()) << "the submenu opened to the right";

    ASSERT_TRUE(resizeScreen(760, 428));
    const QRect screen(0, 0, 760, 428);
    const auto placed = [&] {
        return gearMenu.isVisible() && notch->isVisible() && screen.contains(gearMenu.frameGeometry()) &&
               screen.contains(notch->frameGeometry());
    };
    ASSERT_TRUE(QTest::qWaitFor(placed, 10000))
        << "the menu at " << gearMenu.x() << "," << gearMenu.y() << ", its submenu at " << notch->x() << ","
        << notch->y();
    EXPECT_FALSE(notch->frameGeometry().intersects(gearMenu.frameGeometry()))
        << "the submenu at " << notch->x() << "," << notch->y() << " " << notch->width() << "x" << notch->height()
        << " covers its menu at " << gearMenu.x() << "," << gearMenu.y() << " " << gearMenu.width() << "x"
        << gearMenu.height();
    // The keys still go to the submenu, and Escape closes it, then its menu.
    QTest::keyClick(notch->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notch->isVisible(); }, 5000));
    EXPECT_TRUE(gearMenu.isVisible());
    QTest::keyClick(gearMenu.windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !gearMenu.isVisible(); }, 5000));
}

}  // namespace
}  // namespace lumenhollow
