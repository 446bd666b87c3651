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
    PersonMask hair;        // 255 on the hair
    NormalizedRect face;    // the head's face box, as a face detector reports it
};

// Where the figure stands: its middle across the width and its head's
// centre down the height, as shares of the picture.
// `hair`: how far dark hair stands above the head, as a share of the
// picture's height (0: none); it covers the crown too.
struct FigurePlace {
    double centerX = 0.5;
    double headY = 0.30;
    double hair = 0;
};

// A head-and-shoulders figure (skin-toned head, dark red shirt) standing in
// the middle, head in the upper third, in front of a teal and grey room with
// a checker texture and noise. Deterministic for a given seed.
FigureScene makeFigureScene(int width, int height, PixelFormat format = PixelFormat::bgra, uint32_t seed = 1);
// The same figure standing at `place`.
FigureScene makeFigureScene(int width, int height, FigurePlace place, PixelFormat format = PixelFormat::bgra,
                            uint32_t seed = 1);

// The figure's face in a BGRA picture of a figure scene (scaled or cut as
// it may be), found by its skin tone as a face detector finds a face: the
// box across the head's widest extent, its height the head's less the hair
// and chin (the face box of FigureScene). Nothing in a picture without the
// tone or of another format.
std::optional<NormalizedRect> findFigureFace(const VideoFrame& bgra);

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

// A figure's truth at (x, y), sure only when every point within `margin`
// agrees: 1 person, 0 room, -1 an edge.
int sureTruth(const PersonMask& truth, double x, double y, double margin);

}  // namespace hollowkit
