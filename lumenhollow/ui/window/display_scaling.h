#pragma once

// Scaling a camera frame down to the size it is shown at, as cheaply as a
// live preview allows: the planes are scaled bilinearly before the colour
// conversion (a screen's worth of pixels converted, not the camera's), and
// area averaging is kept for shrinking past half, where bilinear sampling
// would skip pixels and shimmer. Any thread.

#include "hollowkit/media/video_frame.h"

namespace lumenhollow {

// Draws `frame` (NV12 or BGRA) into `output` (BGRA) at the output's size.
// False, with `output` untouched, for a null frame or another format.
bool drawForDisplay(const hollowkit::VideoFrame& frame, hollowkit::WritableVideoFrame& output);

}  // namespace lumenhollow
