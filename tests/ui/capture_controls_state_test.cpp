#include "lumenhollow/ui/window/capture_controls_state.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

namespace lumenhollow::test {
namespace {

std::optional<hollowkit::CameraStats> captureStats(bool hasPicture) {
    hollowkit::CameraStats stats;
    stats.hasPicture = hasPicture;
    return stats;
}

TEST(CaptureControlsStateTest, ThePhotoAndTheToggleWaitForAPictureButTheUsbMarkerNever) {
    struct Case {
        const char* name;
        std::optional<hollowkit::CameraStats> stats;
        bool positioning;
        bool tracking;
        CaptureControlsState expected;
    };
    const GatedButton waiting{false, 0.45};
    const GatedButton ready{true, 1.0};
    const std::vector<Case> cases{
        {"USB before any statistics", std::nullopt, true, false, {waiting, TrackingControl::toggle, waiting, false}},
        {"USB, statistics without a picture", captureStats(false), true, false,
         {waiting, TrackingControl::toggle, waiting, false}},
        {"USB with a picture", captureStats(true), true, false, {ready, TrackingControl::toggle, ready, false}},
        {"USB tracking with a picture", captureStats(true), true, true, {ready, TrackingControl::toggle, ready, true}},
        {"USB tracking, the picture gone", captureStats(false), true, true,
         {waiting, TrackingControl::toggle, waiting, true}},
        {"Wi-Fi without a picture", std::nullopt, false, false, {waiting, TrackingControl::usbOnly, ready, false}},
        {"Wi-Fi with a picture", captureStats(true), false, false, {ready, TrackingControl::usbOnly, ready, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PublishedState state;
        state.stats = c.stats;
        state.faceTracking = c.tracking;
        EXPECT_EQ(captureControls(state, c.positioning), c.expected);
    }
}

TEST(CaptureControlsStateTest, TheZoomLabelsFrameIsAtLeast40WideAndTheButtons22) {
    struct Case {
        const char* name;
        double textWidth;
        double labelWidth;
        double width;  // 12 + 22 + 4 + label + 4 + 22 + 12
    };
    const std::vector<Case> cases{
        {"a dash", 4.5, 40, 116},
        {"just under the frame", 39.99, 40, 116},
        {"a wide text widens it", 52.3, 53, 129},
        {"no text", 0, 40, 116},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), 40, 116},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ZoomPillLayout layout = zoomPillLayout(c.textWidth);
        EXPECT_DOUBLE_EQ(layout.labelWidth, c.labelWidth);
        EXPECT_DOUBLE_EQ(layout.width, c.width);
        EXPECT_DOUBLE_EQ(layout.minusX, 12);
        EXPECT_DOUBLE_EQ(layout.plusX - layout.labelX, c.labelWidth + 4);
    }
}

}  // namespace
}  // namespace lumenhollow::test
