#include "hollowkit/testing/fake_audio_source.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

struct FakeAudioSourceBackend::Shared {
    struct Capture {
        std::string id;
        AudioSourceHandlers handlers;
        bool open = true;
    };

    mutable Mutex mutex;
    std::vector<AudioSourceInfo> sources HK_GUARDED_BY(mutex);
    std::optional<std::string> defaultId HK_GUARDED_BY(mutex);
    bool access HK_GUARDED_BY(mutex) = true;
    std::map<std::string, std::string> openFailures HK_GUARDED_BY(mutex);
    std::vector<std::string> opened HK_GUARDED_BY(mutex);
    std::vector<std::shared_ptr<Capture>> captures HK_GUARDED_BY(mutex);  // newest last

    // Held while a handler runs and while a capture closes. Recursive: a
    // handler may close its own capture. Guards no field, so it stays a
    // plain std:: mutex.
    std::recursive_mutex delivery;

    std::shared_ptr<Capture> newestOpen() const {
        MutexLock lock(mutex);
        for (auto it = captures.rbegin(); it != captures.rend(); ++it) {
            if ((*it)->open) return *it;
        }
        return nullptr;
    }
};

namespace {

class FakeSourceCapture final : public AudioSourceCapture {
public:
    FakeSourceCapture(std::shared_ptr<FakeAudioSourceBackend::Shared> shared,
                std::shared_ptr<FakeAudioSourceBackend::Shared::Capture> capture)
        : shared_(std::move(shared)), capture_(std::move(capture)) {}
    ~FakeSourceCapture() override {
        std::lock_guard delivery(shared_->delivery);
        MutexLock lock(shared_->mutex);
        capture_->open = false;
    }

private:
    std::shared_ptr<FakeAudioSourceBackend::Shared> shared_;
    std::shared_ptr<FakeAudioSourceBackend::Shared::Capture> capture_;
};

template <typename T>
PcmBlock stereo(const std::vector<T>& left, const std::vector<T>& right, double sampleRate, bool isFloat) {
    const size_t frames = std::min(left.size(), right.size());
    std::vector<T> interleaved(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    PcmBlock block;
    block.format = PcmFormat{true, sampleRate, 2, static_cast<int>(sizeof(T) * 8), isFloat, false};
    block.frameCount = frames;
    Bytes bytes(interleaved.size() * sizeof(T));
    std::memcpy(bytes.data(), interleaved.data(), bytes.size());
    block.buffers.push_back(std::move(bytes));
    return block;
}

}  // namespace

FakeAudioSourceBackend::FakeAudioSourceBackend() : shared_(std::make_shared<Shared>()) {}

FakeAudioSourceBackend::~FakeAudioSourceBackend() = default;

void FakeAudioSourceBackend::setSources(std::vector<AudioSourceInfo> sources) {
    MutexLock lock(shared_->mutex);
    shared_->sources = std::move(sources);
}

void FakeAudioSourceBackend::setDefaultSourceId(std::optional<std::string> id) {
    MutexLock lock(shared_->mutex);
    shared_->defaultId = std::move(id);
}

void FakeAudioSourceBackend::setAccess(bool granted) {
    MutexLock lock(shared_->mutex);
    shared_->access = granted;
}

void FakeAudioSourceBackend::setOpenFailure(const std::string& id, std::string error) {
    MutexLock lock(shared_->mutex);
    shared_->openFailures[id] = std::move(error);
}

void FakeAudioSourceBackend::clearOpenFailure(const std::string& id) {
    MutexLock lock(shared_->mutex);
    shared_->openFailures.erase(id);
}

std::vector<std::string> FakeAudioSourceBackend::openedIds() const {
    MutexLock lock(shared_->mutex);
    return shared_->opened;
}

int FakeAudioSourceBackend::openCaptureCount() const {
    MutexLock lock(shared_->mutex);
    return static_cast<int>(std::count_if(shared_->captures.begin(), shared_->captures.end(),
                                          [](const auto& capture) { return capture->open; }));
}

std::optional<std::string> FakeAudioSourceBackend::activeCaptureId() const {
    auto capture = shared_->newestOpen();
    if (!capture) return std::nullopt;
    return capture->id;
}

bool FakeAudioSourceBackend::emit(PcmBlock block) {
    std::lock_guard delivery(shared_->delivery);
    auto capture = shared_->newestOpen();
    if (!capture) return false;
    if (capture->handlers.onBlock) capture->handlers.onBlock(std::move(block));
    return true;
}

bool FakeAudioSourceBackend::fail(const std::string& why) {
    std::lock_guard delivery(shared_->delivery);
    auto capture = shared_->newestOpen();
    if (!capture) return false;
    {
        MutexLock lock(shared_->mutex);
        capture->open = false;
    }
    if (capture->handlers.onFailure) capture->handlers.onFailure(why);
    return true;
}

PcmBlock FakeAudioSourceBackend::stereoFloat(const std::vector<float>& left, const std::vector<float>& right,
                                            double sampleRate) {
    return stereo(left, right, sampleRate, true);
}

PcmBlock FakeAudioSourceBackend::stereoInt16(const std::vector<int16_t>& left, const std::vector<int16_t>& right,
                                            double sampleRate) {
    return stereo(left, right, sampleRate, false);
}

bool FakeAudioSourceBackend::requestAccess() {
    MutexLock lock(shared_->mutex);
    return shared_->access;
}

std::vector<AudioSourceInfo> FakeAudioSourceBackend::sources() {
    MutexLock lock(shared_->mutex);
    return shared_->sources;
}

std::optional<AudioSourceInfo> FakeAudioSourceBackend::defaultSource() {
    MutexLock lock(shared_->mutex);
    if (!shared_->defaultId) return std::nullopt;
    for (const AudioSourceInfo& source : shared_->sources) {
        if (source.id == *shared_->defaultId) return source;
    }
    return std::nullopt;
}

Result<std::unique_ptr<AudioSourceCapture>, std::string> FakeAudioSourceBackend::open(const std::string& id,
                                                                                     AudioSourceHandlers handlers) {
    MutexLock lock(shared_->mutex);
    shared_->opened.push_back(id);
    if (auto failure = shared_->openFailures.find(id); failure != shared_->openFailures.end()) {
        return unexpected(failure->second);
    }
    const bool known = std::any_of(shared_->sources.begin(), shared_->sources.end(),
                                   [&](const AudioSourceInfo& source) { return source.id == id; });
    if (!known) return unexpected("no source named " + id);
    auto capture = std::make_shared<Shared::Capture>();
    capture->id = id;
    capture->handlers = std::move(handlers);
    shared_->captures.push_back(capture);
    return std::unique_ptr<AudioSourceCapture>(std::make_unique<FakeSourceCapture>(shared_, std::move(capture)));
}

}  // namespace hollowkit
