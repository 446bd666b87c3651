#include "hollowkit/media/audio_chunk.h"

#include <chrono>
#include <type_traits>
#include <vector>

namespace hollowkit {

namespace detail {

struct AudioStorage {
    SampleFormat format = SampleFormat::none;
    int sampleRate = 0;
    int channels = 0;
    size_t frames = 0;
    // Only the vector of `format` is used.
    std::vector<float> f32;
    std::vector<int16_t> s16;
};

}  // namespace detail

namespace {

// Sources deliver chunks of milliseconds; a bound far above that keeps a
// wrong frame count from asking for gigabytes.
constexpr size_t kMaxFrames = size_t{1} << 24;

bool validShape(int sampleRate, int channels) {
    return sampleRate > 0 && sampleRate <= AudioChunk::kMaxSampleRate && channels > 0 &&
           channels <= AudioChunk::kMaxChannels;
}

template <typename Sample>
std::shared_ptr<detail::AudioStorage> copyInto(SampleFormat format, std::span<const Sample> samples,
                                               int sampleRate, int channels) {
    if (!validShape(sampleRate, channels) || samples.size() % static_cast<size_t>(channels) != 0) {
        return nullptr;
    }
    auto storage = std::make_shared<detail::AudioStorage>();
    storage->format = format;
    storage->sampleRate = sampleRate;
    storage->channels = channels;
    storage->frames = samples.size() / static_cast<size_t>(channels);
    if constexpr (std::is_same_v<Sample, float>) {
        storage->f32.assign(samples.begin(), samples.end());
    } else {
        storage->s16.assign(samples.begin(), samples.end());
    }
    return storage;
}

}  // namespace

AudioChunk AudioChunk::copyF32(std::span<const float> interleaved, int sampleRate, int channels,
                               TimePoint pts) {
    auto storage = copyInto(SampleFormat::f32, interleaved, sampleRate, channels);
    return storage ? AudioChunk(std::move(storage), pts) : AudioChunk();
}

AudioChunk AudioChunk::copyS16(std::span<const int16_t> interleaved, int sampleRate, int channels,
                               TimePoint pts) {
    auto storage = copyInto(SampleFormat::s16, interleaved, sampleRate, channels);
    return storage ? AudioChunk(std::move(storage), pts) : AudioChunk();
}

SampleFormat AudioChunk::sampleFormat() const {
    return storage_ ? storage_->format : SampleFormat::none;
}

int AudioChunk::sampleRate() const {
    return storage_ ? storage_->sampleRate : 0;
}

int AudioChunk::channels() const {
    return storage_ ? storage_->channels : 0;
}

size_t AudioChunk::frameCount() const {
    return storage_ ? storage_->frames : 0;
}

Duration AudioChunk::duration() const {
    if (!storage_) {
        return Duration::zero();
    }
    // Integer arithmetic: exact for any rate, no drift when chunks are summed.
    using Nanoseconds = std::chrono::nanoseconds;
    const auto nanoseconds = static_cast<int64_t>(storage_->frames) * 1'000'000'000 / storage_->sampleRate;
    return std::chrono::duration_cast<Duration>(Nanoseconds(nanoseconds));
}

std::span<const float> AudioChunk::f32() const {
    if (!storage_ || storage_->format != SampleFormat::f32) {
        return {};
    }
    return storage_->f32;
}

std::span<const int16_t> AudioChunk::s16() const {
    if (!storage_ || storage_->format != SampleFormat::s16) {
        return {};
    }
    return storage_->s16;
}

WritableAudioChunk WritableAudioChunk::allocate(SampleFormat format, int sampleRate, int channels,
                                                size_t frames) {
    if (format == SampleFormat::none || !validShape(sampleRate, channels) || frames > kMaxFrames) {
        return {};
    }
    auto storage = std::make_shared<detail::AudioStorage>();
    storage->format = format;
    storage->sampleRate = sampleRate;
    storage->channels = channels;
    storage->frames = frames;
    const size_t samples = frames * static_cast<size_t>(channels);
    if (format == SampleFormat::f32) {
        storage->f32.assign(samples, 0.0F);
    } else {
        storage->s16.assign(samples, 0);
    }
    return WritableAudioChunk(std::move(storage));
}

std::span<float> WritableAudioChunk::f32() {
    if (!storage_ || storage_->format != SampleFormat::f32) {
        return {};
    }
    return storage_->f32;
}

std::span<int16_t> WritableAudioChunk::s16() {
    if (!storage_ || storage_->format != SampleFormat::s16) {
        return {};
    }
    return storage_->s16;
}

AudioChunk WritableAudioChunk::freeze(TimePoint pts) && {
    if (!storage_) {
        return {};
    }
    return AudioChunk(std::shared_ptr<const detail::AudioStorage>(std::move(storage_)), pts);
}

}  // namespace hollowkit
