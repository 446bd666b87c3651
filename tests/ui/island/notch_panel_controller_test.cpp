// The island's controller on a fake pointer, fake screens and the model's
// manual clock: one test per family of transitions.

#include "lumenhollow/ui/island/notch_panel_controller.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "island_fakes.h"
#include "lumenhollow/ui/island/notch_panel.h"
#include "lumenhollow/ui/island/notch_view.h"

namespace lumenhollow::ui {
namespace {

using test::FakeScreenSource;
using test::IslandHarness;

TEST(NotchPanelController, HoverOpensOnlyAfterTheDelay) {
    IslandHarness h;
    ASSERT_TRUE(h.controller->isShown());
    EXPECT_TRUE(h.input.passThrough()) << "clicks pass until the pointer is found over the island";

    h.pointer.moveTo(h.islandCentre());
    EXPECT_FALSE(h.input.passThrough());
    h.advance(0.11);
    EXPECT_FALSE(h.expanded()) << "not before 0.12 s";
    h.advance(0.02);
    EXPECT_TRUE(h.expanded());
    EXPECT_EQ(h.controller->islandRect().size(), QSize(520, 381));

    // Moves inside the open island schedule nothing more.
    h.pointer.moveTo(h.islandCentre() + QPoint(100, 50));
    h.advance(1.0);
    EXPECT_TRUE(h.expanded());
}

TEST(NotchPanelController, AFastCrossingDoesNotOpen) {
    IslandHarness h;
    struct Crossing {
        std::string name;
        double secondsInside;
        bool buttonHeld;
        bool opens;
    };
    const std::vector<Crossing> crossings = {
        {"crossed in 0.1 s", 0.10, false, false},
        {"rested 0.13 s", 0.13, false, true},
        // Dragging a window past the notch still opens it on hover.
        {"rested with a button held", 0.13, true, true},
    };
    for (const Crossing& c : crossings) {
        h.pointer.setButtons(c.buttonHeld);
        h.pointer.moveTo(h.islandCentre());
        h.advance(c.secondsInside);
        h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
        h.pointer.setButtons(false);
        EXPECT_TRUE(h.input.passThrough()) << c.name;
        EXPECT_EQ(h.expanded(), c.opens) << c.name;
        h.advance(2.0);
        EXPECT_FALSE(h.expanded()) << c.name << ": closes once the pointer is away";
    }
}

TEST(NotchPanelController, LeavingClosesAfterTheDelayUnlessThePointerReturns) {
    IslandHarness h;
    h.pointer.moveTo(h.islandCentre());
    h.advance(0.2);
    ASSERT_TRUE(h.expanded());
    const QRect open = h.controller->islandRect();

    // Within 6 px of the open island still counts as over it.
    h.pointer.moveTo(QPoint(open.center().x(), open.bottom() + 6));
    h.advance(1.0);
    EXPECT_TRUE(h.expanded());
    EXPECT_FALSE(h.input.passThrough());

    // Out and back within 0.45 s: stays open.
    h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
    h.advance(0.3);
    h.pointer.moveTo(open.center());
    h.advance(1.0);
    EXPECT_TRUE(h.expanded());

    h.pointer.moveTo(QPoint(open.center().x(), open.bottom() + 7));
    EXPECT_TRUE(h.input.passThrough());
    h.advance(0.44);
    EXPECT_TRUE(h.expanded()) << "not before 0.45 s";
    h.advance(0.02);
    EXPECT_FALSE(h.expanded());
    EXPECT_EQ(h.controller->islandRect().size(), QSize(210, 30));
}

TEST(NotchPanelController, ClickTriggerAndTaps) {
    IslandHarness h;
    // With the hover trigger a tap on the collapsed island does nothing.
    h.pointer.moveTo(h.islandCentre());
    h.controller->islandTapped();
    EXPECT_FALSE(h.expanded());
    h.advance(0.2);
    ASSERT_TRUE(h.expanded());
    h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
    h.advance(0.5);
    ASSERT_FALSE(h.expanded());

    h.model->setNotchTrigger(NotchTrigger::click);
    h.pointer.moveTo(h.islandCentre());
    h.advance(1.0);
    EXPECT_FALSE(h.expanded()) << "hovering never opens with the click trigger";
    EXPECT_FALSE(h.input.passThrough()) << "but the panel takes the click";

    // A click on the island's view reaches the controller and opens it.
    NotchView& view = h.controller->view();
    const QPoint inView = view.look().island.toRect().center();
    QTest::mouseClick(&view, Qt::LeftButton, {}, inView);
    EXPECT_TRUE(h.expanded());
    // A tap on the open island changes nothing.
    QTest::mouseClick(&view, Qt::LeftButton, {}, view.look().island.toRect().center());
    EXPECT_TRUE(h.expanded());
    // A click in the panel's empty area is not a tap on the island.
    h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
    h.advance(0.5);
    ASSERT_FALSE(h.expanded()) << "leaving closes it with the click trigger too";
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(300, 400));
    EXPECT_FALSE(h.expanded());
}

TEST(NotchPanelController, AClosedIslandLeavesNoTimerBehind) {
    IslandHarness h;
    h.model->setNotchTrigger(NotchTrigger::click);
    h.pointer.moveTo(h.islandCentre());
    h.controller->islandTapped();
    ASSERT_TRUE(h.expanded());
    // Away: a close waits 0.45 s. Closed and opened again by taps meanwhile,
    // the island then gets its own full 0.45 s, not the rest of the old one.
    h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
    h.advance(0.1);
    h.controller->islandTapped();
    ASSERT_FALSE(h.expanded());
    h.advance(0.1);
    h.controller->islandTapped();
    ASSERT_TRUE(h.expanded());
    h.advance(0.3);
    EXPECT_TRUE(h.expanded()) << "0.5 s after the first close was scheduled";
    h.advance(0.2);
    EXPECT_FALSE(h.expanded());
}

TEST(NotchPanelController, PinKeepsItOpenAndSurvivesCollapsingAndHiding) {
    IslandHarness h;
    h.pointer.moveTo(h.islandCentre());
    h.advance(0.2);
    h.controller->togglePinned();
    h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
    h.advance(2.0);
    EXPECT_TRUE(h.expanded()) << "pinned";

    // Unpinning with the pointer away starts the close at once.
    h.controller->togglePinned();
    h.advance(0.44);
    EXPECT_TRUE(h.expanded());
    h.advance(0.02);
    EXPECT_FALSE(h.expanded());

    // The pin stays on across hiding and the island's next opening.
    h.controller->togglePinned();
    h.model->setShowInNotch(false);
    h.model->setShowInNotch(true);
    EXPECT_TRUE(h.controller->state().pinned);
    h.pointer.moveTo(h.islandCentre());
    h.advance(0.2);
    h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
    h.advance(2.0);
    EXPECT_TRUE(h.expanded());
}

TEST(NotchPanelController, AHeldButtonKeepsTheOpenIslandAsItIs) {
    IslandHarness h;
    h.pointer.moveTo(h.islandCentre());
    h.advance(0.2);
    ASSERT_TRUE(h.expanded());
    // A drag that began on the preview leaves the island.
    h.pointer.setButtons(true);
    h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
    h.advance(2.0);
    EXPECT_TRUE(h.expanded());
    EXPECT_FALSE(h.input.passThrough()) << "the panel keeps the drag";
    // Released away from the island: the close starts with that report.
    h.pointer.setButtons(false);
    EXPECT_TRUE(h.input.passThrough());
    h.advance(0.46);
    EXPECT_FALSE(h.expanded());
}

TEST(NotchPanelController, ShowInNotchHidesAndCancelsWhatWasPending) {
    IslandHarness h;
    // Open, then turned off: closed at once and hidden.
    h.pointer.moveTo(h.islandCentre());
    h.advance(0.2);
    ASSERT_TRUE(h.previewActive());
    h.model->setShowInNotch(false);
    EXPECT_FALSE(h.controller->isShown());
    EXPECT_FALSE(h.expanded());
    EXPECT_FALSE(h.previewActive());
    h.model->setShowInNotch(true);
    EXPECT_TRUE(h.controller->isShown());
    EXPECT_FALSE(h.expanded());

    // Turned off while an opening waits: the hidden island never opens.
    h.pointer.moveTo(h.belowIsland() + QPoint(0, 200));
    h.advance(1.0);
    h.pointer.moveTo(h.islandCentre());
    h.advance(0.05);
    h.model->setShowInNotch(false);
    h.advance(1.0);
    EXPECT_FALSE(h.expanded());
    EXPECT_FALSE(h.previewActive());
    // Pointer moves while hidden do nothing.
    h.pointer.moveTo(h.islandCentre() + QPoint(1, 0));
    h.advance(1.0);
    EXPECT_FALSE(h.expanded());
    h.model->setShowInNotch(true);
    EXPECT_FALSE(h.expanded()) << "shown again collapsed";

}

TEST(NotchPanelController, PreviewFlagFollowsOpenAndContent) {
    IslandHarness h;
    struct Row {
        bool open;
        NotchContent content;
        bool active;
    };
    const std::vector<Row> rows = {{false, NotchContent::preview, false},
                                   {true, NotchContent::preview, true},
                                   {true, NotchContent::controls, false},
                                   {false, NotchContent::controls, false},
                                   {true, NotchContent::preview, true}};
    h.model->setNotchTrigger(NotchTrigger::click);
    h.pointer.moveTo(h.islandCentre());
    for (const Row& row : rows) {
        h.model->setNotchContent(row.content);
        if (row.open != h.expanded()) h.controller->islandTapped();
        ASSERT_EQ(h.expanded(), row.open);
        EXPECT_EQ(h.previewActive(), row.active) << row.open << " " << toString(row.content);
    }
    // Switching the content while open changes the flag at once.
    h.model->setNotchContent(NotchContent::controls);
    EXPECT_FALSE(h.previewActive());
    EXPECT_EQ(h.controller->islandRect().size(), QSize(520, 94));
}

TEST(NotchPanelController, FollowsTheScreensOnceAndWaitsWithoutAny) {
    IslandHarness h;
    QSignalSpy moved(h.controller.get(), &NotchPanelController::geometryChanged);
    // A burst of screen changes moves the panel once, onto the notched screen.
    h.screens.set({FakeScreenSource::plainScreen()});
    h.screens.set({FakeScreenSource::plainScreen(), FakeScreenSource::notchedScreen()});
    h.main.runUntilIdle();
    EXPECT_EQ(moved.count(), 1);
    EXPECT_TRUE(h.controller->state().geometry.hasNotch);
    EXPECT_EQ(h.controller->panelFrame(), QRect(456, 0, 600, 460));
    EXPECT_EQ(h.controller->panel().geometry(), QRect(456, 0, 600, 460));
    EXPECT_EQ(h.controller->islandRect(), QRect(578, 0, 356, 32));

    // Also while hidden.
    h.model->setShowInNotch(false);
    h.screens.set({FakeScreenSource::plainScreen()});
    h.main.runUntilIdle();
    EXPECT_FALSE(h.controller->state().geometry.hasNotch);
    EXPECT_FALSE(h.controller->isShown());
    h.model->setShowInNotch(true);
    EXPECT_EQ(h.controller->panel().geometry(), QRect(660, 6, 600, 460));

    // No screen at all: hidden, the last geometry kept, shown again with a screen.
    h.pointer.moveTo(h.islandCentre());
    h.screens.set({});
    h.main.runUntilIdle();
    h.advance(0.2);
    EXPECT_FALSE(h.controller->isShown());
    EXPECT_FALSE(h.expanded()) << "the pending opening went with the screen";
    EXPECT_EQ(h.controller->panelFrame(), QRect(660, 6, 600, 460));
    h.screens.set({FakeScreenSource::notchedScreen()});
    h.main.runUntilIdle();
    EXPECT_TRUE(h.controller->isShown());
    EXPECT_EQ(h.controller->panelFrame(), QRect(456, 0, 600, 460));
}

TEST(NotchPanelController, ThePointerIsWatchedOnlyWhileTheIslandShows) {
    IslandHarness h;
    struct Step {
        std::string name;
        std::function<void(IslandHarness&)> act;
        bool watched;
    };
    const std::vector<Step> steps = {
        {"shown", [](IslandHarness&) {}, true},
        {"open",
         [](IslandHarness& s) {
             s.pointer.moveTo(s.islandCentre());
             s.advance(0.2);
         },
         true},
        {"\"Show in the Notch\" off", [](IslandHarness& s) { s.model->setShowInNotch(false); }, false},
        {"the screens change while hidden",
         [](IslandHarness& s) {
             s.screens.set({FakeScreenSource::notchedScreen()});
             s.main.runUntilIdle();
         },
         false},
        {"on again", [](IslandHarness& s) { s.model->setShowInNotch(true); }, true},
        {"every screen gone",
         [](IslandHarness& s) {
             s.screens.set({});
             s.main.runUntilIdle();
         },
         false},
        {"a screen again",
         [](IslandHarness& s) {
             s.screens.set({FakeScreenSource::plainScreen()});
             s.main.runUntilIdle();
         },
         true},
    };
    for (const Step& step : steps) {
        step.act(h);
        EXPECT_EQ(h.pointer.watching(), step.watched) << step.name;
    }
    h.controller.reset();
    EXPECT_FALSE(h.pointer.watching()) << "the island gone";
}

TEST(NotchPanelController, PassingThroughThePanelStillTakesTheIslandsHoverArea) {
    // On the plain 1920x1080 screen, in the panel's coordinates: the island
    // grown by 6 on each side, cut where the panel begins.
    IslandHarness h;
    EXPECT_TRUE(h.input.passThrough());
    EXPECT_EQ(h.input.islandArea(), QRect(189, 0, 222, 36)) << "the closed pill";
    h.pointer.moveTo(h.islandCentre());
    h.advance(0.2);
    ASSERT_TRUE(h.expanded());
    EXPECT_EQ(h.input.islandArea(), QRect(34, 0, 532, 387)) << "open on the picture";
    h.model->setNotchContent(NotchContent::controls);
    EXPECT_EQ(h.input.islandArea(), QRect(34, 0, 532, 100)) << "open on the controls";
}

TEST(NotchPanelController, StartsHiddenWithoutAScreen) {
    test::IslandHarness noScreen(std::vector<ScreenInfo>{});
    EXPECT_FALSE(noScreen.controller->isShown());
    EXPECT_FALSE(noScreen.pointer.watching());
    EXPECT_EQ(noScreen.controller->islandRect().size(), QSize(210, 30));
}

}  // namespace
}  // namespace lumenhollow::ui
