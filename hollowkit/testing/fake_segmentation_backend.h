#pragma once

// FakeSegmentationBackend: a SegmentationBackend for tests. It answers from
// a script (a fixed mask, or a failure) and records what it was asked. A
// gate can hold it inside segment() until the test opens it, to play a slow
// segmentation. Thread-safe: the test thread scripts and reads while the
// component's queue calls segment().

#include <chrono>
#include <condition_variable>
#include <optional>
#include <utility>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/imaging/segmentation_backend.h"

namespace hollowkit {

class FakeSegmentationBackend final : public SegmentationBackend {
public:
    // Every call answers `mask` (nothing = fails).
    void setResult(std::optional<PersonMask> mask);
    // A mask of the given size, 255 inside the normalised rectangle (x, y,
    // width, height), 0 outside.
    static PersonMask rectangleMask(int width, int height, const NormalizedRect& person);

    // While closed, segment() waits (for the test to open it) after
    // recording the call.
    void closeGate();
    void openGate();
    // Waits until at least `count` calls have begun; false after `timeout`.
    bool waitForCalls(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    size_t callCount() const;
    // Sizes of the frames asked about, in order.
    std::vector<std::pair<int, int>> frameSizes() const;
    std::vector<std::optional<NormalizedRect>> faces() const;
    std::vector<TimePoint> framePts() const;

    std::optional<PersonMask> segment(const VideoFrame& frame, const std::optional<NormalizedRect>& face) override;

private:
    mutable Mutex mutex_;
    std::condition_variable changed_;
    std::optional<PersonMask> result_ HK_GUARDED_BY(mutex_);
    bool gateClosed_ HK_GUARDED_BY(mutex_) = false;
    std::vector<std::pair<int, int>> sizes_ HK_GUARDED_BY(mutex_);
    std::vector<std::optional<NormalizedRect>> faces_ HK_GUARDED_BY(mutex_);
    std::vector<TimePoint> pts_ HK_GUARDED_BY(mutex_);
};

}  // namespace hollowkit
