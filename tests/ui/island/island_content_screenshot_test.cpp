// Screenshots of the island's content states with its children drawn
// (animations off, the model's clock frozen), compared with their goldens by
// tolerance; and the row with three chips and the stepper checked for overlap.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include <functional>
#include <string>
#include <vector>

#include "island_preview_harness.h"
#include "screenshot_compare.h"

namespace lumenhollow::ui {
namespace {

using hollowkit::CameraEvent;
using lumenhollow::test::picture;
using test::PreviewHarness;

QImage renderIsland(PreviewHarness& h) {
    h.main.runUntilIdle();
    QApplication::processEvents();
    QImage image(NotchSizes::panel, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    h.controller->view().render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

// Vertical stripes of colour, BGRA, so a golden shows where the picture lies.
hollowkit::VideoFrame stripes(int width, int height) {
    static constexpr uint8_t kStripes[4][3] = {{40, 40, 200}, {40, 200, 40}, {200, 40, 40}, {200, 200, 200}};
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* colour = kStripes[x * 4 / width];
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = colour[0];
            p[1] = colour[1];
            p[2] = colour[2];
            p[3] = 255;
        }
    }
    const hollowkit::PlaneView plane{pixels.data(), static_cast<size_t>(width) * 4};
    return hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::bgra, width, height, {&plane, 1}, {});
}

void live(PreviewHarness& h, int width, int height) {
    h.emit(CameraEvent::stats(picture(width, height)));
    h.emit(CameraEvent::battery(hollowkit::BatteryStatus{85, false}));
}

void saveScenes(PreviewHarness& h, int count) {
    for (int i = 1; i <= count; ++i) {
        h.camera()->setPosition(hollowkit::CameraPosition{10.0 * i, 0, 100});
        h.model->saveCurrentPositionAsScene();
    }
    h.main.runUntilIdle();
}

TEST(IslandContentScreenshots, EveryContentState) {
    struct Shot {
        std::string name;
        bool usb;
        bool open;
        std::function<void(PreviewHarness&)> setUp;
    };
    const std::vector<Shot> shots = {
        {"island-content-collapsed-idle", false, false, [](PreviewHarness& h) { live(h, 1920, 1080); }},
        {"island-content-collapsed-tracking", true, false,
         [](PreviewHarness& h) {
             live(h, 1920, 1080);
             h.model->startFaceTracking();
         }},
        {"island-content-collapsed-recording", false, false,
         [](PreviewHarness& h) {
             live(h, 1920, 1080);
             // The camera's own recording starts without a file; the island
             // shows its time the same way.
             h.emit(CameraEvent::cardRecording(hollowkit::CardRecordingState{true, false, 61}));
         }},
        {"island-content-live-recording", false, true,
         [](PreviewHarness& h) {
             live(h, 1920, 1080);
             h.emit(CameraEvent::cardRecording(hollowkit::CardRecordingState{true, false, 61}));
         }},
        {"island-content-connecting", false, true, [](PreviewHarness&) {}},
        {"island-content-not-connected", false, true,
         [](PreviewHarness& h) { h.emit(CameraEvent::failed("Camera not found")); }},
        {"island-content-live-chips", true, true,
         [](PreviewHarness& h) {
             live(h, 1920, 1080);
             saveScenes(h, 5);
         }},
        {"island-content-portrait", true, true, [](PreviewHarness& h) { live(h, 1080, 1920); }},
        {"island-content-controls-only", true, true,
         [](PreviewHarness& h) {
             live(h, 1920, 1080);
             h.model->setNotchContent(NotchContent::controls);
         }},
    };
    for (const Shot& shot : shots) {
        SCOPED_TRACE(shot.name);
        PreviewHarness h(shot.usb);
        shot.setUp(h);
        if (shot.open) {
            h.open();
            // A live picture shows in the open island's pane.
            if (const auto stats = h.model->state().stats; stats && stats->hasPicture && stats->resolution) {
                h.feed->mailbox().push(stripes(stats->resolution->width / 4, stats->resolution->height / 4));
                h.preview().showWaitingFrame();
            }
        }
        const QImage image = renderIsland(h);
        const std::string mismatch = testing::matchGolden(image, QString::fromStdString(shot.name));
        EXPECT_TRUE(mismatch.empty()) << mismatch;
    }
}

TEST(IslandContentScreenshots, ThreeChipsAndTheStepperDoNotOverlap) {
    PreviewHarness h(true);
    live(h, 1920, 1080);
    saveScenes(h, 3);
    h.open();
    IslandExpandedView& content = h.content();
    std::vector<QRect> shown;
    for (const IslandControlItem& item : content.items()) {
        QWidget* widget = content.control(item.kind, std::max(0, item.sceneIndex));
        if (!widget) continue;
        ASSERT_TRUE(widget->isVisible());
        const QRect rect = widget->geometry();
        for (const QRect& other : shown) EXPECT_FALSE(rect.intersects(other)) << rect.x() << " over " << other.x();
        EXPECT_GE(rect.left(), 10);
        EXPECT_LE(rect.right(), content.width() - 10);
        shown.push_back(rect);
    }
    EXPECT_EQ(shown.size(), 11u) << "record, four buttons, three chips, the stepper, pin, window";
}

}  // namespace
}  // namespace lumenhollow::ui
