#include "hollowkit/testing/fake_audio_input.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <numbers>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

struct FakeAudioInputBackend::Shared {
    // Held while a handler runs and while a capture closes.
    Mutex delivery;

    mutable Mutex mutex;
    std::vector<AudioInputOption> inputs HK_GUARDED_BY(mutex);
    std::optional<std::string> defaultId HK_GUARDED_BY(mutex);
    MicrophoneAccess access HK_GUARDED_BY(mutex) = MicrophoneAccess::authorized;
    bool accessAnswer HK_GUARDED_BY(mutex) = true;
    std::map<std::string, MicrophoneError> openFailures HK_GUARDED_BY(mutex);
    int sampleRate HK_GUARDED_BY(mutex) = 48000;
    int channels HK_GUARDED_BY(mutex) = 1;
    std::vector<std::string> openedIds HK_GUARDED_BY(mutex);
    int requestAccessCalls HK_GUARDED_BY(mutex) = 0;
    // Open captures, oldest first, by serial number.
    std::vector<std::pair<uint64_t, AudioCaptureHandlers>> open HK_GUARDED_BY(mutex);
    uint64_t nextSerial HK_GUARDED_BY(mutex) = 1;
    std::optional<TimePoint> timelineStart HK_GUARDED_BY(mutex);
    uint64_t framesEmitted HK_GUARDED_BY(mutex) = 0;
    double phase HK_GUARDED_BY(mutex) = 0.0;
    bool holdOpens HK_GUARDED_BY(mutex) = false;
    int heldOpens HK_GUARDED_BY(mutex) = 0;
    std::condition_variable holdChanged;  // with `mutex`
};

namespace {

class FakeInputCapture final : public AudioCapture {
public:
    FakeInputCapture(std::shared_ptr<FakeAudioInputBackend::Shared> shared, uint64_t serial)
        : shared_(std::move(shared)), serial_(serial) {}
    ~FakeInputCapture() override {
        MutexLock delivery(shared_->delivery);
        MutexLock lock(shared_->mutex);
        auto& open = shared_->open;
        open.erase(std::remove_if(open.begin(), open.end(),
                                  [&](const auto& entry) { return entry.first == serial_; }),
                   open.end());
    }

private:
    std::shared_ptr<FakeAudioInputBackend::Shared> shared_;
    uint64_t serial_;
};

}  // namespace

FakeAudioInputBackend::FakeAudioInputBackend() : shared_(std::make_shared<Shared>()) {}

FakeAudioInputBackend::~FakeAudioInputBackend() = default;

void FakeAudioInputBackend::setInputs(std::vector<AudioInputOption> inputs) {
    MutexLock lock(shared_->mutex);
    shared_->inputs = std::move(inputs);
}

void FakeAudioInputBackend::setDefaultInputId(std::optional<std::string> id) {
    MutexLock lock(shared_->mutex);
    shared_->defaultId = std::move(id);
}

void FakeAudioInputBackend::setAccess(MicrophoneAccess access) {
    MutexLock lock(shared_->mutex);
    shared_->access = access;
}

void FakeAudioInputBackend::setAccessAnswer(bool granted) {
    MutexLock lock(shared_->mutex);
    shared_->accessAnswer = granted;
}

void FakeAudioInputBackend::setOpenFailure(const std::string& id, MicrophoneError error) {
    MutexLock lock(shared_->mutex);
    shared_->openFailures[id] = std::move(error);
}

void FakeAudioInputBackend::clearOpenFailure(const std::string& id) {
    MutexLock lock(shared_->mutex);
    shared_->openFailures.erase(id);
}

void FakeAudioInputBackend::holdOpens() {
    MutexLock lock(shared_->mutex);
    shared_->holdOpens = true;
}

void FakeAudioInputBackend::releaseOpens() {
    MutexLock lock(shared_->mutex);
    shared_->holdOpens = false;
    shared_->holdChanged.notify_all();
}

bool FakeAudioInputBackend::waitForHeldOpen(Duration realTimeout) {
    MutexLock lock(shared_->mutex);
    return lock.waitFor(shared_->holdChanged, realTimeout,
                        [&]() HK_REQUIRES(shared_->mutex) { return shared_->heldOpens > 0; });
}

void FakeAudioInputBackend::setFormat(int sampleRate, int channels) {
    MutexLock lock(shared_->mutex);
    shared_->sampleRate = sampleRate;
    shared_->channels = channels;
}

std::vector<std::string> FakeAudioInputBackend::openedIds() const {
    MutexLock lock(shared_->mutex);
    return shared_->openedIds;
}

int FakeAudioInputBackend::requestAccessCalls() const {
    MutexLock lock(shared_->mutex);
    return shared_->requestAccessCalls;
}

int FakeAudioInputBackend::openCaptureCount() const {
    MutexLock lock(shared_->mutex);
    return static_cast<int>(shared_->open.size());
}

void FakeAudioInputBackend::setTimelineStart(TimePoint start) {
    MutexLock lock(shared_->mutex);
    shared_->timelineStart = start;
    shared_->framesEmitted = 0;
}

bool FakeAudioInputBackend::emitSine(double frequencyHz, size_t frames, float amplitude) {
    AudioChunk chunk;
    {
        MutexLock lock(shared_->mutex);
        if (shared_->open.empty()) return false;
        if (!shared_->timelineStart) shared_->timelineStart = Clock::system().now();
        const int rate = shared_->sampleRate;
        const int channels = shared_->channels;
        WritableAudioChunk samples = WritableAudioChunk::allocate(SampleFormat::f32, rate, channels, frames);
        if (!samples) return false;
        std::span<float> out = samples.f32();
        const double step = 2.0 * std::numbers::pi * frequencyHz / rate;
        for (size_t frame = 0; frame < frames; ++frame) {
            const auto value = static_cast<float>(amplitude * std::sin(shared_->phase));
            shared_->phase = std::fmod(shared_->phase + step, 2.0 * std::numbers::pi);
            for (int channel = 0; channel < channels; ++channel) {
                out[frame * static_cast<size_t>(channels) + static_cast<size_t>(channel)] = value;
            }
        }
        const auto offset = std::chrono::nanoseconds(
            static_cast<int64_t>(shared_->framesEmitted * 1'000'000'000ULL / static_cast<uint64_t>(rate)));
        shared_->framesEmitted += frames;
        chunk =
            std::move(samples).freeze(*shared_->timelineStart + std::chrono::duration_cast<Duration>(offset));
    }
    return emit(std::move(chunk));
}

bool FakeAudioInputBackend::emit(AudioChunk chunk) {
    MutexLock delivery(shared_->delivery);
    std::function<void(AudioChunk)> handler;
    {
        MutexLock lock(shared_->mutex);
        if (shared_->open.empty()) return false;
        handler = shared_->open.back().second.onChunk;
    }
    if (handler) handler(std::move(chunk));
    return true;
}

bool FakeAudioInputBackend::fail(MicrophoneError error) {
    MutexLock delivery(shared_->delivery);
    std::function<void(MicrophoneError)> handler;
    {
        MutexLock lock(shared_->mutex);
        if (shared_->open.empty()) return false;
        // A failed capture delivers nothing more.
        handler = std::move(shared_->open.back().second.onFailure);
        shared_->open.back().second = {};
    }
    if (handler) handler(std::move(error));
    return true;
}

MicrophoneAccess FakeAudioInputBackend::access() const {
    MutexLock lock(shared_->mutex);
    return shared_->access;
}

bool FakeAudioInputBackend::requestAccess() {
    MutexLock lock(shared_->mutex);
    ++shared_->requestAccessCalls;
    if (shared_->access == MicrophoneAccess::notDetermined) {
        shared_->access = shared_->accessAnswer ? MicrophoneAccess::authorized : MicrophoneAccess::denied;
    }
    return shared_->access == MicrophoneAccess::authorized;
}

std::vector<AudioInputOption> FakeAudioInputBackend::inputs() {
    MutexLock lock(shared_->mutex);
    return shared_->inputs;
}

std::optional<AudioInputOption> FakeAudioInputBackend::defaultInput() {
    MutexLock lock(shared_->mutex);
    if (!shared_->defaultId) return std::nullopt;
    for (const AudioInputOption& option : shared_->inputs) {
        if (option.id == *shared_->defaultId) return option;
    }
    return std::nullopt;
}

Result<std::unique_ptr<AudioCapture>, MicrophoneError> FakeAudioInputBackend::open(
    const std::string& id, AudioCaptureHandlers handlers) {
    MutexLock lock(shared_->mutex);
    shared_->openedIds.push_back(id);
    Result<std::unique_ptr<AudioCapture>, MicrophoneError> result = unexpected(MicrophoneError{});
    if (auto failure = shared_->openFailures.find(id); failure != shared_->openFailures.end()) {
        result = unexpected(failure->second);
    } else if (std::none_of(shared_->inputs.begin(), shared_->inputs.end(),
                            [&](const AudioInputOption& option) { return option.id == id; })) {
        result = unexpected(MicrophoneError::unavailable("no input named " + id));
    } else {
        const uint64_t serial = shared_->nextSerial++;
        shared_->open.emplace_back(serial, std::move(handlers));
        result = std::unique_ptr<AudioCapture>(std::make_unique<FakeInputCapture>(shared_, serial));
    }
    if (shared_->holdOpens) {
        ++shared_->heldOpens;
        shared_->holdChanged.notify_all();
        lock.wait(shared_->holdChanged, [&]() HK_REQUIRES(shared_->mutex) { return !shared_->holdOpens; });
        --shared_->heldOpens;
    }
    return result;
}

}  // namespace hollowkit
