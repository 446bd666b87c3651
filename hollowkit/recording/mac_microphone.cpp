#include "hollowkit/recording/mac_microphone.h"

#include <algorithm>
#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"

namespace hollowkit {

MacMicrophone::MacMicrophone(AudioInputBackend& backend, MainExecutor& main)
    : backend_(backend), main_(main), queue_(std::string(kMacMicrophoneQueue.label)) {}

MacMicrophone::~MacMicrophone() {
    std::unique_ptr<AudioCapture> capture = detachCapture();
    // Closes handed to the queue by stop() run first; a start still waiting
    // there finds its session dead and completes as cancelled; deliveries
    // find it dead and do nothing.
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

void MacMicrophone::start(std::optional<std::string> deviceId, StartCompletion completion) {
    auto session = std::make_shared<Session>();
    std::unique_ptr<AudioCapture> previous = detachCapture();
    {
        MutexLock lock(mutex_);
        session_ = session;
    }
    // The old input goes before the new one is opened, switching or not, so
    // a failed switch leaves nothing running. Both wait for the sound
    // server, which is why they run on the queue.
    if (previous) {
        queue_.post([capture = std::shared_ptr<AudioCapture>(std::move(previous))]() mutable { capture.reset(); });
    }
    queue_.post([this, session, deviceId = std::move(deviceId), completion = std::move(completion)] {
        open(session, deviceId, completion);
    });
}

void MacMicrophone::stop() {
    std::shared_ptr<AudioCapture> capture = detachCapture();
    if (capture) {
        // Closing waits for the sound server; the caller does not.
        queue_.post([capture = std::move(capture)]() mutable { capture.reset(); });
    }
}

void MacMicrophone::open(const std::shared_ptr<Session>& session, const std::optional<std::string>& deviceId,
                         const StartCompletion& completion) {
    if (!session->live.load()) {
        complete(session, completion, unexpected(MicrophoneError::cancelled("stopped before opening")));
        return;
    }
    if (backend_.access() != MicrophoneAccess::authorized) {
        complete(session, completion, unexpected(MicrophoneError::notAllowed("no microphone access")));
        return;
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
    if (!input) {
        PocketLog::log("Mac microphone: no input to record from");
        complete(session, completion, unexpected(MicrophoneError::unavailable("no input")));
        return;
    }

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

    // Returns once sound flows, or fails: this is the wait the caller of
    // start() is spared.
    Result<std::unique_ptr<AudioCapture>, MicrophoneError> opened = backend_.open(input->id, std::move(handlers));
    if (!opened) {
        PocketLog::logf("Mac microphone could not start %s: %s", input->name.c_str(),
                        opened.error().detail.c_str());
        complete(session, completion, unexpected(opened.error()));
        return;
    }

    std::unique_ptr<AudioCapture> overtaken;
    {
        MutexLock lock(mutex_);
        if (session_ == session && session->live.load()) {
            capture_ = std::move(opened).value();
            active_ = input;
        } else {
            overtaken = std::move(opened).value();
        }
    }
    if (overtaken) {
        // Stopped while the stream opened: it closes before the completion
        // is posted, so the owner never sees it running.
        overtaken.reset();
        complete(session, completion, unexpected(MicrophoneError::cancelled("stopped while opening")));
        return;
    }
    PocketLog::log("Mac microphone recording from " + input->name);
    complete(session, completion, *input);
}

void MacMicrophone::complete(const std::shared_ptr<Session>& session, const StartCompletion& completion,
                             StartResult result) {
    if (!completion) return;
    main_.post([session, completion, result = std::move(result)] {
        // stop() and start() run on this executor too: what the owner is
        // told matches what it did since.
        if (!session->live.load()) {
            completion(unexpected(MicrophoneError::cancelled("overtaken before completion")));
            return;
        }
        completion(result);
    });
}

void MacMicrophone::setOnSample(SampleHandler handler) {
    MutexLock lock(mutex_);
    onSample_ = std::move(handler);
}

void MacMicrophone::setOnFailure(FailureHandler handler) {
    MutexLock lock(mutex_);
    onFailure_ = std::move(handler);
}

std::optional<AudioInputOption> MacMicrophone::activeInput() const {
    MutexLock lock(mutex_);
    return active_;
}

std::unique_ptr<AudioCapture> MacMicrophone::detachCapture() {
    MutexLock lock(mutex_);
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
        MutexLock lock(mutex_);
        handler = onSample_;
    }
    if (handler) handler(chunk);
}

void MacMicrophone::reportFailure(const std::shared_ptr<Session>& session, const MicrophoneError& error) {
    if (!session->live.load()) return;
    PocketLog::logf("Mac microphone stopped: %s", error.detail.c_str());
    FailureHandler handler;
    {
        MutexLock lock(mutex_);
        if (session_ == session) active_.reset();
        handler = onFailure_;
    }
    if (!handler) return;
    main_.post([session, handler = std::move(handler), error] {
        // A stop() that came meanwhile has ended this capture already.
        if (session->live.load()) handler(error);
    });
}

}  // namespace hollowkit
