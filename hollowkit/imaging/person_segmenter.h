#pragma once

// PersonSegmenter: the person mask of a camera picture, lined up with it,
// from a SegmentationBackend (GrabCut by default). It remembers the last good
// mask and the picture size it was made for, so a frame on which the backend
// fails still gets the previous mask as long as the size is unchanged.
//
// One per owner (the background preview, the screen composer). Any thread:
// a lock serialises whole segmentations and guards the last mask; scaling
// the mask to the picture happens after the lock is released. Failures are
// not reported: the caller sees the last mask or none.

#include <memory>
#include <optional>

#include "hollowkit/base/mutex.h"
#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/imaging/person_mask.h"
#include "hollowkit/imaging/segmentation_backend.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class PersonSegmenter {
public:
    // Uses GrabCutSegmentationBackend.
    PersonSegmenter();
    explicit PersonSegmenter(std::unique_ptr<SegmentationBackend> backend);
    ~PersonSegmenter();
    PersonSegmenter(const PersonSegmenter&) = delete;
    PersonSegmenter& operator=(const PersonSegmenter&) = delete;

    // A mask of exactly the image's width and height (255 = person), or
    // nothing: for a picture narrower or lower than 2 pixels (the backend is
    // not asked), or when the backend fails and no mask of this size is
    // remembered. `face` is passed to the backend as a hint.
    std::optional<PersonMask> scaledMask(const VideoFrame& image, const std::optional<NormalizedRect>& face = {});

private:
    // The backend's mask, or the remembered one of the same size. Under lock_.
    std::shared_ptr<const PersonMask> mask(const VideoFrame& image, const std::optional<NormalizedRect>& face)
        HK_REQUIRES(lock_);

    Mutex lock_;  // held for one whole segmentation
    const std::unique_ptr<SegmentationBackend> backend_ HK_PT_GUARDED_BY(lock_);
    struct LastMask {
        int regionWidth = 0;
        int regionHeight = 0;
        std::shared_ptr<const PersonMask> mask;
    };
    std::optional<LastMask> lastMask_ HK_GUARDED_BY(lock_);
};

// `mask` scaled to width × height (bilinear); the mask itself when it
// already has that size. Nothing for an invalid mask or size.
std::optional<PersonMask> scaleMask(const PersonMask& mask, int width, int height);

}  // namespace hollowkit
