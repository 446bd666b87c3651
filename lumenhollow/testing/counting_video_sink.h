#pragma once

// CountingVideoSink: a VideoSink for tests that counts what it is asked to
// do and keeps the frames it was given. A test can make its renderer fail;
// a flush recovers it, as a real one does. Main executor only.

#include <vector>

#include "lumenhollow/model/video_sink.h"

namespace lumenhollow {

class CountingVideoSink final : public VideoSink {
public:
    void enqueue(const hollowkit::VideoFrame& frame) override {
        // A failed renderer drops what it is given.
        if (!failed_) frames_.push_back(frame);
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
        ++removals_;
    }

    void fail() { failed_ = true; }
    const std::vector<hollowkit::VideoFrame>& frames() const { return frames_; }
    int enqueued() const { return enqueued_; }
    int flushes() const { return flushes_; }
    int removals() const { return removals_; }

private:
    std::vector<hollowkit::VideoFrame> frames_;
    bool failed_ = false;
    int enqueued_ = 0;
    int flushes_ = 0;
    int removals_ = 0;
};

}  // namespace lumenhollow
