#pragma once

// Decoders for checking written still pictures in tests: HEIF through
// libheif, JPEG through libturbojpeg, both to packed 8-bit RGB. Any thread.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"

namespace hollowkit {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // rows of R G B bytes, no padding

    std::array<int, 3> at(int x, int y) const;
    // The mean colour of the square of side 2·radius+1 around (x, y).
    std::array<double, 3> meanAround(int x, int y, int radius) const;
};

// The primary image of a HEIF file, or the decoder's complaint.
std::optional<RgbImage> decodeHeif(ByteView bytes, std::string* error = nullptr);
std::optional<RgbImage> decodeHeifFile(const std::filesystem::path& path, std::string* error = nullptr);
std::optional<RgbImage> decodeJpeg(ByteView bytes, std::string* error = nullptr);

}  // namespace hollowkit
