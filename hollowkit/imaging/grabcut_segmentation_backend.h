#pragma once

// GrabCutSegmentationBackend: a person mask without a trained model. The
// picture is brought down to `workWidth` pixels wide, seeded with a person
// shape (head and shoulders below the face box when one is known, otherwise
// a person standing in the middle) and cut with OpenCV's GrabCut. The colour
// models of one frame seed the next frame of the same size, so the costly
// clustering runs only every `modelRefreshFrames` frames. A stand-in for a
// learned segmenter: it finds the person the seed suggests, not people in
// general. One thread at a time.

#include <memory>

#include "hollowkit/imaging/segmentation_backend.h"

namespace hollowkit {

class GrabCutSegmentationBackend final : public SegmentationBackend {
public:
    struct Options {
        // Width of the picture GrabCut works on; the mask comes back this
        // wide. Its cost grows with the pixel count.
        int workWidth = 240;
        // GrabCut passes per frame.
        int iterations = 1;
        // Frames after which the colour models are learnt afresh.
        int modelRefreshFrames = 30;
    };

    GrabCutSegmentationBackend();
    explicit GrabCutSegmentationBackend(Options options);
    ~GrabCutSegmentationBackend() override;
    GrabCutSegmentationBackend(const GrabCutSegmentationBackend&) = delete;
    GrabCutSegmentationBackend& operator=(const GrabCutSegmentationBackend&) = delete;

    std::optional<PersonMask> segment(const VideoFrame& frame, const std::optional<NormalizedRect>& face) override;

private:
    struct Impl;
    const Options options_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace hollowkit
