#include "lumenhollow/ui/window/main_window.h"

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <vector>

#include <gtest/gtest.h>

#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/live_backdrop.h"
#include "lumenhollow/ui/window/scenes_button.h"
#include "lumenhollow/ui/window/sheet_card.h"
#include "lumenhollow/ui/window/sheet_host.h"
#include "lumenhollow/ui/window/tool_rail.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

// Records what the drag strip asks of the window.
class FakeWindowOps final : public WindowOps {
public:
    explicit FakeWindowOps(bool answers) : systemMoves_(answers) {}
    bool startSystemMove() override {
        ++systemMoves;
        return systemMoves_;
    }
    QPoint windowPosition() const override { return position; }
    void moveWindowTo(QPoint topLeft) override { position = topLeft; }
    void toggleMaximized() override { ++toggles; }

    int systemMoves = 0;
    int toggles = 0;
    QPoint position{100, 50};

private:
    const bool systemMoves_;
};

// Presses on the strip in the window: the move begins only once the
// pointer has gone the drag distance with the button held, so a click (the
// first of a double click among them) never leaves the window manager
// moving the window after its release.
TEST(MainWindowTest, TheDragStripMovesTheWindowAndNeverTheGimbal) {
    enum class Gesture : uint8_t { click, shortOfTheDistance, drag, doubleClick };
    struct Case {
        const char* name;
        bool windowManager;
        Gesture gesture;
        int systemMoves;
        int toggles;
        QPoint position;  // the window's, from {100, 50}
    };
    const int distance = QApplication::startDragDistance();
    const std::vector<Case> cases{
        {"a click moves nothing", true, Gesture::click, 0, 0, {100, 50}},
        {"a press held short of the drag distance moves nothing", true, Gesture::shortOfTheDistance, 0, 0,
         {100, 50}},
        {"a drag hands the move to the window manager", true, Gesture::drag, 1, 0, {100, 50}},
        {"without one the strip moves the window itself", false, Gesture::drag, 1, 0, {130, 70}},
        {"a double click maximises and moves nothing", true, Gesture::doubleClick, 0, 1, {100, 50}},
        {"so it does without a window manager", false, Gesture::doubleClick, 0, 1, {100, 50}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(false);
        MainWindow& window = h.show();
        auto ops = std::make_unique<FakeWindowOps>(c.windowManager);
        FakeWindowOps& fake = *ops;
        window.setWindowOps(std::move(ops));
        QWindow* handle = window.windowHandle();
        const QPoint at = window.dragArea().mapTo(&window, QPoint(600, 20));
        switch (c.gesture) {
        case Gesture::click:
            QTest::mouseClick(handle, Qt::LeftButton, {}, at);
            break;
        case Gesture::shortOfTheDistance:
            QTest::mousePress(handle, Qt::LeftButton, {}, at);
            QTest::mouseMove(handle, at + QPoint(distance - 1, 0));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, at + QPoint(distance - 1, 0));
            break;
        case Gesture::drag:
            QTest::mousePress(handle, Qt::LeftButton, {}, at);
            QTest::mouseMove(handle, at + QPoint(30, 20));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, at + QPoint(30, 20));
            break;
        case Gesture::doubleClick:
            QTest::mouseClick(handle, Qt::LeftButton, {}, at);
            QTest::mouseDClick(handle, Qt::LeftButton, {}, at);
            break;
        }
        EXPECT_EQ(fake.systemMoves, c.systemMoves);
        EXPECT_EQ(fake.toggles, c.toggles);
        EXPECT_EQ(fake.position, c.position);
        EXPECT_FALSE(window.input().isDragging());
        EXPECT_TRUE(h.velocity().isZero()) << "no gimbal drag from the strip";
    }
}

TEST(MainWindowTest, LayersSitOnThePictureAndLetPressesThrough) {
    WindowHarness h(false);
    h.emit(CameraEvent::stats(picture(1440, 1080)));
    MainWindow& window = h.show();
    window.resize(1152, 648);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.overlayLayer().parentWidget(), &window.surface());
    EXPECT_EQ(window.chromeLayer().parentWidget(), &window.surface());
    EXPECT_EQ(window.overlayLayer().geometry(), QRect(144, 0, 864, 648)) << "a 4:3 picture in 16:9";
    // A press on an empty part of the chrome is a drag of the picture: the
    // window's hit-testing passes it through.
    const QPoint empty = window.surface().mapTo(&window, QPoint(500, 300));
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, empty);
    EXPECT_TRUE(window.input().isDragging());
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, empty);
    EXPECT_FALSE(window.input().isDragging());
}

TEST(MainWindowTest, FramesReachThePictureAndGoWithTheCameraReplaced) {
    WindowHarness h;
    MainWindow& window = h.show();
    std::vector<uint8_t> pixels(64 * 36 * 4, 200);
    const hollowkit::PlaneView plane{pixels.data(), 64 * 4};
    h.feed->enqueue(hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::bgra, 64, 36, {&plane, 1}, {}));
    // The wake-up is posted to the GUI thread's event queue.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.surface().currentFrame().isNull(); }, 5000));
    h.model->connect(ConnectionMode::wireless);
    h.main.runUntilIdle();
    EXPECT_TRUE(window.surface().currentFrame().isNull()) << "no picture of the old camera stays";
}

TEST(MainWindowTest, MinimumSizeFollowsThePicturesOrientation) {
    WindowHarness h;
    MainWindow& window = h.show();
    EXPECT_EQ(window.surface().minimumSize(), QSize(760, 428)) << "16:9 before any picture";
    h.emit(CameraEvent::stats(picture(1080, 1920)));
    h.main.advance(CameraModel::kSettleDelay);
    h.main.runUntilIdle();
    EXPECT_EQ(window.surface().minimumSize(), QSize(420, 747));
}

TEST(MainWindowTest, TheBarAndTheRailFollowTheWindowsWidth) {
    struct Case {
        const char* name;
        int pictureWidth;
        int pictureHeight;
        QSize window;
        std::string connectionTitle;
        bool tools;
        bool rail;
    };
    const std::vector<Case> cases{
        {"wide", 1920, 1080, {1152, 648}, "Osmo Pocket \u00B7 USB", true, false},
        {"compact", 1920, 1080, {1000, 563}, "USB", true, false},
        {"portrait, narrow enough for the rail", 1080, 1920, {457, 812}, "USB", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        h.emit(CameraEvent::stats(picture(c.pictureWidth, c.pictureHeight)));
        h.main.advance(CameraModel::kSettleDelay);
        h.main.runUntilIdle();
        MainWindow& window = h.show();
        window.resize(c.window);
        QCoreApplication::processEvents();
        auto* bar = qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
        auto* rail = qobject_cast<ToolRail*>(window.chrome().slotWidget(ChromeColumn::Slot::toolRail));
        ASSERT_NE(bar, nullptr);
        ASSERT_NE(rail, nullptr);
        EXPECT_EQ(bar->state().connectionTitle, c.connectionTitle);
        EXPECT_EQ(bar->state().showsTools, c.tools);
        EXPECT_EQ(rail->isVisible(), c.rail);
        EXPECT_NE(qobject_cast<ScenesButton*>(window.chrome().slotWidget(ChromeColumn::Slot::scenesButton)), nullptr);
    }
}

TEST(MainWindowTest, SheetsFollowTheModelAndTheAlertsButtonsAct) {
    WindowHarness first(true, false);
    MainWindow& window = first.show();
    ASSERT_EQ(window.sheets().shown(), SheetKind::welcome) << "nothing was ever welcomed";
    QTest::mouseClick(window.sheets().button("Get Started"), Qt::LeftButton);
    first.main.runUntilIdle();
    EXPECT_FALSE(window.sheets().shown());
    EXPECT_FALSE(first.state().showWelcome);

    const struct {
        const char* button;
        bool relaunch;
        size_t terminationRequests;
    } cases[] = {{"Quit and Reopen", true, 1}, {"Cancel", false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        WindowHarness w;
        MainWindow& shown = w.show();
        shown.sheets().present(SheetKind::screenRecordingAlert);
        QPushButton* button = shown.sheets().button(c.button);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        w.main.runUntilIdle();
        EXPECT_EQ(w.model->relaunchOnQuit(), c.relaunch);
        EXPECT_EQ(w.shell.count("requestTermination"), c.terminationRequests);
        EXPECT_FALSE(shown.sheets().shown());
    }
}

TEST(MainWindowTest, TheOpenerReopensAClosedWindowAndBringsAnOpenOneForward) {
    WindowHarness h;
    MainWindowOpener opener(*h.modelSignals, *h.feed);
    EXPECT_FALSE(opener.bringForward()) << "nothing open yet";
    h.model->showMainWindow();
    ASSERT_NE(opener.window(), nullptr);
    QPointer<MainWindow> first = opener.window();
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(opener.bringForward());
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "a closed window is gone";
    EXPECT_FALSE(opener.bringForward());
    h.model->showMainWindow();
    ASSERT_NE(opener.window(), nullptr);
    EXPECT_TRUE(opener.window()->isVisible());
}

TEST(MainWindowTest, AWindowOpenedAgainShowsTheFramesAndTheirGlass) {
    // Closed as the window manager closes it, frames came with no window to
    // wake; the window opened again is woken by the next ones, its glass too.
    WindowHarness h;
    MainWindowOpener opener(*h.modelSignals, *h.feed);
    const auto frame = [](int width, int height) {
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4, 200);
        const hollowkit::PlaneView plane{pixels.data(), static_cast<size_t>(width) * 4};
        return hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::bgra, width, height, {&plane, 1}, {});
    };
    h.model->showMainWindow();
    QPointer<MainWindow> first = opener.window();
    ASSERT_TRUE(first);
    h.feed->enqueue(frame(64, 36));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !first->surface().currentFrame().isNull(); }, 5000));
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(first.isNull());
    h.feed->enqueue(frame(48, 27));
    QCoreApplication::processEvents();  // the wake-up finds no window

    h.model->showMainWindow();
    MainWindow* again = opener.window();
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(again, 5000));
    for (const int width : {32, 96}) {
        h.feed->enqueue(frame(width, width * 9 / 16));
        // The wake-up is posted to the GUI thread's event queue.
        EXPECT_TRUE(QTest::qWaitFor([&] { return again->surface().currentFrame().width() == width; }, 5000))
            << "the window opened again was not woken by a frame " << width << " wide";
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return again->glassBackdrop().backdrop().hasPicture(); }, 20000))
        << "the glass of the window opened again stays without a picture";
}

TEST(MainWindowTest, APopoverOpenAtTheCloseLeavesNoneBehindAndOpensAtTheNewWindow) {
    // A panel open when the window manager closes the window goes with it
    // and clears its flag; opened again from the new window, it stands at
    // that window's button and is in the accessible tree beside it.
    WindowHarness h;
    MainWindowOpener opener(*h.modelSignals, *h.feed);
    const auto shownPopovers = [] {
        std::vector<ui::Popover*> shown;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* popover = qobject_cast<ui::Popover*>(widget); popover && popover->isVisible()) {
                shown.push_back(popover);
            }
        }
        return shown;
    };
    h.model->showMainWindow();
    QPointer<MainWindow> first = opener.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first.data(), 5000));
    h.model->setShowScenes(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownPopovers().size() == 1; }, 5000));
    // Where it stands against its window, to compare the new window's with.
    const QRect firstPlace = shownPopovers().front()->geometry().translated(-first->geometry().topLeft());
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(first.isNull());
    EXPECT_FALSE(h.model->state().showScenes) << "the flag outlived the popover's window";
    EXPECT_TRUE(shownPopovers().empty());

    h.model->showMainWindow();
    MainWindow* again = opener.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(again, 5000));
    EXPECT_TRUE(shownPopovers().empty()) << "nothing opens by itself";
    h.model->setShowScenes(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownPopovers().size() == 1; }, 5000));
    ui::Popover* popover = shownPopovers().front();
    EXPECT_EQ(popover->anchor().window(), again) << "anchored in the window closed";
    EXPECT_EQ(popover->geometry().translated(-again->geometry().topLeft()), firstPlace)
        << "it does not stand where the first window's did";
    QAccessibleInterface* application = QAccessible::queryAccessibleInterface(qApp);
    ASSERT_NE(application, nullptr);
    bool windowListed = false;
    bool popoverListed = false;
    for (int i = 0; i < application->childCount(); ++i) {
        QAccessibleInterface* child = application->child(i);
        if (child && child->object() == again) windowListed = true;
        if (child && child->object() == popover) popoverListed = true;
    }
    EXPECT_TRUE(windowListed) << "the window opened again is not in the accessible tree";
    EXPECT_TRUE(popoverListed) << "its popover is not in the accessible tree";
    h.model->setShowScenes(false);
}

TEST(MainWindowTest, ASheetOpenAtTheCloseShowsWithTheWindowOpenedAgain) {
    // The model keeps a sheet open across the window manager's close: the
    // new window shows its card at once, over the whole window, and the
    // card takes the keyboard and presses as in the first window.
    WindowHarness h;
    MainWindowOpener opener(*h.modelSignals, *h.feed);
    h.model->showMainWindow();
    QPointer<MainWindow> first = opener.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first.data(), 5000));
    h.model->setShowShortcuts(true);
    h.main.runUntilIdle();
    ASSERT_EQ(first->sheets().shown(), SheetKind::shortcuts);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(first.isNull());
    ASSERT_TRUE(h.model->state().showShortcuts) << "the model's sheet is still open";

    h.model->showMainWindow();
    MainWindow* again = opener.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(again, 5000));
    SheetHost& sheets = again->sheets();
    ASSERT_EQ(sheets.shown(), SheetKind::shortcuts);
    ASSERT_NE(sheets.card(), nullptr);
    EXPECT_TRUE(sheets.isVisible() && sheets.card()->isVisible());
    EXPECT_EQ(sheets.geometry(), again->surface().rect()) << "the dimming does not cover the window";
    const QRect card = sheets.card()->geometry().translated(sheets.mapTo(again, QPoint()));
    EXPECT_TRUE(again->rect().contains(card)) << "the card lies outside the window: " << card.x() << "," << card.y()
                                              << " " << card.width() << "x" << card.height();
    QPushButton* done = sheets.button("Done");
    ASSERT_NE(done, nullptr);
    ASSERT_TRUE(done->isVisible());
    const QPoint atDone = done->mapTo(again, done->rect().center());
    EXPECT_EQ(again->childAt(atDone), done) << "a press on the card's button lands elsewhere";

    // Keys go where a user's go, to the window's focus: one the picture
    // would take stays with the card, and Escape closes it.
    const auto press = [&](Qt::Key key) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : static_cast<QWidget*>(again), key);
        h.main.runUntilIdle();
    };
    press(Qt::Key_Left);
    EXPECT_TRUE(h.commands().empty()) << "an arrow reached the picture beneath the sheet";
    press(Qt::Key_Escape);
    EXPECT_FALSE(h.model->state().showShortcuts) << "Escape did not reach the card";
    EXPECT_FALSE(sheets.shown());
}

}  // namespace
}  // namespace lumenhollow::test
