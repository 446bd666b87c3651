#pragma once

// StillEncoder: turns one frame into the bytes of a still picture, the photo
// writer's seam over the image libraries. The standard encoder makes HEIF
// (HEVC through libheif's x265 encoder) and JPEG (libturbojpeg); tests may
// pass one that fails. Encoders hold no per-call state: any thread, several
// at once.
//
// Colour: NV12 frames are read as BT.709 with limited ("video") range, as
// everywhere in the library; BGRA frames hold sRGB values. A HEIF photo of
// an NV12 frame keeps the frame's own luma and chroma samples (no second
// rounding) and says BT.709, limited range, in the HEVC stream; a BGRA frame
// is converted with the BT.601 matrix at full range, the JPEG convention
// that readers assume when a file says nothing. The colour primaries are
// BT.709 (the sRGB primaries) and the transfer sRGB in both cases. Alpha is
// dropped: photos are opaque.

#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class StillEncoder {
public:
    virtual ~StillEncoder() = default;

    // The whole frame, at its full size, as HEIF file contents (4:2:0,
    // 8 bits) at `qualityPercent` (0...100). The error is a text for the log.
    virtual Result<Bytes, std::string> encodeHeif(const VideoFrame& frame, int qualityPercent) const = 0;

    // The frame scaled to `width` × `height` (area-averaged) as a baseline
    // JPEG in sRGB at `qualityPercent`.
    virtual Result<Bytes, std::string> encodeJpeg(const VideoFrame& frame, int width, int height,
                                                  int qualityPercent) const = 0;

    // libheif + libturbojpeg. The libraries are set up once, on first use,
    // in a thread-safe way; the object lives for the whole process.
    static const StillEncoder& standard();
};

}  // namespace hollowkit
