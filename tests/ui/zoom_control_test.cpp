#include "lumenhollow/ui/window/zoom_control.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "control_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::ZoomRange;

struct ZoomHarness : ControlHarness {
    ZoomControl* zoom = nullptr;

    explicit ZoomHarness(std::optional<ZoomRange> range) : ControlHarness(true, range) {
        zoom = new ZoomControl(*modelSignals, host.get());
        zoom->move(12, 100);
        showHost();
    }

    void click(const QRectF& button) { QTest::mouseClick(zoom, Qt::LeftButton, {}, button.center().toPoint()); }
};

TEST(ZoomControlTest, TheButtonsStepTheModelsZoomAndTheLabelFollows) {
    struct Case {
        const char* name;
        std::optional<ZoomRange> cameraRange;
        std::function<void(ZoomHarness&)> before;
        std::vector<int> clicks;  // -1 minus, +1 plus
        const char* label;
        std::optional<int> zoom;
    };
    const auto nothing = [](ZoomHarness&) {};
    const std::vector<Case> cases{
        {"no range anywhere", std::nullopt, nothing, {1, -1}, "-", std::nullopt},
        {"at 390 of 100 to 400, plus clamps and stays", ZoomRange{90, 400},
         [](ZoomHarness& h) {
             h.model->zoomStep(12);  // 390
             h.camera()->setZoomRange(ZoomRange{100, 400});
             h.emit(CameraEvent::devicesChanged());
         },
         {1, 1}, "4.0x", 400},
        {"minus from 2.5x", ZoomRange{100, 400}, [](ZoomHarness& h) { h.model->zoomStep(6); }, {-1, -1}, "2.0x",
         200},
        {"a range only the camera knows", ZoomRange{100, 400}, nothing, {1, 1, 1, 1}, "2.0x", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZoomHarness h(c.cameraRange);
        c.before(h);
        for (int step : c.clicks) h.click(step < 0 ? h.zoom->minusRect() : h.zoom->plusRect());
        EXPECT_EQ(h.zoom->label(), QString::fromUtf8(c.label));
        EXPECT_EQ(h.state().zoom, c.zoom);
        EXPECT_EQ(h.zoom->toolTip(), QStringLiteral("Zoom (+ / \u2212, or scroll on the preview)"));
        EXPECT_GE(h.zoom->layout().labelWidth, 40);
    }
}

TEST(ZoomControlTest, APressThatLeavesItsButtonIsNoClick) {
    ZoomHarness h(ZoomRange{100, 400});
    QTest::mousePress(h.zoom, Qt::LeftButton, {}, h.zoom->minusRect().center().toPoint());
    QTest::mouseRelease(h.zoom, Qt::LeftButton, {}, h.zoom->plusRect().center().toPoint());
    QTest::mouseClick(h.zoom, Qt::LeftButton, {}, QPoint(h.zoom->width() / 2, 15));  // the label
    EXPECT_EQ(h.state().zoom, std::nullopt);
    // Only the camera knows the range: any step, even one that cannot zoom
    // out further, would have published it.
    EXPECT_EQ(h.zoom->label(), QStringLiteral("-"));
}

}  // namespace
}  // namespace lumenhollow::test
