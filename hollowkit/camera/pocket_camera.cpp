#include "hollowkit/camera/pocket_camera.h"

namespace hollowkit {

namespace {

template <typename Handler>
std::shared_ptr<const Handler> slotFor(Handler handler) {
    return handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
}

}  // namespace

PocketCamera::~PocketCamera() = default;

void PocketCamera::setOnEvent(CameraEventHandler handler) {
    auto slot = slotFor(std::move(handler));
    std::lock_guard lock(handlerLock_);
    onEvent_.swap(slot);
    // The old handler is released after unlocking, when `slot` goes: its
    // captures may do anything in their destructors.
}

void PocketCamera::setOnVideoSample(VideoSampleHandler handler) {
    auto slot = slotFor(std::move(handler));
    std::lock_guard lock(handlerLock_);
    onVideoSample_.swap(slot);
}

void PocketCamera::setOnAudioSample(AudioSampleHandler handler) {
    auto slot = slotFor(std::move(handler));
    std::lock_guard lock(handlerLock_);
    onAudioSample_.swap(slot);
}

void PocketCamera::callOnEvent(const CameraEvent& event) const {
    std::shared_ptr<const CameraEventHandler> handler;
    {
        std::lock_guard lock(handlerLock_);
        handler = onEvent_;
    }
    if (handler) {
        (*handler)(event);
    }
}

void PocketCamera::callOnVideoSample(const VideoFrame& frame) const {
    std::shared_ptr<const VideoSampleHandler> handler;
    {
        std::lock_guard lock(handlerLock_);
        handler = onVideoSample_;
    }
    if (handler) {
        (*handler)(frame);
    }
}

void PocketCamera::callOnAudioSample(const AudioChunk& chunk) const {
    std::shared_ptr<const AudioSampleHandler> handler;
    {
        std::lock_guard lock(handlerLock_);
        handler = onAudioSample_;
    }
    if (handler) {
        (*handler)(chunk);
    }
}

}  // namespace hollowkit
