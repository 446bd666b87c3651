// The sizer on the real main window (offscreen): which events reach a fit,
// when, and to which window it is attached. The fitting rules themselves are
// computeFit's, tested alone.

#include "lumenhollow/ui/shell/window_sizer.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "../ui_harness.h"
#include "lumenhollow/ui/shell/sizer_attachment.h"
#include "lumenhollow/ui/window/chrome_layout.h"
#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;
using hollowkit::CameraEvent;
using test::picture;

const QRect kLaptopArea(0, 0, 1512, 944);

struct SizerHarness : test::WindowHarness {
    std::unique_ptr<WindowSizer> sizer;

    // The screen's usable area, which a test may change as if the window
    // went to another screen.
    QRect area = kLaptopArea;
    std::optional<QRect> strip;

    // `asTheApplication`: with the content's own minimum and the island's
    // strip, as the application gives them.
    explicit SizerHarness(QRect start = QRect(180, 40, 1152, 648), bool asTheApplication = false) {
        emit(CameraEvent::stats(picture(1920, 1080)));
        show();
        window->setGeometry(start);
        QCoreApplication::processEvents();
        WindowSizer::Options options;
        // The window's frame (the platform's decoration) lies outside the
        // laptop's area, so the content has all of it.
        options.availableArea = [this](const QWidget& shown) {
            const QRect frame = shown.frameGeometry();
            const QRect content = shown.geometry();
            return area.adjusted(frame.left() - content.left(), frame.top() - content.top(),
                                        frame.right() - content.right(), frame.bottom() - content.bottom());
        };
        if (asTheApplication) {
            options.keepClearOf = [this] { return strip; };
            options.contentMinimum = [](double aspect) {
                const SizeF minimum = minimumContentSize(aspect);
                return QSize(static_cast<int>(minimum.width), static_cast<int>(minimum.height));
            };
            options.floor = FitFloor{static_cast<int>(kRailBelowWidth),
                                     FitSize{static_cast<int>(kRailFloor.width), static_cast<int>(kRailFloor.height)},
                                     FitSize{static_cast<int>(kWideFloor.width), static_cast<int>(kWideFloor.height)}};
        }
        sizer = std::make_unique<WindowSizer>(*modelSignals, main, options);
    }
    ~SizerHarness() { sizer.reset(); }

    // Lets the window system's answers and the executor's ready work run.
    void settle() {
        QCoreApplication::processEvents();
        main.runUntilIdle();
        QCoreApplication::processEvents();
    }
    void advance(std::chrono::milliseconds span) {
        QCoreApplication::processEvents();
        main.advance(span);
        QCoreApplication::processEvents();
    }
    // The camera turns to portrait and stays so until the model settles it.
    void turnPortrait() {
        emit(CameraEvent::stats(picture(1080, 1920)));
        main.advanceSeconds(3.5);
        settle();
    }
    QRect geometry() const { return window->geometry(); }
};

TEST(WindowSizerTest, ASettledPortraitPictureTurnsTheAttachedWindow) {
    SizerHarness h;
    h.sizer->attach(h.window.get());
    h.settle();
    EXPECT_EQ(h.geometry(), QRect(180, 40, 1152, 648));
    h.turnPortrait();
    EXPECT_EQ(h.geometry(), QRect(528, 40, 457, 812));
    // And back: the landscape size it had.
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.main.advanceSeconds(3.5);
    h.settle();
    EXPECT_EQ(h.geometry(), QRect(180, 40, 1152, 648));
}

TEST(WindowSizerTest, AFullScreenOrMaximisedWindowIsLeftAlone) {
    for (const bool fullScreen : {false, true}) {
        SCOPED_TRACE(fullScreen ? "full screen" : "maximised");
        SizerHarness h;
        h.sizer->attach(h.window.get());
        if (fullScreen) {
            h.window->showFullScreen();
        } else {
            h.window->showMaximized();
        }
        h.settle();
        const QRect before = h.geometry();
        h.turnPortrait();
        EXPECT_EQ(h.geometry(), before);
    }
}

TEST(WindowSizerTest, AUserResizeIsFittedOnceItHasBeenStillFor300Milliseconds) {
    SizerHarness h(QRect(100, 100, 1152, 648));
    h.sizer->attach(h.window.get());
    h.settle();
    struct Step {
        const char* name;
        std::optional<QSize> resizeTo;  // the user's drag, or time passing
        std::chrono::milliseconds wait;
        QSize expected;
    };
    const std::vector<Step> steps{
        {"dragging the bottom edge", QSize(1152, 700), 200ms, QSize(1152, 700)},
        {"still dragging: the wait starts again", QSize(1152, 720), 200ms, QSize(1152, 720)},
        {"just short of still long enough", std::nullopt, 99ms, QSize(1152, 720)},
        {"still: the height the user chose stays", std::nullopt, 1ms, QSize(1280, 720)},
        {"the sizer's own change is no user resize", std::nullopt, 1000ms, QSize(1280, 720)},
        {"dragging the right edge", QSize(1400, 720), 300ms, QSize(1400, 788)},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.resizeTo) h.window->resize(*step.resizeTo);
        h.advance(step.wait);
        EXPECT_EQ(h.geometry().size(), step.expected);
        EXPECT_EQ(h.geometry().topLeft(), QPoint(100, 100));
    }
}

// On the smallest screen the window goes under the island's strip and its
// minimum drops to what that screen holds there; on a screen that holds the
// content's own minimum, that minimum holds again and the window cannot be
// made smaller than it, however small an earlier screen was.
TEST(WindowSizerTest, TheSmallestScreensMinimumHoldsOnlyThere) {
    // Each screen with the island's strip centred at its top.
    const auto stripOn = [](const QRect& screen) { return QRect(screen.center().x() - 110, 0, 222, 42); };
    const QRect smallest(0, 0, 760, 428);
    const QSize own(760, 428);
    SizerHarness h(smallest, true);
    const struct {
        const char* name;
        QRect area;
        bool holdsOwnMinimum;
    } screens[] = {
        {"the smallest screen", smallest, false},
        {"a screen that holds the minimum", kLaptopArea, true},
        {"the smallest screen again", smallest, false},
        {"a larger one once more", QRect(0, 0, 1024, 600), true},
    };
    bool attached = false;
    for (const auto& screen : screens) {
        SCOPED_TRACE(screen.name);
        h.area = screen.area;
        h.strip = stripOn(screen.area);
        if (!attached) {
            h.sizer->attach(h.window.get());
            attached = true;
        } else {
            h.sizer->fit();
        }
        h.settle();
        EXPECT_GT(h.geometry().top(), h.strip->bottom()) << "under the island's strip";
        EXPECT_LE(h.geometry().bottom(), screen.area.bottom());
        if (screen.holdsOwnMinimum) {
            EXPECT_EQ(h.surface().minimumSize(), own);
            // A user's resize below it: the window stays at the minimum.
            h.window->resize(600, 340);
            h.settle();
            EXPECT_GE(h.surface().width(), own.width());
            EXPECT_GE(h.surface().height(), own.height());
        } else {
            EXPECT_LT(h.surface().minimumHeight(), own.height());
            EXPECT_LT(h.window->minimumHeight(), own.height());
        }
    }
}

TEST(WindowSizerTest, OnlyWindowsThatCanBeTheMainOneCount) {
    const struct {
        Qt::WindowFlags flags;
        bool expected;
    } cases[] = {
        {Qt::Window, true},
        {Qt::Window | Qt::WindowStaysOnTopHint, true},
        {Qt::Dialog, false},
        {Qt::Sheet, false},
        {Qt::Popup, false},
        {Qt::Tool, false},
        {Qt::ToolTip, false},
        {Qt::SplashScreen, false},
        {Qt::Window | Qt::BypassWindowManagerHint, false},
        {Qt::Window | Qt::X11BypassWindowManagerHint, false},
        {Qt::Widget, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.flags));
        EXPECT_EQ(canBecomeMainWindow(c.flags), c.expected);
    }
}

TEST(WindowSizerTest, TheSizerFollowsTheMainCapableWindowThatBecomesActive) {
    SizerHarness h;
    attachSizerToFirstWindowLater(*h.sizer, h.main);
    EXPECT_EQ(h.sizer->window(), nullptr);
    h.settle();
    EXPECT_EQ(h.sizer->window(), h.window.get());

    attachSizerOnActivation(*h.sizer);
    QWidget other;
    QWidget panel(nullptr, Qt::Tool);
    const auto activate = [](QWidget& window) {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window, 5000);
    };
    ASSERT_TRUE(activate(other));
    EXPECT_EQ(h.sizer->window(), &other);
    ASSERT_TRUE(activate(panel));
    EXPECT_EQ(h.sizer->window(), &other);
    ASSERT_TRUE(activate(*h.window));
    EXPECT_EQ(h.sizer->window(), h.window.get());
}

}  // namespace
}  // namespace lumenhollow
