#pragma once

// The face follower's control law as a pure function: from the previous
// state, the face (if any) and the camera's present position, the next
// setpoint. Stateless; any thread.

#include <optional>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/imaging/framing_geometry.h"
#include "hollowkit/imaging/normalized_rect.h"

namespace hollowkit {

struct FollowerState {
    CameraPosition setpoint;  // the position last aimed at
    // Smoothed face centre, normalised top-left; nothing when no face is seen.
    std::optional<NormalizedPoint> smoothedFace;
    bool isMoving = false;

    bool operator==(const FollowerState&) const = default;
};

namespace FaceFollowerMath {

// One step of `dt` seconds. Without a face (or with a box that is not
// finite) the follower rests at `current`. Otherwise the face centre is
// smoothed, compared with the target point (0.5, 0.38), and, when the error
// passes the hysteresis threshold, the setpoint approaches the position that
// would put the face on the target, by approachRate × dt of the remaining
// distance and at most maxDegreesPerSecond × dt per axis. The zoom of a new
// setpoint is always absent: the follower never zooms. A position whose pan
// or tilt is not finite is never steered from.
// Where a face seen with the camera at `seenFrom` lies in the picture once
// the camera points at `current`: turning right moves it left, tilting up
// moves it down, by the turn's share of the field of view (narrowed by
// `current`'s zoom as in step). A detection describes its frame, which may
// be a fraction of a second old; the law must compare the face with the
// target as the camera sees it now. Unchanged when an angle is not finite.
NormalizedRect seenNow(const NormalizedRect& face, const CameraPosition& seenFrom, const CameraPosition& current,
                       const FramingGeometry& geometry);

FollowerState step(const FollowerState& previous, const std::optional<NormalizedRect>& face,
                   const CameraPosition& current, double dt, const FollowerTuning& tuning);

}  // namespace FaceFollowerMath

}  // namespace hollowkit
