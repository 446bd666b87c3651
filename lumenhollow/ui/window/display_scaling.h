#pragma once

// Drawing a camera frame at the size it is shown at, as cheaply as a live
// preview allows: NV12 is scaled and converted in one vectorised pass
// (Nv12DisplayScaler) whose tables and rows each thread keeps, so a steady
// stream allocates nothing. Any thread.

#include "hollowkit/media/video_frame.h"

namespace lumenhollow {

// Draws `frame` (NV12 or BGRA) into `output` (BGRA) at the output's size.
// False, with `output` untouched, for a null frame or another format.
bool drawForDisplay(const hollowkit::VideoFrame& frame, hollowkit::WritableVideoFrame& output);

}  // namespace lumenhollow
