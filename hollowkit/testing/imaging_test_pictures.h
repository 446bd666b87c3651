#pragma once

// Pictures for the imaging tests and benchmarks: a synthetic person in front
// of a textured room with its true mask and face box, image files read as
// frames, and BGRA → NV12 conversion. Pure functions, any thread.

#include <cstdint>
#include <optional>
#include <string>

#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/imaging/person_mask.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

struct FigureScene {
    VideoFrame frame;       // BGRA or NV12
    PersonMask truth;       // 255 on the person
    NormalizedRect face;    // the head's box
};

// Where the figure stands: its middle across the width and its head's
// centre down the height, as shares of the picture.
struct FigurePlace {
    double centerX = 0.5;
    double headY = 0.30;
};

// A head-and-shoulders figure (skin-toned head, dark red shirt) standing in
// the middle, head in the upper third, in front of a teal and grey room with
// a checker texture and noise. Deterministic for a given seed.
FigureScene makeFigureScene(int width, int height, PixelFormat format = PixelFormat::bgra, uint32_t seed = 1);
// The same figure standing at `place`.
FigureScene makeFigureScene(int width, int height, FigurePlace place, PixelFormat format = PixelFormat::bgra,
                            uint32_t seed = 1);

// The figure's head in a BGRA picture of a figure scene (scaled or cut as
// it may be), found by its skin tone: the box across the head's widest
// extent, from its top down by 4/3 of that width (the neck below is left
// out). Nothing in a picture without the tone or of another format.
std::optional<NormalizedRect> findFigureHead(const VideoFrame& bgra);

// The image file at `path` as an opaque BGRA frame; null when it cannot be read.
VideoFrame loadImageFile(const std::string& path);

// `bgra` scaled to cover width × height and cropped to its middle, as a
// camera would frame it (BGRA out); null for anything else.
VideoFrame filledTo(const VideoFrame& bgra, int width, int height);

// `bgra` mirrored left to right (BGRA out); null for anything else.
VideoFrame mirrored(const VideoFrame& bgra);

// `bgra` as NV12 (BT.709, limited range; chroma averaged over 2×2 blocks).
VideoFrame toNv12(const VideoFrame& bgra);

// The BGRA pixel at (x, y) as {blue, green, red, alpha}.
struct BgraPixel {
    uint8_t b = 0;
    uint8_t g = 0;
    uint8_t r = 0;
    uint8_t a = 0;
    bool operator==(const BgraPixel&) const = default;
};
BgraPixel pixelAt(const VideoFrame& bgra, int x, int y);

}  // namespace hollowkit
