#include "lumenhollow/ui/window/live_backdrop.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "hollowkit/testing/manual_clock.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_column.h"
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
    LiveBackdrop live(root, clock);
    QSignalSpy changed(&live, &LiveBackdrop::pictureChanged);
    const QRectF where(0, 0, 160, 90);

    live.offer(solidFrame(160, 90, qRgb(255, 0, 0)), where);
    live.offer(solidFrame(160, 90, qRgb(0, 0, 255)), where);  // while the first runs
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(live.blurs(), 1);
    ASSERT_TRUE(live.backdrop().hasPicture());
    EXPECT_EQ(live.backdrop().pictureRect(), where);
    EXPECT_GT(qRed(live.backdrop().image().pixel(5, 5)), 240);

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
    EXPECT_GT(qGreen(live.backdrop().image().pixel(5, 5)), 240);
}

// In the running window the glass over the picture shows the live frame
// behind it, blurred: the bottom bar turns red over a red picture.
TEST(LiveBackdropTest, TheWindowsGlassShowsTheLiveFrameBehindIt) {
    WindowHarness h;
    MainWindow& window = h.show();
    auto* bar = qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    ASSERT_TRUE(bar);
    // Inside the bar, between its clusters, where only glass is drawn.
    const QPoint probe = bar->mapTo(&window, QPoint(bar->width() / 4, 4));
    const QColor before = window.grab().toImage().pixelColor(probe);

    h.feed->enqueue(solidFrame(320, 180, qRgb(255, 0, 0)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.glassBackdrop().backdrop().hasPicture(); }, 5000));
    const QColor after = window.grab().toImage().pixelColor(probe);
    EXPECT_GT(after.red(), before.red() + 80);
    EXPECT_LT(after.green(), 60);
}

}  // namespace
}  // namespace lumenhollow::test
