#pragma once

// HaarFaceDetectorBackend: OpenCV's Haar cascades (Debian's opencv-data
// package). The frontal cascade searches first; only when it finds nothing
// does the profile cascade search, once on the picture and once on its
// mirror image, because it knows faces turned one way only. The picture's
// luma is brought down to at most `maxWidth` pixels wide (the profile
// passes to `profileMaxWidth`) before the search, so the cost per picture
// stays near constant whatever the camera's resolution. The cascades are
// loaded on the first detection (on the detector's queue), not at
// construction; a frontal cascade that cannot be loaded makes every
// detection fail with a text that names the file, a missing profile cascade
// is logged once and leaves the frontal search alone. One thread at a time.

#include <memory>
#include <string>

#include "hollowkit/imaging/face_detector_backend.h"

namespace hollowkit {

class HaarFaceDetectorBackend final : public FaceDetectorBackend {
public:
    static constexpr const char* kDefaultCascadePath =
        "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";
    static constexpr const char* kDefaultProfileCascadePath =
        "/usr/share/opencv4/haarcascades/haarcascade_profileface.xml";

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

        // Faces turned away; empty: no profile search.
        std::string profileCascadePath = kDefaultProfileCascadePath;
        // The profile cascade costs about four times the frontal one per
        // pixel (two passes, a smaller window, weaker early stages), so it
        // searches a smaller picture, in coarser steps. Its 20-pixel window
        // at 320 wide is a 40-pixel face at 640, near the frontal minimum.
        int profileMaxWidth = 320;
        double profileScaleFactor = 1.25;
        int profileMinNeighbors = 3;
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
