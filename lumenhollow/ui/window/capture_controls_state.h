#pragma once

// What the capture controls and the zoom pill show, decided from the model's
// published state: which face-tracking control stands in its slot, which
// buttons wait for a picture and how dimmed they are, and where the zoom
// pill's buttons and label lie.

#include "lumenhollow/model/published_state.h"

namespace lumenhollow {

// Opacity of a control that waits for a picture.
inline constexpr double kWaitingForPictureOpacity = 0.45;

// Statistics have arrived and say a picture runs.
bool hasPicture(const PublishedState& state);

// The face-tracking slot holds the real toggle only for a camera that can
// be positioned; elsewhere the USB-only marker, which nothing dims.
enum class TrackingControl { none, toggle, usbOnly };

struct GatedButton {
    bool enabled = false;
    double opacity = 1.0;

    bool operator==(const GatedButton&) const = default;
};

struct CaptureControlsState {
    GatedButton photo;
    TrackingControl tracking = TrackingControl::none;
    GatedButton trackingToggle;  // the toggle's, when it is the control
    bool trackingActive = false;

    bool operator==(const CaptureControlsState&) const = default;
};

// `supportsPositioning` is the active camera's, which the model does not publish.
CaptureControlsState captureControls(const PublishedState& state, bool supportsPositioning);

// The zoom pill, left to right: minus, label, plus, in a capsule.
struct ZoomPillLayout {
    double minusX = 0;
    double labelX = 0;
    double labelWidth = 0;
    double plusX = 0;
    double width = 0;

    bool operator==(const ZoomPillLayout&) const = default;
};

inline constexpr double kZoomButtonSide = 22;
inline constexpr double kZoomLabelMinWidth = 40;

// For a label whose text is `textWidth` wide; the pill is PillBackground's height.
ZoomPillLayout zoomPillLayout(double textWidth);

}  // namespace lumenhollow
