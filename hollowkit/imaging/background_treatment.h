#pragma once

// The room behind the person, blurred or replaced by a dark backdrop, blended
// with the camera picture through a person mask: the live preview and the
// recorded camera bubble both draw it this way. Where the mask is white the
// camera's pixels stay; where it is black the treated background shows; in
// between they mix. Pure functions, any thread; they never fail in a way the
// caller must handle: anything that does not fit leaves the picture as it is.
//
// Blur: a Gaussian of sigma 0.035 × the shorter side, the picture's edge
// pixels repeated beyond it. Remove: a radial gradient from (0.24, 0.24,
// 0.26) at the centre to (0.08, 0.08, 0.09) at 0.75 × the shorter side and
// beyond, centred at half the width and 38 % of the height from the top.

#include <cstddef>
#include <memory>

#include "hollowkit/imaging/person_mask.h"
#include "hollowkit/media/bubble_style.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class RowWorkers;

struct RgbColor {
    double red = 0;  // 0...1, sRGB-encoded
    double green = 0;
    double blue = 0;

    bool operator==(const RgbColor&) const = default;
};

inline constexpr double kBackgroundBlurSigmaShare = 0.035;  // of the shorter side
inline constexpr RgbColor kBackdropCenterColor{0.24, 0.24, 0.26};
inline constexpr RgbColor kBackdropOuterColor{0.08, 0.08, 0.09};
inline constexpr double kBackdropCenterYShare = 0.38;  // of the height, from the top
inline constexpr double kBackdropRadiusShare = 0.75;   // of the shorter side

// The blur's working pictures (up to a frame's size), kept by the owner of
// a path that blurs picture after picture and reused: made and freed per
// picture, a frame-sized block would be mapped and zeroed anew each time,
// since the allocator gives a freed heap top back at once
// (memory_settings.h). The owner lets them go when its path goes idle (the
// blur turned off, a composition over), by release() or by destroying it.
// One thread at a time.
class BlurScratch {
public:
    struct Pictures;  // what the blur keeps; made on its first use

    BlurScratch();
    ~BlurScratch();
    BlurScratch(const BlurScratch&) = delete;
    BlurScratch& operator=(const BlurScratch&) = delete;

    // Frees the pictures; the next blur makes them again.
    void release();
    // The bytes the pictures hold now.
    size_t heldBytes() const;
    Pictures& pictures();

private:
    std::unique_ptr<Pictures> pictures_;
};

// Draws `image` (BGRA) with its background treated into `output` (BGRA, the
// same size). With `keep`, without a mask or with a mask of another size,
// the image is copied unchanged. False, with `output` untouched, when the
// image is not BGRA or the output does not match it. The blend's rows are
// shared among `workers` when given. A blur works in `scratch` when given,
// else in pictures made for this call alone.
bool applyBackground(const VideoFrame& image, const PersonMask* mask, BubbleBackground treatment,
                     WritableVideoFrame& output, RowWorkers* workers = nullptr, BlurScratch* scratch = nullptr);

// The same as a new frame at the image's time, with nothing kept from one
// call to the next. `keep`, no mask, or a mask that does not line up with
// the image give the image itself. NV12 images are converted first.
VideoFrame applyBackground(const VideoFrame& image, const PersonMask* mask, BubbleBackground treatment);

// The removal backdrop alone, filling `output` (BGRA).
void drawBackdrop(WritableVideoFrame& output, RowWorkers* workers = nullptr);

}  // namespace hollowkit
