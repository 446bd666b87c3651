#pragma once

// AudioChunk: a run of PCM sound as a cheap handle to immutable samples.
// Samples are interleaved (frame by frame, channel by channel) and either
// signed 16-bit or 32-bit float in -1...1, whichever the source delivers;
// consumers that need the other form convert. The presentation time of the
// first frame is in the handle (CLOCK_MONOTONIC), so re-timing never copies.
// Handles cross threads freely; nothing writes through them.

#include <cstdint>
#include <memory>
#include <span>
#include <utility>

#include "hollowkit/base/clock.h"

namespace hollowkit {

enum class SampleFormat : uint8_t {
    none = 0,
    s16,  // signed 16-bit, native endian
    f32,  // 32-bit float, full scale -1...1
};

namespace detail {
struct AudioStorage;
}

class AudioChunk {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kMaxSampleRate = 1'000'000;

    // A null chunk: no samples.
    AudioChunk() = default;

    // Copies interleaved samples. Null when the rate or channel count is out
    // of range or the sample count is not a whole number of frames.
    static AudioChunk copyF32(std::span<const float> interleaved, int sampleRate, int channels,
                              TimePoint pts);
    static AudioChunk copyS16(std::span<const int16_t> interleaved, int sampleRate, int channels,
                              TimePoint pts);

    bool isNull() const { return storage_ == nullptr; }
    explicit operator bool() const { return !isNull(); }

    SampleFormat sampleFormat() const;
    int sampleRate() const;
    int channels() const;
    // Frames: one sample per channel.
    size_t frameCount() const;
    // frameCount / sampleRate.
    Duration duration() const;

    // The interleaved samples; empty unless the chunk holds that format.
    std::span<const float> f32() const;
    std::span<const int16_t> s16() const;

    TimePoint pts() const { return pts_; }
    AudioChunk withPts(TimePoint pts) const { return AudioChunk(storage_, pts); }

    bool sharesSamplesWith(const AudioChunk& other) const {
        return storage_ != nullptr && storage_ == other.storage_;
    }

private:
    friend class WritableAudioChunk;
    AudioChunk(std::shared_ptr<const detail::AudioStorage> storage, TimePoint pts)
        : storage_(std::move(storage)), pts_(pts) {}

    std::shared_ptr<const detail::AudioStorage> storage_;
    TimePoint pts_{};
};

// Sound being produced (a mixer, a converter): fill the samples, then freeze.
// Move-only, one thread at a time.
class WritableAudioChunk {
public:
    WritableAudioChunk() = default;
    WritableAudioChunk(WritableAudioChunk&&) noexcept = default;
    WritableAudioChunk& operator=(WritableAudioChunk&&) noexcept = default;
    WritableAudioChunk(const WritableAudioChunk&) = delete;
    WritableAudioChunk& operator=(const WritableAudioChunk&) = delete;

    // Zeroed samples for `frames` frames. Null when the format is none or the
    // rate, channel count or size is out of range.
    static WritableAudioChunk allocate(SampleFormat format, int sampleRate, int channels,
                                       size_t frames);

    bool isNull() const { return storage_ == nullptr; }
    explicit operator bool() const { return !isNull(); }

    std::span<float> f32();
    std::span<int16_t> s16();

    AudioChunk freeze(TimePoint pts) &&;

private:
    explicit WritableAudioChunk(std::shared_ptr<detail::AudioStorage> storage)
        : storage_(std::move(storage)) {}

    std::shared_ptr<detail::AudioStorage> storage_;
};

}  // namespace hollowkit
