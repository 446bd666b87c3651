#include "lumenhollow/model/frame_path.h"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace lumenhollow {

namespace {

// Main executor. A sink that takes frames off the main executor has had them already.
void displaySample(bool islandPreviewActive, VideoSink& displayLayer, VideoSink& notchDisplayLayer,
                   const hollowkit::VideoFrame& frame) {
    for (VideoSink* sink : {&displayLayer, islandPreviewActive ? &notchDisplayLayer : nullptr}) {
        if (!sink || sink->takesFramesOffMain()) continue;
        // A failed renderer shows nothing more until flushed; recover it with this frame.
        if (sink->hasFailed()) sink->flush();
        sink->enqueue(frame);
    }
}

}  // namespace

// The last step: frames waiting for the main executor, in order, each with
// the island's flag as it was read when the frame was scheduled and the
// display generation it was accepted under. Every frame
// is one post whose task carries only the queue's address, small enough for
// std::function to hold without an allocation; the queue keeps itself alive
// while frames wait, so a task outlives the path harmlessly. The ring grows
// only when more frames wait than ever before. Any thread; the sinks on the
// main executor only. A sink that takes frames off the main executor gets
// them here on the calling thread with their generation, and costs no post;
// the clear tells it which generations to drop from then on.
class FramePath::DisplayQueue final : public std::enable_shared_from_this<DisplayQueue> {
public:
    DisplayQueue(const Parts& parts, hollowkit::MainExecutor& main)
        : notchPreviewActive_(parts.notchPreviewActive),
          displayLayer_(parts.displayLayer),
          notchDisplayLayer_(parts.notchDisplayLayer),
          main_(main),
          displayOffMain_(parts.displayLayer->takesFramesOffMain()),
          notchOffMain_(parts.notchDisplayLayer->takesFramesOffMain()),
          slots_(kInitialSlots) {}

    // Delivering thread or the background preview's queue.
    void schedule(const hollowkit::VideoFrame& frame, uint64_t generation) {
        const bool islandPreviewActive = notchPreviewActive_->value();
        if (displayOffMain_) displayLayer_->deliver(frame, generation);
        if (islandPreviewActive && notchOffMain_) notchDisplayLayer_->deliver(frame, generation);
        // Only a sink on the main executor needs the hop.
        if (displayOffMain_ && (notchOffMain_ || !islandPreviewActive)) return;
        {
            std::lock_guard guard(lock_);
            if (count_ == slots_.size()) grow();
            slots_[(head_ + count_) % slots_.size()] = Pending{frame, islandPreviewActive, generation};
            ++count_;
            if (!self_) self_ = shared_from_this();
        }
        main_.post([queue = this] { queue->showNext(); });
    }

    // Main executor.
    uint64_t generation() const { return generation_.load(std::memory_order_relaxed); }

    // Main executor. Frames still waiting are dropped as their tasks come.
    void clear() {
        const uint64_t current = generation_.fetch_add(1, std::memory_order_relaxed) + 1;
        for (VideoSink* sink : {displayLayer_.get(), notchDisplayLayer_.get()}) {
            if (sink->takesFramesOffMain()) sink->dropClearedGenerations(current);
        }
        displayLayer_->flushRemovingImage();
        notchDisplayLayer_->flushRemovingImage();
    }

private:
    static constexpr size_t kInitialSlots = 8;

    struct Pending {
        hollowkit::VideoFrame frame;
        bool islandPreviewActive = false;
        uint64_t generation = 0;
    };

    // Main executor: one task per scheduled frame, so one is always waiting.
    void showNext() {
        std::shared_ptr<DisplayQueue> release;  // last to go: may end this queue
        Pending next;
        {
            std::lock_guard guard(lock_);
            next = std::move(slots_[head_]);
            head_ = (head_ + 1) % slots_.size();
            --count_;
            if (count_ == 0) release = std::move(self_);
        }
        // A frame of a camera replaced since it was accepted.
        if (next.generation < generation()) return;
        displaySample(next.islandPreviewActive, *displayLayer_, *notchDisplayLayer_, next.frame);
    }

    // Under lock_, with the ring full.
    void grow() {
        std::vector<Pending> larger(slots_.size() * 2);
        for (size_t i = 0; i < count_; ++i) larger[i] = std::move(slots_[(head_ + i) % slots_.size()]);
        slots_ = std::move(larger);
        head_ = 0;
    }

    const std::shared_ptr<AtomicFlag> notchPreviewActive_;
    const std::shared_ptr<VideoSink> displayLayer_;
    const std::shared_ptr<VideoSink> notchDisplayLayer_;
    hollowkit::MainExecutor& main_;
    const bool displayOffMain_;
    const bool notchOffMain_;

    std::mutex lock_;
    std::vector<Pending> slots_;          // guarded by lock_
    size_t head_ = 0;                     // guarded by lock_
    size_t count_ = 0;                    // guarded by lock_
    std::shared_ptr<DisplayQueue> self_;  // guarded by lock_; set while frames wait
    // Raised and compared on the main executor only; atomic so that reading
    // it elsewhere is never a race.
    std::atomic<uint64_t> generation_{0};
};

FramePath::FramePath(Parts parts, hollowkit::MainExecutor& main)
    : parts_(std::move(parts)), display_(std::make_shared<DisplayQueue>(parts_, main)) {}

FramePath::~FramePath() = default;

uint64_t FramePath::displayGeneration() const {
    return display_->generation();
}

void FramePath::clearDisplay() {
    display_->clear();
}

void FramePath::handleVideo(const hollowkit::VideoFrame& sample, uint64_t generation) const {
    // The same frame object goes everywhere: recorder, request, detector and screen.
    const hollowkit::VideoFrame frame = parts_.processor->process(sample);
    parts_.tap->appendVideo(frame);
    parts_.faceDetector->submit(frame);
    if (parts_.backgroundPreview->isActive()) {
        parts_.backgroundPreview->submit(
            frame, [display = display_, generation](const hollowkit::VideoFrame& treated) {
                display->schedule(treated, generation);
            });
    } else {
        display_->schedule(frame, generation);
    }
}

void FramePath::handleAudio(const hollowkit::AudioChunk& chunk) const {
    parts_.tap->appendAudio(chunk);
}

}  // namespace lumenhollow
