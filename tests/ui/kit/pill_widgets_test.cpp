#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <algorithm>
#include <QMenu>
#include <QTest>
#include <chrono>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/popup_screens.h"
#include "lumenhollow/ui/kit/record_pill.h"
#include "lumenhollow/ui/kit/status_pill.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {
namespace {

using namespace std::chrono_literals;

TEST(PillMenuLabel, WidthFollowsTheTitleAndTheHeightNever) {
    PillMenuLabel empty("grid", QString(), nullptr);
    PillMenuLabel titled("grid", QStringLiteral("Guide"), nullptr);
    PillMenuLabel longer("grid", QStringLiteral("A much longer title of a look"), nullptr);
    for (const PillMenuLabel* pill : {&empty, &titled, &longer}) EXPECT_EQ(pill->height(), 30);
    const double title = QFontMetricsF(uiFont(12.5, QFont::Medium)).horizontalAdvance(QStringLiteral("Guide"));
    // The title and one more gap of 6.
    EXPECT_NEAR(titled.width() - empty.width(), title + 6, 1.0);
    EXPECT_GT(longer.width(), titled.width());
    EXPECT_EQ(longer.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    titled.setTitle(QString());
    EXPECT_EQ(titled.width(), empty.width());
}

TEST(PillMenu, OpensItsMenuAndHasNoActionOfItsOwn) {
    PillMenu pill("grid", QStringLiteral("Guide"), nullptr);
    pill.menu()->addAction(QStringLiteral("Grid"));
    pill.show();
    QTest::mousePress(&pill, Qt::LeftButton, {}, QPoint(10, 15));
    EXPECT_TRUE(pill.menu()->isVisible());
    pill.menu()->close();
}

TEST(PillMenu, ItsMenuOpensUnderThePillAndStaysInsideTheScreen) {
    const QRect screen(0, 0, 760, 428);
    const QSize menu(120, 72);
    const struct {
        const char* name;
        QRect pill;
        QPoint expected;
    } cases[] = {
        {"room below", QRect(100, 200, 60, 30), QPoint(100, 230)},
        {"no room below: above the pill", QRect(100, 360, 60, 30), QPoint(100, 288)},
        {"near the right edge: pulled in", QRect(700, 100, 60, 30), QPoint(640, 130)},
        {"a pill left past the bottom: inside the screen", QRect(150, 790, 60, 30), QPoint(150, 356)},
        {"a pill left of the screen", QRect(-80, 100, 60, 30), QPoint(0, 130)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QPoint at = pillMenuPosition(c.pill, menu, screen);
        EXPECT_EQ(at, c.expected) << at.x() << "," << at.y();
        EXPECT_TRUE(screen.contains(QRect(at, menu)));
    }
}

TEST(PopupScreens, AnOpenPopUpIsPulledInsideItsScreensUsableArea) {
    // A second screen right of a first 1512 wide, a panel 28 high at its top.
    const QRect area(1512, 28, 760, 400);
    const struct {
        const char* name;
        QRect popup;
        QPoint expected;
    } cases[] = {
        {"inside: where it is", QRect(1600, 100, 200, 120), QPoint(1600, 100)},
        {"past the bottom right", QRect(2200, 790, 200, 120), QPoint(2072, 308)},
        {"under the panel", QRect(1700, 10, 200, 120), QPoint(1700, 28)},
        {"left of the screen", QRect(1400, 100, 200, 120), QPoint(1512, 100)},
        {"taller than the area: its top on the area's", QRect(1600, 300, 200, 500), QPoint(1600, 28)},
        {"wider than the area: its left on the area's", QRect(1700, 100, 900, 120), QPoint(1512, 100)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(placeInside(c.popup, area), c.expected);
    }
}

TEST(PopupScreens, AnOpenSubmenuGoesBesideItsMovedMenu) {
    const QRect area(0, 0, 760, 428);
    // Menus 170 wide, most moved from low on a larger screen.
    const QRect low(1300, 700, 170, 120);
    const struct {
        const char* name;
        QRect submenu;
        QRect parentWas;
        QRect parentNow;
        QPoint expected;
    } cases[] = {
        {"opened left: stays left, moved with its menu", QRect(1110, 740, 190, 96), low, QRect(590, 308, 170, 120),
         QPoint(400, 332)},
        {"opened right, no room there: goes left", QRect(1470, 740, 190, 96), low, QRect(590, 308, 170, 120),
         QPoint(400, 332)},
        {"opened right, room there: stays right", QRect(1470, 740, 190, 96), low, QRect(100, 200, 170, 120),
         QPoint(270, 240)},
        {"opened left, no room there: goes right", QRect(1110, 740, 190, 96), low, QRect(10, 200, 170, 120),
         QPoint(180, 240)},
        {"no room either side: pulled in over its menu", QRect(900, 740, 400, 96), low, QRect(300, 200, 170, 120),
         QPoint(0, 240)},
        {"its menu still, itself inside: where it is", QRect(410, 240, 190, 96), QRect(600, 200, 170, 120),
         QRect(600, 200, 170, 120), QPoint(410, 240)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(placeSubmenu(c.submenu, c.parentWas, c.parentNow, area), c.expected);
    }
}

// An open menu and its open submenu, low at the right of a larger screen,
// the submenu opened to the menu's left, come inside a smaller area: the
// menu is placed first and the submenu beside it, whichever of the two the
// application lists first (its list follows a hash, so either comes).
TEST(PopupScreens, AnOpenSubmenuAndItsMenuComeInsideInEitherOrder) {
    const QRect area(0, 0, 760, 428);
    for (const bool submenuFirst : {true, false}) {
        SCOPED_TRACE(submenuFirst ? "the submenu listed first" : "the menu listed first");
        QMenu menu;
        menu.addAction(QStringLiteral("Recording Codec"));
        QMenu* submenu = menu.addMenu(QStringLiteral("Notch"));
        for (const char* title : {"Show in the Notch", "Content", "Open", "Closing the Window"}) {
            submenu->addAction(QString::fromLatin1(title));
        }
        menu.addAction(QStringLiteral("Import LUT..."));
        menu.popup(QPoint(100, 100));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu, 5000));
        menu.setActiveAction(submenu->menuAction());
        if (!submenu->isVisible()) submenu->popup(QPoint(300, 100));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(submenu, 5000));
        ASSERT_EQ(menu.activeAction(), submenu->menuAction());
        menu.move(1300, 700);
        submenu->move(1300 - submenu->width(), 740);
        std::vector<QWidget*> popups{&menu, submenu};
        if (submenuFirst) std::reverse(popups.begin(), popups.end());
        keepPopupsInside(popups, area);
        EXPECT_TRUE(area.contains(menu.frameGeometry()));
        EXPECT_TRUE(area.contains(submenu->frameGeometry()));
        EXPECT_FALSE(submenu->frameGeometry().intersects(menu.frameGeometry()))
            << "the submenu at " << submenu->x() << "," << submenu->y() << " covers its menu at " << menu.x()
            << "," << menu.y();
        EXPECT_LT(submenu->x(), menu.x()) << "it stays on the side it opened to";
        menu.close();
    }
}

TEST(PillMenuLabel, ADisabledPillDimsItsFaceButNotItsSize) {
    // The brightest pixel of the face: the white title and symbols.
    const auto brightest = [](QWidget& widget) {
        const QImage image = widget.grab().toImage();
        int best = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) best = std::max(best, qGray(image.pixel(x, y)));
        }
        return best;
    };
    PillMenuLabel enabled("film", QStringLiteral("Format"), nullptr);
    PillMenuLabel disabled("film", QStringLiteral("Format"), nullptr);
    disabled.setEnabled(false);
    EXPECT_EQ(disabled.size(), enabled.size());
    const int lit = brightest(enabled);
    EXPECT_GT(lit, 200);
    EXPECT_LT(brightest(disabled), lit * 0.6);
    disabled.setEnabled(true);
    EXPECT_EQ(brightest(disabled), lit);
}

TEST(StatusPill, EachFigureHasItsOwnTooltip) {
    StatusPill pill(nullptr);
    StatusPillState state;
    state.figures = {{"battery.75percent", "60%", "Camera battery"},
                     {"sdcard", "1.5 GB", "Free space on the camera's microSD card"}};
    pill.setState(state);
    EXPECT_EQ(pill.height(), 30);
    EXPECT_EQ(pill.tooltipAt(QPoint(16, 15)), QStringLiteral("Camera battery"));
    EXPECT_EQ(pill.tooltipAt(QPoint(pill.width() - 16, 15)),
              QStringLiteral("Free space on the camera's microSD card"));
    StatusPill none(nullptr);
    EXPECT_EQ(none.width(), 24);  // still placed, with its insets alone
}

// Figures that all go leave the empty capsule, painted with its glass and
// its inner line, where the window placed it.
TEST(StatusPill, WithNoFigureLeftItIsAnEmptyCapsuleStillPainted) {
    QWidget root;
    root.resize(120, 50);
    root.setAutoFillBackground(true);
    QPalette black;
    black.setColor(QPalette::Window, Qt::black);
    root.setPalette(black);
    auto* pill = new StatusPill(&root);
    pill->move(10, 10);
    StatusPillState state;
    state.figures = {{"battery.75percent", "60%", "Camera battery"}};
    pill->setState(state);
    pill->setState(StatusPillState{});
    EXPECT_EQ(pill->size(), QSize(24, 30));
    const QImage image = root.grab().toImage();
    EXPECT_GT(image.pixelColor(22, 10).red(), 15) << "the inner line along the top";
    EXPECT_GT(image.pixelColor(22, 25).red(), 10) << "the glass inside";
    EXPECT_EQ(image.pixelColor(40, 25), QColor(Qt::black)) << "nothing past the capsule";
}

TEST(RecordPill, TicksOnTheRecordingsWholeSecondsByItsClock) {
    hollowkit::WallTime now = hollowkit::WallTime{} + 1000s;
    RecordPill pill([&] { return now; }, nullptr);
    RecordPillInputs inputs;
    inputs.hasPicture = true;
    inputs.recordingStarted = now - 61s - 400ms;
    pill.setInputs(inputs);
    EXPECT_EQ(pill.state().text, "01:01");
    EXPECT_TRUE(pill.state().ticking);
    EXPECT_EQ(pill.toolTip(), QStringLiteral("Stop recording (Ctrl+R)"));
    now += 600ms;
    pill.refresh();
    EXPECT_EQ(pill.state().text, "01:02");
    // Stopping ends the ticks and the pill reads idle again.
    inputs.recordingStarted.reset();
    pill.setInputs(inputs);
    EXPECT_FALSE(pill.state().ticking);
    EXPECT_EQ(pill.state().text, "00:00");
}

TEST(RecordPill, DisabledWhileComposingAndTakesClicksOnItsCapsule) {
    hollowkit::WallTime now{};
    RecordPill pill([&] { return now; }, nullptr);
    int clicks = 0;
    QObject::connect(&pill, &QAbstractButton::clicked, [&] { ++clicks; });
    RecordPillInputs inputs;
    inputs.hasPicture = true;
    pill.setInputs(inputs);
    pill.show();
    EXPECT_EQ(pill.height(), 40);
    QTest::mouseClick(&pill, Qt::LeftButton, {}, QPoint(pill.width() - 12, 20));  // past the text
    QTest::mouseClick(&pill, Qt::LeftButton, {}, QPoint(1, 1));                    // outside the round end
    EXPECT_EQ(clicks, 1);
    inputs.composeProgress = 0.5f;
    pill.setInputs(inputs);
    EXPECT_FALSE(pill.isEnabled());
    QTest::mouseClick(&pill, Qt::LeftButton, {}, QPoint(pill.width() / 2, 20));
    EXPECT_EQ(clicks, 1);
}

TEST(RecordPill, ChipWidensThePillAndHasItsOwnPlace) {
    hollowkit::WallTime now{};
    RecordPill pill([&] { return now; }, nullptr);
    RecordPillInputs inputs;
    inputs.hasPicture = true;
    pill.setInputs(inputs);
    const int plain = pill.width();
    EXPECT_TRUE(pill.chipRect().isEmpty());
    inputs.recordScreen = true;
    pill.setInputs(inputs);
    EXPECT_GT(pill.width(), plain + 30);
    EXPECT_LE(pill.chipRect().right(), pill.width() - 16 + 0.5);
}

}  // namespace
}  // namespace lumenhollow::ui
