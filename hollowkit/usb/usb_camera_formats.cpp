#include "hollowkit/usb/usb_camera_formats.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace hollowkit {

namespace {

// Far beyond any camera; keeps the rounding inside int.
constexpr double kMaxFramesPerSecond = 1000;

int64_t area(const VideoFormatOption& option) {
    return int64_t{option.width} * option.height;
}

bool isLandscape(const VideoFormatOption& option) {
    return option.width >= option.height;
}

}  // namespace

std::optional<int> wholeFramesPerSecond(double framesPerSecond) {
    if (!std::isfinite(framesPerSecond) || framesPerSecond < 0 || framesPerSecond > kMaxFramesPerSecond) {
        return std::nullopt;
    }
    // std::round rounds halves away from zero.
    return static_cast<int>(std::round(framesPerSecond));
}

std::vector<VideoFormatOption> formatList(const std::vector<VideoDeviceFormat>& formats) {
    std::vector<VideoFormatOption> options;
    for (const VideoDeviceFormat& format : formats) {
        if (format.width <= 0 || format.height <= 0) continue;
        for (const FrameRateRange& range : format.frameRateRanges) {
            const auto rate = wholeFramesPerSecond(range.maxFramesPerSecond);
            if (!rate) continue;
            const VideoFormatOption option{format.width, format.height, *rate};
            if (std::find(options.begin(), options.end(), option) == options.end()) options.push_back(option);
        }
    }
    // Stable, so options that tie on every key keep the device's order.
    std::stable_sort(options.begin(), options.end(), formatOrder);
    return options;
}

bool formatOrder(const VideoFormatOption& a, const VideoFormatOption& b) {
    if (isLandscape(a) != isLandscape(b)) return isLandscape(a);
    if (area(a) != area(b)) return area(a) > area(b);
    return a.framesPerSecond > b.framesPerSecond;
}

std::optional<VideoFormatOption> defaultFormat(const std::vector<VideoFormatOption>& options) {
    std::optional<VideoFormatOption> best;
    for (const VideoFormatOption& option : options) {
        if (option.height > option.width || option.framesPerSecond < 30) continue;
        if (!best || area(option) > area(*best)) best = option;
    }
    if (best) return best;
    if (options.empty()) return std::nullopt;
    return options.front();
}

std::optional<FormatMatch> matchFormat(const std::vector<VideoDeviceFormat>& formats,
                                       const VideoFormatOption& option) {
    for (const VideoDeviceFormat& format : formats) {
        if (format.width != option.width || format.height != option.height) continue;
        for (const FrameRateRange& range : format.frameRateRanges) {
            if (wholeFramesPerSecond(range.maxFramesPerSecond) == option.framesPerSecond) {
                return FormatMatch{format, range};
            }
        }
    }
    return std::nullopt;
}

}  // namespace hollowkit
