#include "hollowkit/camera/pocket_camera.h"

#include <utility>

namespace hollowkit {

namespace {

template <typename Handler>
std::shared_ptr<const Handler> shareHandler(Handler handler) {
    return handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
}

template <typename Handler, typename Value>
void callIfSet(const std::shared_ptr<const Handler>& handler, const Value& value) {
    if (handler) {
        (*handler)(value);
    }
}

}  // namespace

PocketCamera::~PocketCamera() = default;

// Setting swaps the new handler in under the lock; the old one is released
// after unlocking, when `replacement` goes, since its captures may do
// anything in their destructors.

void PocketCamera::setOnEvent(CameraEventHandler handler) {
    auto replacement = shareHandler(std::move(handler));
    MutexLock guard(handlerLock_);
    onEvent_.swap(replacement);
}

void PocketCamera::setOnVideoSample(VideoSampleHandler handler) {
    auto replacement = shareHandler(std::move(handler));
    MutexLock guard(handlerLock_);
    onVideoSample_.swap(replacement);
}

void PocketCamera::setOnAudioSample(AudioSampleHandler handler) {
    auto replacement = shareHandler(std::move(handler));
    MutexLock guard(handlerLock_);
    onAudioSample_.swap(replacement);
}

void PocketCamera::postEvent(Executor& main, CameraEvent event) const {
    // Cameras are destroyed on the main executor, so a task that finds the
    // token alive runs while the camera exists; the handler may drop the
    // camera, and nothing of it is touched after the call.
    main.post([this, token = std::weak_ptr<const int>(eventToken_), event = std::move(event)] {
        if (token.expired()) return;
        callOnEvent(event);
    });
}

// Calling copies the handler out, unlocks, then calls it, so the owner may
// replace the slot (or the handler clear itself) while a call runs.

void PocketCamera::callOnEvent(const CameraEvent& event) const {
    std::shared_ptr<const CameraEventHandler> handler;
    {
        MutexLock guard(handlerLock_);
        handler = onEvent_;
    }
    callIfSet(handler, event);
}

void PocketCamera::callOnVideoSample(const VideoFrame& frame) const {
    std::shared_ptr<const VideoSampleHandler> handler;
    {
        MutexLock guard(handlerLock_);
        handler = onVideoSample_;
    }
    callIfSet(handler, frame);
}

void PocketCamera::callOnAudioSample(const AudioChunk& chunk) const {
    std::shared_ptr<const AudioSampleHandler> handler;
    {
        MutexLock guard(handlerLock_);
        handler = onAudioSample_;
    }
    callIfSet(handler, chunk);
}

}  // namespace hollowkit
