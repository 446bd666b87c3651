#pragma once

// FigureFaceBackend: a FaceDetectorBackend that finds the face of the figure
// of imaging_test_pictures.h in the pictures it is given (BGRA), as a real
// detector would, and counts its detections. Thread-safe.

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/imaging/face_detector_backend.h"
#include "hollowkit/testing/imaging_test_pictures.h"

namespace hollowkit {

class FigureFaceBackend final : public FaceDetectorBackend {
public:
    Result<std::vector<NormalizedRect>, std::string> detect(const VideoFrame& frame) override {
        calls_.fetch_add(1);
        if (frame.pixelFormat() != PixelFormat::bgra) return unexpected(std::string("not a BGRA picture"));
        const std::optional<NormalizedRect> face = findFigureFace(frame);
        if (!face) return std::vector<NormalizedRect>{};
        return std::vector<NormalizedRect>{*face};
    }

    int callCount() const { return calls_.load(); }

private:
    std::atomic<int> calls_{0};
};

}  // namespace hollowkit
