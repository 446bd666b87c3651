#include "hollowkit/recording/mac_microphone.h"

#include <algorithm>
#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"

namespace hollowkit {

MacMicrophone::MacMicrophone(AudioInputBackend& backend)
    : backend_(backend), queue_(std::string(kMacMicrophoneQueue.label)) {}

MacMicrophone::~MacMicrophone() {
    std::unique_ptr<AudioCapture> capture = detachCapture();
    // Closes handed to the queue by stop() run first; deliveries still
    // waiting find their session dead and do nothing.
    queue_.sync([] {});
    capture.reset();
}

std::vector<AudioInputOption> MacMicrophone::availableInputs(AudioInputBackend& backend) {
    return backend.inputs();
}

bool MacMicrophone::requestAccess(AudioInputBackend& backend) {
    if (backend.access() == MicrophoneAccess::authorized) {
        return true;
    }
    return backend.requestAccess();
}

Result<void, MicrophoneError> MacMicrophone::start(const std::optional<std::string>& deviceId) {
    if (backend_.access() != MicrophoneAccess::authorized) {
        return unexpected(MicrophoneError::notAllowed("no microphone access"));
    }

    std::optional<AudioInputOption> input;
    if (deviceId) {
        const std::vector<AudioInputOption> inputs = backend_.inputs();
        const auto match = std::find_if(inputs.begin(), inputs.end(),
                                        [&](const AudioInputOption& o) { return o.id == *deviceId; });
        if (match != inputs.end()) input = *match;
    }
    // A chosen input that is gone is no error: the default one records.
    if (!input) input = backend_.defaultInput();

    // The old input goes before the new one is opened, switching or not, so
    // a failed switch leaves nothing running.
    detachCapture().reset();

    if (!input) {
        PocketLog::log("Mac microphone: no input to record from");
        return unexpected(MicrophoneError::unavailable("no input"));
    }

    auto session = std::make_shared<Session>();
    AudioCaptureHandlers handlers;
    handlers.onChunk = [this, session](AudioChunk chunk) {
        if (!session->live.load(std::memory_order_relaxed)) return;
        if (queuedChunks_.fetch_add(1) >= kMaxQueuedChunks) {
            queuedChunks_.fetch_sub(1);
            return;
        }
        queue_.post([this, session, chunk = std::move(chunk)] {
            queuedChunks_.fetch_sub(1);
            deliver(session, chunk);
        });
    };
    handlers.onFailure = [this, session](MicrophoneError error) {
        queue_.post([this, session, error = std::move(error)] { reportFailure(session, error); });
    };

    Result<std::unique_ptr<AudioCapture>, MicrophoneError> opened =
        backend_.open(input->id, std::move(handlers));
    if (!opened) {
        PocketLog::logf("Mac microphone could not start %s: %s", input->name.c_str(),
                        opened.error().detail.c_str());
        session->live = false;
        return unexpected(opened.error());
    }

    {
        std::lock_guard lock(mutex_);
        capture_ = std::move(opened).value();
        session_ = std::move(session);
        active_ = input;
    }
    PocketLog::log("Mac microphone recording from " + input->name);
    return {};
}

void MacMicrophone::stop() {
    std::shared_ptr<AudioCapture> capture = detachCapture();
    if (capture) {
        // Closing waits for the sound server; the caller does not.
        queue_.post([capture = std::move(capture)]() mutable { capture.reset(); });
    }
}

void MacMicrophone::setOnSample(SampleHandler handler) {
    std::lock_guard lock(mutex_);
    onSample_ = std::move(handler);
}

void MacMicrophone::setOnFailure(FailureHandler handler) {
    std::lock_guard lock(mutex_);
    onFailure_ = std::move(handler);
}

std::optional<AudioInputOption> MacMicrophone::activeInput() const {
    std::lock_guard lock(mutex_);
    return active_;
}

std::unique_ptr<AudioCapture> MacMicrophone::detachCapture() {
    std::lock_guard lock(mutex_);
    if (session_) {
        session_->live = false;
        session_.reset();
    }
    active_.reset();
    return std::move(capture_);
}

void MacMicrophone::deliver(const std::shared_ptr<Session>& session, const AudioChunk& chunk) {
    if (!session->live.load()) return;
    SampleHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = onSample_;
    }
    if (handler) handler(chunk);
}

void MacMicrophone::reportFailure(const std::shared_ptr<Session>& session, const MicrophoneError& error) {
    if (!session->live.load()) return;
    PocketLog::logf("Mac microphone stopped: %s", error.detail.c_str());
    FailureHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (session_ == session) active_.reset();
        handler = onFailure_;
    }
    if (handler) handler(error);
}

}  // namespace hollowkit
