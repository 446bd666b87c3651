#pragma once

// The USB camera's format menu: the capture device's formats turned into
// distinct VideoFormatOptions (size and whole frame rate), their order, the
// format chosen when the camera opens, and the device format and rate range
// that an option stands for. Pure functions over values; any thread.

#include <optional>
#include <vector>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/usb/video_device.h"

namespace hollowkit {

// A frame rate as a whole number, the nearest integer with halves away from
// zero (29.97 gives 30, 12.5 gives 13). Nothing for a rate that is not a
// finite number within 0...1000.
std::optional<int> wholeFramesPerSecond(double framesPerSecond);

// Every (width, height, whole maximum rate) the formats and their ranges
// offer, each once, sorted with formatOrder. Formats of no size and rates
// that cannot be made whole are left out.
std::vector<VideoFormatOption> formatList(const std::vector<VideoDeviceFormat>& formats);

// Whether `a` comes before `b`: landscape (width >= height) before
// portrait, then the larger area, then the higher rate.
bool formatOrder(const VideoFormatOption& a, const VideoFormatOption& b);

// The largest landscape option at 30 frames per second or more (the
// earlier of equal areas); without one, the first option; nothing for an
// empty list.
std::optional<VideoFormatOption> defaultFormat(const std::vector<VideoFormatOption>& options);

// The first device format of exactly the option's size with a range whose
// whole maximum rate is the option's rate, and that range.
struct FormatMatch {
    VideoDeviceFormat format;
    FrameRateRange range;

    bool operator==(const FormatMatch&) const = default;
};
std::optional<FormatMatch> matchFormat(const std::vector<VideoDeviceFormat>& formats,
                                       const VideoFormatOption& option);

}  // namespace hollowkit
