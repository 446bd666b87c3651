#pragma once

// SegmentationBackend: separates the person from the room in one picture.
// A PersonSegmenter owns one and calls it under its lock, one picture at a
// time. GrabCutSegmentationBackend is the default (OpenCV, no model file);
// NullSegmentationBackend never finds a person; tests use a fake.

#include <optional>

#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/imaging/person_mask.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class SegmentationBackend {
public:
    virtual ~SegmentationBackend() = default;

    // The person mask of `frame` (NV12 or BGRA) at the backend's own
    // resolution (any size; the segmenter scales it), or nothing when the
    // picture could not be segmented. `face` is the face box (normalised,
    // top-left) when one is known; backends may use it as a hint.
    virtual std::optional<PersonMask> segment(const VideoFrame& frame, const std::optional<NormalizedRect>& face) = 0;
};

// Never produces a mask: the room is left as it is.
class NullSegmentationBackend final : public SegmentationBackend {
public:
    std::optional<PersonMask> segment(const VideoFrame&, const std::optional<NormalizedRect>&) override {
        return std::nullopt;
    }
};

}  // namespace hollowkit
