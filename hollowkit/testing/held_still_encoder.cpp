#include "hollowkit/testing/held_still_encoder.h"

namespace hollowkit {

Result<Bytes, std::string> HeldStillEncoder::encodeHeif(const VideoFrame& frame, int qualityPercent) const {
    {
        std::unique_lock lock(mutex_);
        ++entered_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
    }
    return standard().encodeHeif(frame, qualityPercent);
}

Result<Bytes, std::string> HeldStillEncoder::encodeJpeg(const VideoFrame& frame, int width, int height,
                                                        int qualityPercent) const {
    return standard().encodeJpeg(frame, width, height, qualityPercent);
}

int HeldStillEncoder::entered() const {
    std::lock_guard lock(mutex_);
    return entered_;
}

bool HeldStillEncoder::waitForEntered(int count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return entered_ >= count; });
}

void HeldStillEncoder::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

}  // namespace hollowkit
