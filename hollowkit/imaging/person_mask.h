#pragma once

// PersonMask: a one-channel 8-bit picture, 255 where the person is and 0
// where the room is, values between along soft edges. Rows are packed
// (stride = width). A plain value, any thread.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hollowkit {

struct PersonMask {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width × height bytes, row after row

    bool operator==(const PersonMask&) const = default;

    // A mask of the given size filled with `value`.
    static PersonMask filled(int width, int height, uint8_t value) {
        PersonMask mask;
        if (width > 0 && height > 0) {
            mask.width = width;
            mask.height = height;
            mask.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), value);
        }
        return mask;
    }

    // Positive size and exactly width × height bytes.
    bool isValid() const {
        return width > 0 && height > 0 &&
               pixels.size() == static_cast<size_t>(width) * static_cast<size_t>(height);
    }

    uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
    uint8_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
    const uint8_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
};

}  // namespace hollowkit
