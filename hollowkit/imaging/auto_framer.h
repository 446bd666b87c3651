#pragma once

// Auto framing: one face in, one camera position out, at which the face
// fills a fifth of the picture height, sits in the middle horizontally and
// has its centre 38 % of the height below the top. A pure computation, any
// thread. The camera model calls it once per request, pauses the face
// follower and moves the camera to the result.

#include <optional>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/imaging/framing_geometry.h"
#include "hollowkit/imaging/normalized_rect.h"

namespace hollowkit {

namespace AutoFramer {

// The target pan and tilt (degrees) and zoom (percent) for `face`
// (normalised, top-left origin) seen from `pan`/`tilt` at `zoom` (absent:
// 100). The zoom is chosen within `zoomRange` and is absent when the camera
// cannot zoom. Never fails: the zoom is clamped into the range before it
// becomes an integer, so a tiny face height cannot overflow, and a face box
// that is not finite leaves the camera where it is.
CameraPosition target(const NormalizedRect& face, std::optional<int> zoom,
                      std::optional<ZoomRange> zoomRange, double pan, double tilt,
                      const FramingGeometry& geometry = kDefaultFramingGeometry);

}  // namespace AutoFramer

// A holder of tracking parameters that nothing in the library reads; kept
// for the settings that carry it.
struct FaceTrackingController {
    FramingGeometry geometry = kDefaultFramingGeometry;
    double gain = 0.55;
    double deadZone = 0.05;

    bool operator==(const FaceTrackingController&) const = default;
};

}  // namespace hollowkit
