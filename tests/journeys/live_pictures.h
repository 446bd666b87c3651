#pragma once

// Reference pictures of the running program: PNG files read and written
// through OpenCV, cut to a rectangle, and judged against their reference
// with a tolerance. A pixel differs when one of its channels is further off
// than `channel`; a capture passes while the differing pixels are at most
// `share` of the picture and no tile of `tile` x `tile` pixels is more than
// `tileShare` different. Anti-aliasing and hinting noise is thin and spread
// out and passes; a control moved, recoloured or gone differs in a block and
// fails.
//
// Thread: any; plain functions.

#include <cstddef>
#include <filesystem>
#include <optional>

#include "tests/journeys/journey_screen.h"

namespace lumenhollow::journey {

struct PictureTolerance {
    int channel = 48;
    double share = 0.0005;
    int tile = 16;
    double tileShare = 0.5;
};

struct PictureVerdict {
    bool sameSize = false;
    size_t differing = 0;
    double share = 0;         // differing pixels over all of them
    double worstTile = 0;     // the most different tile's share
    bool passes = false;
    // The reference at a third of its brightness, every differing pixel red.
    ScreenPicture diff;
};

PictureVerdict comparePictures(const ScreenPicture& actual, const ScreenPicture& reference,
                               const PictureTolerance& tolerance = {});

// The part of `picture` inside `rect` (clipped to the picture).
ScreenPicture cropPicture(const ScreenPicture& picture, const ScreenRect& rect);

std::optional<ScreenPicture> loadPicture(const std::filesystem::path& path);
// Writes a PNG, making the folder; false when it could not.
bool savePicture(const ScreenPicture& picture, const std::filesystem::path& path);

}  // namespace lumenhollow::journey
