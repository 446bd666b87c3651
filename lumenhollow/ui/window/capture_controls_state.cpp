#include "lumenhollow/ui/window/capture_controls_state.h"

#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/kit/glass.h"

namespace lumenhollow {

namespace {

constexpr double kZoomPillSpacing = 4;

GatedButton gatedOnPicture(bool picture) {
    return GatedButton{picture, picture ? 1.0 : kWaitingForPictureOpacity};
}

}  // namespace

bool hasPicture(const PublishedState& state) { return state.stats && state.stats->hasPicture; }

CaptureControlsState captureControls(const PublishedState& state, bool supportsPositioning) {
    const bool picture = hasPicture(state);
    CaptureControlsState controls;
    controls.photo = gatedOnPicture(picture);
    if (supportsPositioning) {
        controls.tracking = TrackingControl::toggle;
        controls.trackingToggle = gatedOnPicture(picture);
        controls.trackingActive = state.faceTracking;
    } else {
        // The marker explains and offers the switch, with or without a picture.
        controls.tracking = TrackingControl::usbOnly;
        controls.trackingToggle = GatedButton{true, 1.0};
    }
    return controls;
}

ZoomPillLayout zoomPillLayout(double textWidth) {
    ZoomPillLayout layout;
    layout.minusX = ui::PillBackground::kInset;
    layout.labelX = layout.minusX + kZoomButtonSide + kZoomPillSpacing;
    // A text wider than the frame widens it; nothing narrows it.
    layout.labelWidth = std::max(kZoomLabelMinWidth, std::isfinite(textWidth) ? std::ceil(textWidth) : 0.0);
    layout.plusX = layout.labelX + layout.labelWidth + kZoomPillSpacing;
    layout.width = layout.plusX + kZoomButtonSide + ui::PillBackground::kInset;
    return layout;
}

}  // namespace lumenhollow
