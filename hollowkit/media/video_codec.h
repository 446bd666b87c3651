#pragma once

// VideoCodec: the codec of the app's own recordings and of the camera's
// compression setting. Stored in settings as its string ("HEVC", "H.264").
// Pure values, any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace hollowkit {

// Case order is the order the choice is listed in; HEVC first.
enum class VideoCodec : uint8_t { hevc, h264 };

inline constexpr std::array kAllVideoCodecs{VideoCodec::hevc, VideoCodec::h264};

// The stored and shown string: "HEVC" or "H.264".
std::string_view toString(VideoCodec codec);

// Exactly one of the stored strings, else nothing.
std::optional<VideoCodec> parseVideoCodec(std::string_view text);

// Average bits per pixel per frame at 30 fps: 0.08 for HEVC, 0.14 for H.264.
double bitRateFactor(VideoCodec codec);

// Average video bit rate in bits per second for a picture of this size:
// height x width x 30 x factor, truncated. 1920x1080 gives 4,976,640 (HEVC)
// and 8,709,120 (H.264). Sizes that are not positive give 0.
int64_t bitRate(VideoCodec codec, int32_t width, int32_t height);

}  // namespace hollowkit
