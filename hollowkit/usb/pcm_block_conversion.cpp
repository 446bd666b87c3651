#include "hollowkit/usb/pcm_block_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace hollowkit {

namespace {

template <typename T>
AudioChunk convert(const PcmBlock& block, int rate, int channels) {
    const auto channelCount = static_cast<size_t>(channels);
    size_t frames = block.frameCount;
    if (block.format.nonInterleaved) {
        if (block.buffers.size() < channelCount) return {};
        for (size_t c = 0; c < channelCount; ++c) frames = std::min(frames, block.buffers[c].size() / sizeof(T));
    } else {
        if (block.buffers.empty()) return {};
        frames = std::min(frames, block.buffers[0].size() / (sizeof(T) * channelCount));
    }
    if (frames == 0) return {};

    std::vector<T> samples(frames * channelCount);
    if (block.format.nonInterleaved) {
        for (size_t c = 0; c < channelCount; ++c) {
            const uint8_t* plane = block.buffers[c].data();
            for (size_t i = 0; i < frames; ++i) {
                std::memcpy(&samples[i * channelCount + c], plane + i * sizeof(T), sizeof(T));
            }
        }
    } else {
        std::memcpy(samples.data(), block.buffers[0].data(), samples.size() * sizeof(T));
    }
    if constexpr (std::is_same_v<T, float>) {
        return AudioChunk::copyF32(samples, rate, channels, block.pts);
    } else {
        return AudioChunk::copyS16(samples, rate, channels, block.pts);
    }
}

}  // namespace

AudioChunk audioChunkFromPcm(const PcmBlock& block) {
    const PcmFormat& format = block.format;
    if (!format.linearPcm || format.channels < 1 || format.channels > AudioChunk::kMaxChannels) return {};
    const double rate = format.sampleRate;
    if (!std::isfinite(rate) || rate < 1 || rate > AudioChunk::kMaxSampleRate || rate != std::floor(rate)) {
        return {};
    }
    const int wholeRate = static_cast<int>(rate);
    if (format.isFloat && format.bitsPerChannel == 32) return convert<float>(block, wholeRate, format.channels);
    if (!format.isFloat && format.bitsPerChannel == 16) return convert<int16_t>(block, wholeRate, format.channels);
    return {};
}

std::optional<float> averagePowerDb(const AudioChunk& chunk) {
    const size_t frames = chunk.frameCount();
    if (chunk.isNull() || frames == 0) return std::nullopt;
    const auto channels = static_cast<size_t>(chunk.channels());
    double sum = 0;
    if (chunk.sampleFormat() == SampleFormat::f32) {
        const auto samples = chunk.f32();
        for (size_t i = 0; i < frames; ++i) {
            const double s = samples[i * channels];
            sum += s * s;
        }
    } else {
        const auto samples = chunk.s16();
        for (size_t i = 0; i < frames; ++i) {
            const double s = samples[i * channels] / 32768.0;
            sum += s * s;
        }
    }
    const double meanSquare = sum / static_cast<double>(frames);
    if (!std::isfinite(meanSquare)) return std::nullopt;
    // 10 log10 of the mean square is 20 log10 of the RMS.
    const double db = meanSquare > 0 ? 10.0 * std::log10(meanSquare) : kSilenceDb;
    return static_cast<float>(std::clamp<double>(db, kSilenceDb, 0.0));
}

}  // namespace hollowkit
