#include "hollowkit/usb/wireless_mic_detector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace hollowkit {

namespace {

enum class Layout : uint8_t { none = 0, float32, int16 };

Layout layoutOf(const PcmFormat& format) {
    if (!format.linearPcm || format.channels != 2) return Layout::none;
    if (format.isFloat && format.bitsPerChannel == 32) return Layout::float32;
    if (!format.isFloat && format.bitsPerChannel == 16) return Layout::int16;
    return Layout::none;
}

// Samples are read with memcpy: the server's blocks need not be aligned.
template <typename T>
T sampleAt(const uint8_t* base, size_t index) {
    T value;
    std::memcpy(&value, base + index * sizeof(T), sizeof(T));
    return value;
}

struct Counts {
    size_t loud = 0;
    size_t differing = 0;
};

template <typename T, typename IsLoud>
Counts countFrames(const uint8_t* left, const uint8_t* right, size_t step, size_t frames, IsLoud isLoud) {
    Counts counts;
    for (size_t i = 0; i < frames; ++i) {
        const T l = sampleAt<T>(left, i * step);
        const T r = sampleAt<T>(right, i * step);
        // For floats a NaN compares unequal, so it counts as differing.
        if (!(l == r)) ++counts.differing;
        if (isLoud(l) || isLoud(r)) ++counts.loud;
    }
    return counts;
}

}  // namespace

bool WirelessMicDetector::analyze(const PcmBlock& block) {
    const Layout layout = layoutOf(block.format);
    if (layout == Layout::none) return false;
    const double rate = block.format.sampleRate;
    if (!std::isfinite(rate) || rate <= 0 || rate > kMaxSampleRate) return false;
    windowFrames = std::max<size_t>(1, static_cast<size_t>(rate));

    const size_t sampleBytes = layout == Layout::float32 ? 4 : 2;
    const uint8_t* left = nullptr;
    const uint8_t* right = nullptr;
    size_t step = 1;  // samples from one frame's sample to the next one's
    size_t available = 0;
    if (block.format.nonInterleaved) {
        if (block.buffers.size() < 2 || block.buffers[0].empty() || block.buffers[1].empty()) return false;
        left = block.buffers[0].data();
        right = block.buffers[1].data();
        available = std::min(block.buffers[0].size(), block.buffers[1].size()) / sampleBytes;
    } else {
        if (block.buffers.empty() || block.buffers[0].empty()) return false;
        left = block.buffers[0].data();
        right = left + sampleBytes;
        step = 2;
        available = block.buffers[0].size() / (2 * sampleBytes);
    }
    // A buffer shorter than the claimed frames is counted as far as it goes.
    const size_t n = std::min(block.frameCount, available);
    if (n == 0 && block.frameCount > 0) return false;

    Counts counts;
    if (layout == Layout::float32) {
        const float threshold = floor;
        counts = countFrames<float>(left, right, step, n,
                                    [threshold](float s) { return std::fabs(s) >= threshold; });
    } else {
        const int threshold = static_cast<int>(floor * 32767.0);
        counts = countFrames<int16_t>(left, right, step, n,
                                      [threshold](int16_t s) { return std::abs(int{s}) >= threshold; });
    }
    differingFrames += counts.differing;
    loudFrames += counts.loud;
    frames += n;
    return decide();
}

bool WirelessMicDetector::decide() {
    if (frames < windowFrames) return false;
    std::optional<Source> decision;
    if (loudFrames * 10 < windowFrames) {
        // Too quiet to tell.
    } else if (differingFrames == 0) {
        decision = Source::wirelessMic;
    } else if (differingFrames * 20 < frames) {
        // Fewer than one frame in twenty differs: neither clearly.
    } else {
        decision = Source::cameraMics;
    }
    frames = 0;
    loudFrames = 0;
    differingFrames = 0;
    if (!decision || decision == source) return false;
    source = decision;
    return true;
}

}  // namespace hollowkit
