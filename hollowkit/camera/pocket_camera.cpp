#include "hollowkit/camera/pocket_camera.h"

#include <utility>

namespace hollowkit {

namespace {

template <typename Handler>
void replaceSlot(std::mutex& lock, std::shared_ptr<const Handler>& slot, Handler handler) {
    auto replacement = handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
    std::lock_guard guard(lock);
    slot.swap(replacement);
    // The old handler is released after unlocking, when `replacement` goes:
    // its captures may do anything in their destructors.
}

// Copies the handler out, unlocks, then calls it, so the owner may replace
// the slot (or the handler clear itself) while a call runs.
template <typename Handler, typename Value>
void callSlot(std::mutex& lock, const std::shared_ptr<const Handler>& slot, const Value& value) {
    std::shared_ptr<const Handler> handler;
    {
        std::lock_guard guard(lock);
        handler = slot;
    }
    if (handler) {
        (*handler)(value);
    }
}

}  // namespace

PocketCamera::~PocketCamera() = default;

void PocketCamera::setOnEvent(CameraEventHandler handler) {
    replaceSlot(handlerLock_, onEvent_, std::move(handler));
}

void PocketCamera::setOnVideoSample(VideoSampleHandler handler) {
    replaceSlot(handlerLock_, onVideoSample_, std::move(handler));
}

void PocketCamera::setOnAudioSample(AudioSampleHandler handler) {
    replaceSlot(handlerLock_, onAudioSample_, std::move(handler));
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

void PocketCamera::callOnEvent(const CameraEvent& event) const {
    callSlot(handlerLock_, onEvent_, event);
}

void PocketCamera::callOnVideoSample(const VideoFrame& frame) const {
    callSlot(handlerLock_, onVideoSample_, frame);
}

void PocketCamera::callOnAudioSample(const AudioChunk& chunk) const {
    callSlot(handlerLock_, onAudioSample_, chunk);
}

}  // namespace hollowkit
