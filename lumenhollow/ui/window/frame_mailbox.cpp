#include "lumenhollow/ui/window/frame_mailbox.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "lumenhollow/ui/window/display_scaling.h"

namespace lumenhollow {

FrameMailbox::FrameMailbox(Poster poster) : poster_(std::move(poster)) {}

void FrameMailbox::setTargetSize(int width, int height) {
    const uint64_t w = static_cast<uint32_t>(std::max(width, 0));
    const uint64_t h = static_cast<uint32_t>(std::max(height, 0));
    target_.store(w << 32 | h, std::memory_order_relaxed);
}

FrameMailbox::PixelSize FrameMailbox::preparedSize(int frameWidth, int frameHeight, int targetWidth,
                                                   int targetHeight) {
    if (frameWidth <= 0 || frameHeight <= 0) return {};
    if (targetWidth <= 0 || targetHeight <= 0) return {frameWidth, frameHeight};
    if (frameWidth <= targetWidth && frameHeight <= targetHeight) return {frameWidth, frameHeight};
    const double scale = std::min(static_cast<double>(targetWidth) / frameWidth,
                                  static_cast<double>(targetHeight) / frameHeight);
    return {std::max(1, static_cast<int>(std::lround(frameWidth * scale))),
            std::max(1, static_cast<int>(std::lround(frameHeight * scale)))};
}

hollowkit::VideoFrame FrameMailbox::prepare(const hollowkit::VideoFrame& frame) {
    const uint64_t target = target_.load(std::memory_order_relaxed);
    const PixelSize size = preparedSize(frame.width(), frame.height(), static_cast<int>(target >> 32),
                                        static_cast<int>(target & 0xffffffffu));
    const bool sameSize = size.width == frame.width() && size.height == frame.height();
    if (sameSize && frame.pixelFormat() == hollowkit::PixelFormat::bgra) return frame;
    if (frame.pixelFormat() != hollowkit::PixelFormat::nv12 && frame.pixelFormat() != hollowkit::PixelFormat::bgra) {
        return {};
    }
    // Into recycled memory, converted at the full size too: a fresh block
    // per frame would be faulted in page by page.
    hollowkit::WritableVideoFrame output;
    {
        hollowkit::MutexLock lock(mutex_);
        output = hollowkit::acquireSized(pool_, hollowkit::PixelFormat::bgra, size.width, size.height);
    }
    if (!output || !drawForDisplay(frame, output)) return {};
    return std::move(output).freeze(frame.pts());
}

void FrameMailbox::push(const hollowkit::VideoFrame& frame, uint64_t generation) {
    if (!frame) return;
    hollowkit::VideoFrame prepared = prepare(frame);
    if (!prepared) return;
    bool wake = false;
    {
        hollowkit::MutexLock lock(mutex_);
        ++counts_.pushed;
        // Checked here, not before preparing: a clear may come meanwhile.
        if (generation < oldestShown_) return;  // the frame goes outside the lock
        slot_ = std::move(prepared);
        wake = !std::exchange(wakeUpWaiting_, true);
        if (wake) ++counts_.posted;
    }
    if (wake) poster_();
}

void FrameMailbox::wakeUpDelivered() {
    hollowkit::MutexLock lock(mutex_);
    if (std::exchange(wakeUpWaiting_, false)) ++counts_.delivered;
}

hollowkit::VideoFrame FrameMailbox::take() {
    hollowkit::MutexLock lock(mutex_);
    hollowkit::VideoFrame frame = std::exchange(slot_, hollowkit::VideoFrame());
    if (frame) ++counts_.taken;
    return frame;
}

void FrameMailbox::clear() {
    hollowkit::VideoFrame dropped;  // released outside the lock
    hollowkit::MutexLock lock(mutex_);
    dropped = std::exchange(slot_, hollowkit::VideoFrame());
}

void FrameMailbox::dropGenerationsBefore(uint64_t generation) {
    hollowkit::VideoFrame dropped;  // released outside the lock
    hollowkit::MutexLock lock(mutex_);
    oldestShown_ = std::max(oldestShown_, generation);
    dropped = std::exchange(slot_, hollowkit::VideoFrame());
}

FrameMailbox::Counts FrameMailbox::counts() const {
    hollowkit::MutexLock lock(mutex_);
    return counts_;
}

}  // namespace lumenhollow
