#pragma once

// WirelessMicDetector: tells from the camera's stereo sound whether it
// carries the camera's own microphones (two channels that differ) or a DJI
// Mic received by the camera (one signal, identical on both channels). It
// counts, over windows of one second of sound, the loud frames and the
// frames whose left and right samples differ, decides, and reports only a
// change. A plain value owned by the USB camera and used on its audio
// queue only; no lock, no allocation.
//
// Accepted: linear PCM with exactly two channels, 32-bit float or 16-bit
// integer samples, interleaved or one buffer per channel. Anything else,
// a sample rate that is not a finite number in 1...1'000'000, or buffers
// that hold none of the claimed frames, is ignored (nothing counted,
// nothing reported). Buffers shorter than the claimed frame count are
// counted as far as they go.

#include <cstddef>
#include <optional>

#include "hollowkit/usb/audio_source_backend.h"

namespace hollowkit {

struct WirelessMicDetector {
    enum class Source : uint8_t {
        none = 0,
        cameraMics,
        wirelessMic,
    };

    static constexpr float kDefaultFloor = 0.002F;
    static constexpr size_t kDefaultWindowFrames = 48000;
    static constexpr double kMaxSampleRate = 1'000'000;

    // The last decision; nothing before the first.
    std::optional<Source> source;
    // Loudness threshold as a fraction of full scale.
    float floor = kDefaultFloor;
    // Frames that make one decision window (one second of the stream).
    size_t windowFrames = kDefaultWindowFrames;
    size_t frames = 0;
    size_t loudFrames = 0;
    size_t differingFrames = 0;

    // Counts one block; true exactly when it completed a window whose
    // decision changed `source`.
    bool analyze(const PcmBlock& block);

private:
    bool decide();
};

}  // namespace hollowkit
