#include "hollowkit/testing/fake_screen_capture.h"

namespace hollowkit {

void FakeDisplayService::setDisplays(std::vector<DisplayInfo> displays) {
    MutexLock lock(mutex_);
    displays_ = std::move(displays);
}

void FakeDisplayService::setFailure(std::optional<std::string> error) {
    MutexLock lock(mutex_);
    failure_ = std::move(error);
}

void FakeDisplayService::setScreenNames(std::map<uint32_t, std::string> names) {
    MutexLock lock(mutex_);
    names_ = std::move(names);
}

void FakeDisplayService::setCanCapture(bool granted) {
    MutexLock lock(mutex_);
    canCapture_ = granted;
}

int FakeDisplayService::displaysCalls() const {
    MutexLock lock(mutex_);
    return displaysCalls_;
}

Result<std::vector<DisplayInfo>, std::string> FakeDisplayService::displays() {
    MutexLock lock(mutex_);
    ++displaysCalls_;
    if (failure_) return unexpected(*failure_);
    return displays_;
}

std::map<uint32_t, std::string> FakeDisplayService::screenNames() {
    MutexLock lock(mutex_);
    return names_;
}

bool FakeDisplayService::canCapture() {
    MutexLock lock(mutex_);
    return canCapture_;
}

struct FakeScreenCaptureBackend::Shared {
    // Held while a handler runs and while a capture closes.
    Mutex delivery;

    mutable Mutex mutex;
    std::optional<std::string> startFailure HK_GUARDED_BY(mutex);
    std::function<void()> duringStart HK_GUARDED_BY(mutex);
    int startCount HK_GUARDED_BY(mutex) = 0;
    std::optional<ScreenCaptureRequest> lastRequest HK_GUARDED_BY(mutex);
    uint64_t openSerial HK_GUARDED_BY(mutex) = 0;  // 0: none open
    uint64_t nextSerial HK_GUARDED_BY(mutex) = 1;
    ScreenCaptureHandlers handlers HK_GUARDED_BY(mutex);
};

namespace {

class FakeScreenCaptureSession final : public ScreenCapture {
public:
    FakeScreenCaptureSession(std::shared_ptr<FakeScreenCaptureBackend::Shared> shared, uint64_t serial)
        : shared_(std::move(shared)), serial_(serial) {}
    ~FakeScreenCaptureSession() override {
        MutexLock delivery(shared_->delivery);
        MutexLock lock(shared_->mutex);
        if (shared_->openSerial == serial_) {
            shared_->openSerial = 0;
            shared_->handlers = {};
        }
    }

private:
    std::shared_ptr<FakeScreenCaptureBackend::Shared> shared_;
    uint64_t serial_;
};

}  // namespace

FakeScreenCaptureBackend::FakeScreenCaptureBackend() : shared_(std::make_shared<Shared>()) {}

FakeScreenCaptureBackend::~FakeScreenCaptureBackend() = default;

void FakeScreenCaptureBackend::setStartFailure(std::optional<std::string> error) {
    MutexLock lock(shared_->mutex);
    shared_->startFailure = std::move(error);
}

void FakeScreenCaptureBackend::setDuringStart(std::function<void()> hook) {
    MutexLock lock(shared_->mutex);
    shared_->duringStart = std::move(hook);
}

int FakeScreenCaptureBackend::startCount() const {
    MutexLock lock(shared_->mutex);
    return shared_->startCount;
}

std::optional<ScreenCaptureRequest> FakeScreenCaptureBackend::lastRequest() const {
    MutexLock lock(shared_->mutex);
    return shared_->lastRequest;
}

bool FakeScreenCaptureBackend::running() const {
    MutexLock lock(shared_->mutex);
    return shared_->openSerial != 0;
}

bool FakeScreenCaptureBackend::emitFrame(VideoFrame frame, ScreenFrameStatus status) {
    MutexLock delivery(shared_->delivery);
    std::function<void(VideoFrame, ScreenFrameStatus)> handler;
    {
        MutexLock lock(shared_->mutex);
        if (shared_->openSerial == 0) return false;
        handler = shared_->handlers.onFrame;
    }
    if (handler) handler(std::move(frame), status);
    return true;
}

bool FakeScreenCaptureBackend::emitAudio(AudioChunk chunk) {
    MutexLock delivery(shared_->delivery);
    std::function<void(AudioChunk)> handler;
    {
        MutexLock lock(shared_->mutex);
        if (shared_->openSerial == 0) return false;
        handler = shared_->handlers.onAudio;
    }
    if (handler) handler(std::move(chunk));
    return true;
}

bool FakeScreenCaptureBackend::stopBySystem(const std::string& reason) {
    MutexLock delivery(shared_->delivery);
    std::function<void(std::string)> handler;
    {
        MutexLock lock(shared_->mutex);
        if (shared_->openSerial == 0) return false;
        handler = shared_->handlers.onStopped;
    }
    if (handler) handler(reason);
    return true;
}

Result<std::unique_ptr<ScreenCapture>, std::string> FakeScreenCaptureBackend::start(
    const ScreenCaptureRequest& request, ScreenCaptureHandlers handlers) {
    std::function<void()> hook;
    uint64_t serial = 0;
    std::optional<std::string> failure;
    {
        MutexLock lock(shared_->mutex);
        ++shared_->startCount;
        shared_->lastRequest = request;
        failure = shared_->startFailure;
        hook = shared_->duringStart;
    }
    if (failure) {
        if (hook) hook();
        return unexpected(*failure);
    }
    {
        MutexLock lock(shared_->mutex);
        serial = shared_->nextSerial++;
        shared_->openSerial = serial;
        shared_->handlers = std::move(handlers);
    }
    auto capture = std::make_unique<FakeScreenCaptureSession>(shared_, serial);
    if (hook) hook();
    return std::unique_ptr<ScreenCapture>(std::move(capture));
}

}  // namespace hollowkit
