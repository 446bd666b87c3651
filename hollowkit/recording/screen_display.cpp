#include "hollowkit/recording/screen_display.h"

#include <functional>

namespace hollowkit {
namespace {

void combine(size_t& seed, size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// -0.0 == +0.0, but std::hash<double> may see their different bits.
size_t hashDouble(double value) {
    return std::hash<double>{}(value == 0.0 ? 0.0 : value);
}

}  // namespace

size_t ScreenDisplayHash::operator()(const ScreenDisplay& display) const {
    size_t seed = std::hash<uint32_t>{}(display.id);
    combine(seed, std::hash<std::string>{}(display.name));
    combine(seed, hashDouble(display.pixelSize.width));
    combine(seed, hashDouble(display.pixelSize.height));
    return seed;
}

std::optional<DisplayInfo> mainDisplay(std::span<const DisplayInfo> displays) {
    for (const auto& display : displays) {
        if (display.primary) return display;
    }
    for (const auto& display : displays) {
        if (display.x == 0 && display.y == 0) return display;
    }
    if (displays.empty()) return std::nullopt;
    return displays.front();
}

}  // namespace hollowkit
