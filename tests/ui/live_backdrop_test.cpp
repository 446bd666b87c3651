#include "lumenhollow/ui/window/live_backdrop.h"

#include <QSignalSpy>
#include <QTest>

#include <set>

#include <gtest/gtest.h>

#include "hollowkit/testing/manual_clock.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/chrome_gradient.h"
#include "lumenhollow/ui/window/preview_overlays.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using namespace std::chrono_literals;

hollowkit::VideoFrame solidFrame(int width, int height, QRgb colour) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, colour);
    const hollowkit::PlaneView plane{reinterpret_cast<const uint8_t*>(pixels.data()), static_cast<size_t>(width) * 4};
    return hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::bgra, width, height, {&plane, 1}, {});
}

TEST(LiveBackdropTest, ABlurIsDueWhenNoneRunsAndTheIntervalHasPassed) {
    const hollowkit::TimePoint start{10s};
    const struct {
        const char* name;
        bool blurring;
        std::optional<hollowkit::TimePoint> last;
        hollowkit::TimePoint now;
        bool due;
    } cases[] = {
        {"the first", false, std::nullopt, start, true},
        {"too soon", false, start, start + 99ms, false},
        {"just due", false, start, start + 100ms, true},
        {"one still running", true, start, start + 1s, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(backdropDue(c.blurring, c.last, c.now, 100ms), c.due);
    }
}

// Frames offered faster than the interval are passed over; a clear drops
// the blur under way, so a picture of the camera that went never returns.
TEST(LiveBackdropTest, BlursAtMostOncePerIntervalAndAClearDropsTheBlurUnderWay) {
    hollowkit::ManualClock clock;
    QWidget root;
    root.resize(1152, 648);
    LiveBackdrop live(root, clock);
    QSignalSpy changed(&live, &LiveBackdrop::pictureChanged);
    const QRectF where(0, 0, 1152, 648);
    // The middle of the scene, clear of the chrome's darkening.
    const QPoint middle(72, 40);

    live.offer(solidFrame(160, 90, qRgb(255, 0, 0)), where);
    live.offer(solidFrame(160, 90, qRgb(0, 0, 255)),
               where);  // while the first runs
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(live.blurs(), 1);
    ASSERT_TRUE(live.backdrop().hasPicture());
    EXPECT_GT(qRed(live.backdrop().image().pixel(middle)), 240);

    clock.advance(50ms);
    live.offer(solidFrame(160, 90, qRgb(0, 0, 255)), where);
    EXPECT_EQ(live.blurs(), 1) << "too soon";

    clock.advance(50ms);
    live.offer(solidFrame(160, 90, qRgb(0, 0, 255)), where);
    EXPECT_EQ(live.blurs(), 2);
    live.clear();
    EXPECT_FALSE(live.backdrop().hasPicture());
    // The dropped blur's answer still frees the worker for the next frame.
    clock.advance(100ms);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            live.offer(solidFrame(160, 90, qRgb(0, 255, 0)), where);
            return live.blurs() == 3;
        },
        5000));
    EXPECT_FALSE(live.backdrop().hasPicture()) << "the blue picture was dropped";
    ASSERT_TRUE(QTest::qWaitFor([&] { return live.backdrop().hasPicture(); }, 5000));
    EXPECT_GT(qGreen(live.backdrop().image().pixel(middle)), 240);
}

// In the running window the glass over the picture shows the live frame
// behind it, blurred: the bottom bar turns red over a red picture, as red
// as the picture beside the bar seen through the glass's black at 0.35.
// The "Starting" panel's darkening and the chrome's lie under both, which
// leaves the red dark: how far it rose is no measure of its strength, the
// picture beside it is.
TEST(LiveBackdropTest, TheWindowsGlassShowsTheLiveFrameBehindIt) {
    WindowHarness h;
    MainWindow& window = h.show();
    auto* bar = qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    ASSERT_TRUE(bar);
    // Inside the bar, between its clusters, where only glass is drawn.
    const QPoint probe = bar->mapTo(&window, QPoint(bar->width() / 4, 4));
    const QPoint beside(bar->mapTo(&window, QPoint(0, 0)).x() / 2, probe.y());
    const QColor before = window.grab().toImage().pixelColor(probe);

    h.feed->enqueue(solidFrame(320, 180, qRgb(255, 0, 0)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.glassBackdrop().backdrop().hasPicture(); }, 20000));
    const QImage shot = window.grab().toImage();
    const QColor after = shot.pixelColor(probe);
    const int around = shot.pixelColor(beside).red();
    EXPECT_GT(after.red(), before.red() + 15) << "before " << before.red() << ", after " << after.red();
    EXPECT_NEAR(after.red(), around * 0.65, 6) << "around " << around;
    EXPECT_LT(after.green(), 10);
}

// The darkening the glass lies over stands where the chrome draws it: across
// the top, and across the bottom, taller in the rail's narrow window.
TEST(LiveBackdropTest, TheChromesShadesStandWhereItsGradientsAre) {
    const struct {
        SizeF window;
        QRectF top;
        QRectF bottom;
    } cases[] = {
        {{1152, 648}, QRectF(0, 0, 1152, 90), QRectF(0, 438, 1152, 210)},
        {{457, 812}, QRectF(0, 0, 457, 90), QRectF(0, 552, 457, 260)},
    };
    for (const auto& c : cases) {
        const std::array<ui::GlassShade, 2> shades = chromeShades(c.window);
        EXPECT_EQ(shades[0], (ui::GlassShade{c.top, 0.45, 0})) << c.window.width;
        EXPECT_EQ(shades[1], (ui::GlassShade{c.bottom, 0, 0.5})) << c.window.width;
    }
}

// Where the picture is letterboxed the bottom bar floats over a black bar:
// its glass is dark, not a copy of the picture's top edge wrapped round.
TEST(LiveBackdropTest, TheGlassOverTheBarsBesideALetterboxedPictureIsDark) {
    WindowHarness h;
    MainWindow& window = h.show();
    auto* bar = qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    ASSERT_TRUE(bar);
    const QPoint probe = bar->mapTo(&window, QPoint(bar->width() / 4, bar->height() / 2));
    // Twice as wide as the window's 16:9: a third of the height is bar above and
    // below.
    h.feed->enqueue(solidFrame(640, 180, qRgb(255, 0, 0)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.glassBackdrop().backdrop().hasPicture(); }, 20000));
    const QImage shot = window.grab().toImage();
    ASSERT_GT(probe.y(), window.height() * 3 / 4 + 20) << "the bar is not over the black";
    const QColor glass = shot.pixelColor(probe);
    EXPECT_LT(glass.red(), 20);
    EXPECT_GT(shot.pixelColor(window.width() / 2, window.height() / 2 + 60).red(), 80) << "the picture itself";
}

// The glass is what lies under it, blurred, behind black at 0.35: darker
// than the picture around it at the same height, with everything drawn
// over the picture included on both sides: the chrome's darkening, the
// "Starting" panel's, and the 9:16 guide's beside its column (the bar's
// left part lies over it, and so does the picture left of the bar).
TEST(LiveBackdropTest, TheBottomBarsGlassIsDarkerThanThePictureAroundIt) {
    const struct {
        const char* name;
        std::set<GuideKind> guides;
    } cases[] = {
        {"no guide", {}},
        {"the 9:16 guide", {GuideKind::vertical}},
        {"every guide", {GuideKind::grid, GuideKind::horizon, GuideKind::vertical}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        h.model->setGuides(c.guides);
        h.main.runUntilIdle();
        MainWindow& window = h.show();
        auto* bar = qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
        ASSERT_TRUE(bar);
        const QPoint inside = bar->mapTo(&window, QPoint(bar->width() / 4, 4));
        const QPoint beside(bar->mapTo(&window, QPoint(0, 0)).x() / 2, inside.y());
        ASSERT_TRUE(window.previewOverlays().dimming() > 0) << "the window starts with its status panel";
        h.feed->enqueue(solidFrame(320, 180, qRgb(255, 255, 255)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.glassBackdrop().backdrop().hasPicture(); }, 20000));
        const QImage shot = window.grab().toImage();
        const int around = shot.pixelColor(beside).green();
        const int glass = shot.pixelColor(inside).green();
        EXPECT_GT(around, 20);
        EXPECT_NEAR(glass, around * 0.65, 6) << "around " << around;
    }
}

}  // namespace
}  // namespace lumenhollow::test
