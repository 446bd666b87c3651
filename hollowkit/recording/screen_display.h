#pragma once

// ScreenDisplay: one display that can be recorded, as the display picker
// lists it, and DisplayInfo, what the window system says about a display.
// Plain values, any thread; they hold no handle of the window system.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace hollowkit {

struct PixelSize {
    double width = 0;
    double height = 0;

    bool operator==(const PixelSize&) const = default;
};

struct ScreenDisplay {
    uint32_t id = 0;  // the window system's display identifier; the identity in lists
    std::string name;
    PixelSize pixelSize;

    bool operator==(const ScreenDisplay&) const = default;
};

// Hashes id, name, width and height in that order; +0.0 and -0.0 alike, so
// equal values hash equally.
struct ScreenDisplayHash {
    size_t operator()(const ScreenDisplay& display) const;
};

// One display (an X11 RandR monitor): where it lies in the root window's
// coordinates (top-left origin, y downwards) and its size, all in pixels.
struct DisplayInfo {
    uint32_t id = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool primary = false;
    bool builtIn = false;  // a laptop's own panel

    bool operator==(const DisplayInfo&) const = default;
};

// The display recorded when none is named: the primary one, else the one at
// the origin, else the first. Nothing for an empty list.
std::optional<DisplayInfo> mainDisplay(std::span<const DisplayInfo> displays);

}  // namespace hollowkit
