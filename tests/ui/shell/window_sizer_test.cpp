// The sizer on the real main window (offscreen): which events reach a fit,
// when, and to which window it is attached. The fitting rules themselves are
// computeFit's, tested alone.

#include "lumenhollow/ui/shell/window_sizer.h"

#include <QApplication>
#include <QMenuBar>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
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
    // The window manager's frame around the window, as the test tells it
    // (with `Sizing::framed`), and a pointer button held.
    QMargins frame;
    bool held = false;
    // Every rectangle the sizer asked for; the next `dropped` of them never
    // reach the window system, as when its answer merges with a configure
    // of the window manager's own.
    std::vector<QRect> requests;
    int dropped = 0;
    // What the window manager grants less than each request asks for.
    QSize grantedLess{0, 0};

    enum class Sizing { plain, asTheApplication, framed };

    // `asTheApplication`: with the content's own minimum, the island's strip
    // and a menu bar in the window, as the application gives them;
    // `framed`: that, with the window manager's frame and buttons the test's.
    explicit SizerHarness(QRect start = QRect(180, 40, 1152, 648), Sizing sizing = Sizing::plain) {
        emit(CameraEvent::stats(picture(1920, 1080)));
        show();
        if (sizing != Sizing::plain) {
            auto* bar = new QMenuBar(window.get());
            bar->addMenu(QStringLiteral("Camera"));
            window->setMenuBar(bar);
        }
        window->setGeometry(start);
        QCoreApplication::processEvents();
        WindowSizer::Options options;
        // The window's frame (the platform's decoration) lies outside the
        // laptop's area, so the content has all of it.
        options.availableArea = [this, sizing](const QWidget& shown) {
            if (sizing == Sizing::framed) return area;
            const QRect outer = shown.frameGeometry();
            const QRect content = shown.geometry();
            return area.adjusted(outer.left() - content.left(), outer.top() - content.top(),
                                 outer.right() - content.right(), outer.bottom() - content.bottom());
        };
        if (sizing == Sizing::framed) {
            options.frameMargins = [this](const QWidget&) { return std::optional<QMargins>(frame); };
            options.pointerHeld = [this] { return held; };
        }
        options.place = [this](QWidget& shown, const QRect& content) {
            requests.push_back(content);
            if (dropped > 0) {
                --dropped;
                return;
            }
            shown.windowHandle()->setGeometry(QRect(content.topLeft(), content.size() - grantedLess));
        };
        if (sizing != Sizing::plain) {
            options.keepClearOf = [this] { return strip; };
            options.contentMinimum = [](double aspect) {
                const SizeF minimum = minimumContentSize(aspect);
                return QSize(static_cast<int>(minimum.width), static_cast<int>(minimum.height));
            };
            options.floor = FitFloor{static_cast<int>(kRailBelowWidth),
                                     FitSize{static_cast<int>(kRailFloor.width), static_cast<int>(kRailFloor.height)},
                                     FitSize{static_cast<int>(kWideFloor.width), static_cast<int>(kWideFloor.height)},
                                     static_cast<int>(kWideShortestHeight)};
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
    // The menu bar's rows above the picture.
    int bar() const { return window->menuWidget() ? window->menuWidget()->height() : 0; }
    // Places the window at `topLeft` with a picture part of `picture` under its bar.
    void placePicture(QPoint topLeft, QSize picture) {
        window->setGeometry(QRect(topLeft, picture + QSize(0, bar())));
        QCoreApplication::processEvents();
    }
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

// Turning upright with the application's content minimum: the new minimum
// grows the window (still at its landscape size while the window system's
// answer is on its way) and asks for that size after the sizer's request;
// the sizer asks again, so the window takes the upright fit: 0.86 of the
// screen's height under the menu bar, 9:16 to the pixel.
TEST(WindowSizerTest, AnUprightTurnCrossedByTheNewMinimumEndsAtTheUprightFit) {
    SizerHarness h(QRect(180, 40, 1152, 669), SizerHarness::Sizing::asTheApplication);
    h.placePicture(QPoint(180, 40), QSize(1152, 648));
    h.sizer->attach(h.window.get());
    h.settle();
    ASSERT_EQ(h.geometry().size(), QSize(1152, 648 + h.bar()));
    h.turnPortrait();
    h.advance(1s);
    const double picture = 0.86 * (kLaptopArea.height() - h.bar());
    EXPECT_EQ(h.geometry().size(), QSize(static_cast<int>(std::lround(picture * 9.0 / 16.0)),
                                         static_cast<int>(std::lround(picture)) + h.bar()));
    EXPECT_EQ(h.geometry().top(), 40);
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

// A live resize under a window manager: the corner dragged from 1152 x 669
// by -100, -100 and held there, then let go. While the button is held the
// window manager's drag goes on, and it configures the window once more
// when the button is let go; a fit made before would be undone by it (the
// window kept its width and took a new height from it, 1052 x 613). Fitted
// after the release, the height the user chose stays and the width follows
// the picture: 974 x 569, the menu bar's 21 rows above a 16:9 picture.
TEST(WindowSizerTest, ALiveResizeIsFittedOnlyOnceItsButtonIsLetGo) {
    SizerHarness h(QRect(100, 100, 1152, 669), SizerHarness::Sizing::framed);
    h.placePicture(QPoint(100, 100), QSize(1152, 648));
    h.sizer->attach(h.window.get());
    h.settle();
    ASSERT_EQ(h.geometry().size(), QSize(1152, 648 + h.bar()));
    const QSize dragged(1052, 548 + h.bar());
    const QSize fitted(974, 548 + h.bar());
    struct Step {
        const char* name;
        std::function<void()> act;
        std::chrono::milliseconds wait;
        QSize expected;
    };
    const std::vector<Step> steps{
        {"the corner dragged, the button held",
         [&] {
             h.held = true;
             h.window->windowHandle()->resize(dragged);
         },
         300ms, dragged},
        {"held still for long", [] {}, 2000ms, dragged},
        // The window manager ends its drag with a configure of the size it
        // left, which the window has already.
        // The sizer asks whether the button is still held once every quiet
        // spell, and waits one more after the release (the window manager's
        // last configure may be on its way), so the fit comes within two.
        {"let go: the window manager configures the window as its drag left it",
         [&] {
             h.held = false;
             h.window->windowHandle()->resize(dragged);
         },
         300ms, dragged},
        {"a still spell after the release: fitted to the height chosen", [] {}, 300ms, fitted},
        {"and left so", [] {}, 2000ms, fitted},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        h.advance(step.wait);
        EXPECT_EQ(h.geometry().size(), step.expected);
        EXPECT_EQ(h.surface().width(), h.window->windowHandle()->width()) << "the content laid out at another width";
    }
    EXPECT_EQ(h.geometry().topLeft(), QPoint(100, 100));
}

// A window manager slower than the X server on a busy machine: the button
// is up, but its drag's last moves are still to come when the sizer fits,
// so the fit is made from the drag's size but one (1112 x 629, asked as
// 1081 x 629). The window manager's last configure (1052 x 569) then comes
// first, and the request it overtook is granted after it, undoing the size
// the user chose; the sizer fits the user's size again, whether the grant
// comes before that fit is asked or while its answer is on its way.
TEST(WindowSizerTest, ARequestGrantedAfterTheLiveResizesLastConfigureIsFittedAgain) {
    const struct {
        const char* name;
        bool grantedAfterTheNextFit;
    } cases[] = {
        {"granted before the next fit", false},
        {"granted while the next fit's answer is on its way", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SizerHarness h(QRect(100, 100, 1152, 669), SizerHarness::Sizing::framed);
        h.placePicture(QPoint(100, 100), QSize(1152, 648));
        h.sizer->attach(h.window.get());
        h.settle();
        ASSERT_EQ(h.geometry().size(), QSize(1152, 648 + h.bar()));
        const QSize lastButOne(1112, 608 + h.bar());
        const QSize dragged(1052, 548 + h.bar());
        const QSize fitted(974, 548 + h.bar());
        h.held = true;
        h.window->windowHandle()->resize(lastButOne);
        h.advance(300ms);
        h.held = false;
        h.requests.clear();
        h.dropped = c.grantedAfterTheNextFit ? 2 : 1;
        h.advance(300ms);
        h.advance(300ms);
        ASSERT_EQ(h.requests.size(), 1u) << "fitted from the drag's size but one";
        const QRect overtaken = h.requests.front();
        ASSERT_EQ(overtaken.size(), QSize(1081, 608 + h.bar()));
        // The window manager's last configure, then its grant of the request
        // it overtook.
        h.window->windowHandle()->resize(dragged);
        QCoreApplication::processEvents();
        ASSERT_EQ(h.geometry().size(), dragged);
        if (c.grantedAfterTheNextFit) {
            h.advance(300ms);
            ASSERT_EQ(h.requests.size(), 2u);
            ASSERT_EQ(h.requests.back().size(), fitted);
            h.window->windowHandle()->setGeometry(overtaken);
            QCoreApplication::processEvents();
            h.window->windowHandle()->setGeometry(h.requests.back());
        } else {
            h.window->windowHandle()->setGeometry(overtaken);
        }
        for (int spell = 0; spell < 4; ++spell) {
            h.advance(300ms);
            EXPECT_EQ(h.surface().width(), h.window->windowHandle()->width())
                << "the content laid out at another width";
        }
        EXPECT_EQ(h.geometry(), QRect(QPoint(100, 100), fitted));
    }
}

// The sizer's request crossed by a configure of the window manager's own:
// the window system's answer to it reports the size the window had, so no
// answer of the size asked for ever comes (X11 merges the two configure
// notices into the last). The content stays laid out at the window's real
// size, and the request is asked again; a window manager that never grants
// it is asked a few times, then left alone.
TEST(WindowSizerTest, ARequestTheWindowSystemNeverAnswersIsAskedAgain) {
    const struct {
        const char* name;
        int dropped;
        bool fitted;
    } cases[] = {
        {"one answer lost", 1, true},
        {"as many as are asked again", WindowSizer::kUnansweredRetries, true},
        {"never granted", 1000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SizerHarness h(QRect(100, 100, 1152, 648));
        h.sizer->attach(h.window.get());
        h.settle();
        h.requests.clear();
        h.dropped = c.dropped;
        h.window->windowHandle()->resize(1052, 548);
        for (int turn = 0; turn < 2 * WindowSizer::kUnansweredRetries + 4; ++turn) {
            h.advance(300ms);
            EXPECT_EQ(h.surface().size(), h.window->windowHandle()->size()) << "the content laid out at another size";
        }
        EXPECT_EQ(h.geometry().size(), c.fitted ? QSize(974, 548) : QSize(1052, 548));
        ASSERT_FALSE(h.requests.empty());
        EXPECT_EQ(h.requests.back(), QRect(100, 100, 974, 548));
        EXPECT_EQ(h.requests.size(),
                  static_cast<size_t>(c.fitted ? c.dropped + 1 : WindowSizer::kUnansweredRetries + 1));
    }
}

// A window manager that grants every request a few pixels less than asked
// (its own size increments, say): each answer comes in the request's place,
// as another configure of the window manager's own would. The sizer's
// requests for one cause stay few whatever the answers, and the window does
// not creep smaller at each quiet spell after them: for a user's corner
// drag, and for a picture that turns upright.
TEST(WindowSizerTest, AWindowManagerGrantingLessThanAskedGetsBoundedRequests) {
    const struct {
        const char* name;
        std::function<void(SizerHarness&)> cause;
        QSize fitted;  // the size asked for first
        QSize less;    // what the window manager grants less
    } cases[] = {
        {"a corner drag", [](SizerHarness& h) { h.window->windowHandle()->resize(1052, 548); }, QSize(974, 548),
         QSize(1, 4)},
        {"an upright turn",
         [](SizerHarness& h) {
             h.emit(CameraEvent::stats(picture(1080, 1920)));
             h.main.advanceSeconds(3.5);
             QCoreApplication::processEvents();
         },
         QSize(457, 812), QSize(4, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SizerHarness h(QRect(100, 100, 1152, 648));
        h.sizer->attach(h.window.get());
        h.settle();
        ASSERT_EQ(h.geometry().size(), QSize(1152, 648));
        h.requests.clear();
        const QSize less = c.less;
        h.grantedLess = less;
        c.cause(h);
        for (int spell = 0; spell < 10; ++spell) h.advance(300ms);
        const QSize settled = h.geometry().size();
        for (int spell = 0; spell < 90; ++spell) h.advance(300ms);
        ASSERT_FALSE(h.requests.empty());
        EXPECT_EQ(h.requests.front().size(), c.fitted);
        EXPECT_LE(h.requests.size(), static_cast<size_t>(WindowSizer::kRequestsPerCause));
        EXPECT_EQ(h.geometry().size(), settled) << "still shrinking";
        // Each answer takes a few pixels off one side, and the fit from it
        // as many again, through the picture's shape, off the other.
        const QSize lost = c.fitted - h.geometry().size();
        const int perRequest = static_cast<int>(std::ceil(std::max(less.width(), less.height()) * 16.0 / 9.0)) + 1;
        EXPECT_LE(lost.width(), WindowSizer::kRequestsPerCause * perRequest) << lost.width();
        EXPECT_LE(lost.height(), WindowSizer::kRequestsPerCause * perRequest) << lost.height();
        EXPECT_EQ(h.surface().size(), h.window->windowHandle()->size()) << "the content laid out at another size";

        // The user's next resize is a cause of its own, and is fitted.
        h.requests.clear();
        h.grantedLess = QSize(0, 0);
        const int height = h.geometry().height() - 50;
        h.window->windowHandle()->resize(h.geometry().width(), height);
        h.advance(300ms);
        h.advance(300ms);
        ASSERT_FALSE(h.requests.empty()) << "a new resize was not fitted";
        const double aspect = c.fitted.width() > c.fitted.height() ? 16.0 / 9.0 : 9.0 / 16.0;
        EXPECT_EQ(h.geometry().size(), QSize(static_cast<int>(std::lround(height * aspect)), height));
    }
}

// A window shown before the window manager has framed it is fitted as if
// it had no frame: on a fresh desktop its content goes just under the
// island's strip, and the title bar the window manager then puts above it
// lies over the strip. Once the frame is known (the window manager says so
// in a property, or moves the window to make room for it), the window is
// fitted again, the whole frame under the strip; a window manager busy
// taking the window in may lose that request, which is then asked again.
TEST(WindowSizerTest, TheWindowManagersFrameComingAfterTheFitPutsTheWindowUnderIt) {
    const QRect strip(651, 0, 222, 42);
    const QMargins frame(1, 20, 1, 5);
    const struct {
        const char* name;
        bool byMove;
        int lost;
    } cases[] = {
        {"told by the window manager", false, 0},
        {"seen as the window manager moves the window", true, 0},
        {"told, the request lost", false, 1},
    };
    for (const auto& c : cases) {
        const bool byMove = c.byMove;
        SCOPED_TRACE(c.name);
        SizerHarness h(QRect(0, 0, 1152, 669), SizerHarness::Sizing::framed);
        h.placePicture(QPoint(0, 0), QSize(1152, 648));
        const QSize size = h.geometry().size();
        h.strip = strip;
        h.sizer->attach(h.window.get());
        h.settle();
        ASSERT_EQ(h.geometry().top(), strip.bottom() + 1) << "unframed, just under the strip";
        h.frame = frame;
        h.dropped = c.lost;
        if (byMove) {
            // Reparented into its frame, the window keeps its top and moves
            // right by the frame's side.
            h.window->windowHandle()->setPosition(h.geometry().topLeft() + QPoint(frame.left(), 0));
        } else {
            h.sizer->frameMayHaveChanged();
        }
        h.settle();
        // No answer within a still spell: asked again.
        h.advance(300ms);
        EXPECT_EQ(h.geometry().top() - frame.top(), strip.bottom() + 1) << "the title bar under the strip";
        EXPECT_GE(h.geometry().left() - frame.left(), 0);
        EXPECT_EQ(h.geometry().size(), size);
    }
}

// On the smallest screen the window goes under the island's strip and its
// minimum drops to what that screen holds there; on a screen that holds the
// content's own minimum, that minimum holds again and the window cannot be
// made smaller than it, however small an earlier screen was. With a window
// manager's frame too: its title bar under the strip, also after a trip to
// a larger screen and back (the picture then gets bars beside it).
TEST(WindowSizerTest, TheSmallestScreensMinimumHoldsOnlyThere) {
    // Each screen with the island's strip centred at its top.
    const auto stripOn = [](const QRect& screen) { return QRect(screen.center().x() - 110, 0, 222, 42); };
    const QRect smallest(0, 0, 760, 428);
    const QSize own(760, 428);
    for (const QMargins frame : {QMargins(), QMargins(1, 20, 1, 5)}) {
        SCOPED_TRACE(frame.top());
        SizerHarness h(smallest, SizerHarness::Sizing::framed);
        h.frame = frame;
        const struct {
            const char* name;
            QRect area;
            bool holdsOwnMinimum;
        } screens[] = {
            {"the smallest screen", smallest, false},
            {"a screen that holds the minimum", kLaptopArea, true},
            {"the smallest screen again", smallest, false},
            {"a larger one once more", QRect(0, 0, 1024, 600), true},
            {"and back to the smallest", smallest, false},
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
            const QRect framed = h.geometry() + frame;
            EXPECT_GT(framed.top(), h.strip->bottom()) << "under the island's strip";
            EXPECT_LE(framed.bottom(), screen.area.bottom());
            EXPECT_LE(framed.right(), screen.area.right());
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
