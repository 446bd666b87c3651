#pragma once

// CountingVideoSink: a VideoSink for tests that counts what it is asked to
// do and keeps the frames it was given (or, for long runs, only the last
// one). A test can make its renderer fail; a flush recovers it, as a real
// one does. Main executor only.

#include <optional>
#include <vector>

#include "lumenhollow/model/video_sink.h"

namespace lumenhollow {

class CountingVideoSink final : public VideoSink {
public:
    // Without `keepFrames` only the last frame is kept, so a long run
    // neither grows nor holds the camera's buffers.
    explicit CountingVideoSink(bool keepFrames = true) : keepFrames_(keepFrames) {}

    void enqueue(const hollowkit::VideoFrame& frame) override {
        // A failed renderer drops what it is given.
        if (!failed_) {
            if (keepFrames_) frames_.push_back(frame);
            last_ = frame;
        }
        ++enqueued_;
    }
    bool hasFailed() const override { return failed_; }
    void flush() override {
        failed_ = false;
        ++flushes_;
    }
    void flushRemovingImage() override {
        failed_ = false;
        frames_.clear();
        last_.reset();
        ++removals_;
    }

    void fail() { failed_ = true; }
    const std::vector<hollowkit::VideoFrame>& frames() const { return frames_; }
    // The picture shown now, if any.
    const std::optional<hollowkit::VideoFrame>& last() const { return last_; }
    int enqueued() const { return enqueued_; }
    int flushes() const { return flushes_; }
    int removals() const { return removals_; }

private:
    const bool keepFrames_;
    std::vector<hollowkit::VideoFrame> frames_;
    std::optional<hollowkit::VideoFrame> last_;
    bool failed_ = false;
    int enqueued_ = 0;
    int flushes_ = 0;
    int removals_ = 0;
};

}  // namespace lumenhollow
