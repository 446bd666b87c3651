#pragma once

// HeldStillEncoder: the library's still encoder with its photos held until
// the test lets them go, so a test can quit, wait or end a writer while
// photos are still queued, without timing. A photo (HEIF) that reaches it
// is counted and waits for release(); from then on every photo is encoded
// at once. Thumbnails (JPEG) are never held. Any thread.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "hollowkit/recording/still_encoder.h"

namespace hollowkit {

class HeldStillEncoder final : public StillEncoder {
public:
    Result<Bytes, std::string> encodeHeif(const VideoFrame& frame, int qualityPercent) const override;
    Result<Bytes, std::string> encodeJpeg(const VideoFrame& frame, int width, int height,
                                          int qualityPercent) const override;

    // Photos that have reached the encoder, held or not.
    int entered() const;
    // Waits (bounded) until `count` photos have reached it.
    bool waitForEntered(int count, std::chrono::milliseconds limit = std::chrono::seconds(60)) const;
    void release();

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable int entered_ = 0;
    bool released_ = false;
};

}  // namespace hollowkit
