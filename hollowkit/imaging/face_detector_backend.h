#pragma once

// FaceDetectorBackend: finds face rectangles in one picture. The face
// detector owns one and calls it from its queue, one picture at a time.
// HaarFaceDetectorBackend is the Linux one (OpenCV); tests use a fake.

#include <string>
#include <vector>

#include "hollowkit/base/result.h"
#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class FaceDetectorBackend {
public:
    virtual ~FaceDetectorBackend() = default;

    // The faces in `frame` (NV12 or BGRA) as normalised boxes with the origin
    // at the top-left, in the backend's own order; an empty list when there
    // is none. An error text when the picture could not be examined at all.
    virtual Result<std::vector<NormalizedRect>, std::string> detect(const VideoFrame& frame) = 0;
};

}  // namespace hollowkit
