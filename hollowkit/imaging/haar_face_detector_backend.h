#pragma once

// HaarFaceDetectorBackend: OpenCV's frontal-face Haar cascade (Debian's
// opencv-data package). The picture's luma is brought down to at most
// `maxWidth` pixels wide before the search, so the cost per picture stays
// near constant whatever the camera's resolution. The cascade is loaded on
// the first detection (on the detector's queue), not at construction; a
// cascade that cannot be loaded makes every detection fail with a text that
// names the file. One thread at a time.

#include <memory>
#include <string>

#include "hollowkit/imaging/face_detector_backend.h"

namespace hollowkit {

class HaarFaceDetectorBackend final : public FaceDetectorBackend {
public:
    static constexpr const char* kDefaultCascadePath =
        "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";

    struct Options {
        std::string cascadePath = kDefaultCascadePath;
        // Pictures wider than this are scaled down (never up) before the search.
        int maxWidth = 640;
        // Step between the searched face sizes; larger is faster and coarser.
        double scaleFactor = 1.15;
        // Overlapping hits needed to report a face; fewer gives more false faces.
        int minNeighbors = 4;
        // Smallest face searched, as a share of the scaled picture's shorter
        // side (never below the cascade's own 24 pixels).
        double minFaceFraction = 0.1;
    };

    HaarFaceDetectorBackend();
    explicit HaarFaceDetectorBackend(Options options);
    ~HaarFaceDetectorBackend() override;
    HaarFaceDetectorBackend(const HaarFaceDetectorBackend&) = delete;
    HaarFaceDetectorBackend& operator=(const HaarFaceDetectorBackend&) = delete;

    Result<std::vector<NormalizedRect>, std::string> detect(const VideoFrame& frame) override;

private:
    struct Impl;
    const Options options_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace hollowkit
