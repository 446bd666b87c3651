#include "hollowkit/media/video_codec.h"

namespace hollowkit {

std::string_view toString(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::hevc:
        return "HEVC";
    case VideoCodec::h264:
        return "H.264";
    }
    return "HEVC";
}

std::optional<VideoCodec> parseVideoCodec(std::string_view text) {
    for (VideoCodec codec : kAllVideoCodecs) {
        if (toString(codec) == text) {
            return codec;
        }
    }
    return std::nullopt;
}

double bitRateFactor(VideoCodec codec) {
    return codec == VideoCodec::h264 ? 0.14 : 0.08;
}

int64_t bitRate(VideoCodec codec, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    // Same order of operations as the stored figures were computed with, so
    // the truncation lands on the same integers. The largest 32-bit sizes stay
    // well inside int64 (2^62 x 30 x 0.14 is not, hence the bound).
    const double rate = static_cast<double>(height) * width * 30.0 * bitRateFactor(codec);
    constexpr double kLimit = 9.0e18;
    return rate >= kLimit ? static_cast<int64_t>(kLimit) : static_cast<int64_t>(rate);
}

}  // namespace hollowkit
