#include "hollowkit/imaging/background_preview.h"

#include <cmath>
#include <string>
#include <utility>

#include "hollowkit/base/memory_settings.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/imaging/background_treatment.h"
#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/imaging/grabcut_segmentation_backend.h"
#include "hollowkit/imaging/person_segmenter.h"
#include "hollowkit/imaging/row_workers.h"
#include "hollowkit/media/pixel_buffer_pool.h"

namespace hollowkit {

namespace {

// A pool of BGRA buffers of one size, rebuilt when the size changes.
WritableVideoFrame bufferFrom(std::unique_ptr<PixelBufferPool>& pool, int width, int height) {
    return acquireSized(pool, PixelFormat::bgra, width, height);
}

}  // namespace

struct BackgroundPreview::Core {
    explicit Core(std::unique_ptr<SegmentationBackend> backend)
        : segmenter(std::move(backend)), workers(std::make_unique<RowWorkers>(RowWorkers::defaultThreadCount())) {}

    void drain();
    std::optional<VideoFrame> render(const VideoFrame& frame);
    // Lets the working pictures go, unless the style needs them again.
    void releaseWhenIdle();
    bool activeNow() const;

    // Used only on the queue.
    PersonSegmenter segmenter;
    // Share the rows of a 1080p conversion and blend.
    std::unique_ptr<RowWorkers> workers;
    // The working pictures, each up to a frame's size, kept while the style
    // needs treatment and let go once it does not.
    std::unique_ptr<PixelBufferPool> outputPool;  // treated frames
    std::unique_ptr<PixelBufferPool> inputPool;   // frames scaled or converted for treatment
    BgraScratch scaling;
    BlurScratch blur;

    struct Pending {
        VideoFrame frame;
        Deliver deliver;
    };

    mutable Mutex lock;
    std::optional<BubbleStyle> style HK_GUARDED_BY(lock);
    std::optional<NormalizedRect> face HK_GUARDED_BY(lock);
    std::optional<Pending> pending HK_GUARDED_BY(lock);
    bool running HK_GUARDED_BY(lock) = false;  // a drain is queued or running
};

void BackgroundPreview::Core::drain() {
    MutexLock guard(lock);
    while (pending) {
        Pending next = std::move(*pending);
        pending.reset();
        guard.unlock();
        std::optional<VideoFrame> treated = render(next.frame);
        if (next.deliver) {
            next.deliver(treated ? *treated : next.frame);
        }
        // The closure and frame are released here, outside the lock.
        next = {};
        guard.lock();
    }
    running = false;
}

std::optional<VideoFrame> BackgroundPreview::Core::render(const VideoFrame& frame) {
    std::optional<BubbleStyle> currentStyle;
    std::optional<NormalizedRect> currentFace;
    {
        MutexLock guard(lock);
        currentStyle = style;
        currentFace = face;
    }
    if (!currentStyle || !currentStyle->needsSegmentation() || frame.isNull()) {
        return std::nullopt;
    }

    // Wider frames come down to 1920; narrower ones are never enlarged. The
    // output is even in both directions, halves rounded away from zero.
    double width = frame.width();
    double height = frame.height();
    const double scale = kMaxWidth / width;
    if (scale < 1.0) {
        width *= scale;
        height *= scale;
    }
    const int outWidth = 2 * static_cast<int>(std::lround(width * 0.5));
    const int outHeight = 2 * static_cast<int>(std::lround(height * 0.5));
    if (outWidth < 2 || outHeight < 2) {
        return std::nullopt;
    }

    VideoFrame image = frame;
    if (frame.pixelFormat() != PixelFormat::bgra || frame.width() != outWidth || frame.height() != outHeight) {
        WritableVideoFrame scaled = bufferFrom(inputPool, outWidth, outHeight);
        if (scaled.isNull() || !drawAsBgra(frame, scaled, workers.get(), &scaling)) {
            return std::nullopt;
        }
        image = std::move(scaled).freeze(frame.pts());
    }

    const std::optional<PersonMask> mask = segmenter.scaledMask(image, currentFace);
    if (!mask) {
        return std::nullopt;
    }
    WritableVideoFrame output = bufferFrom(outputPool, outWidth, outHeight);
    if (output.isNull()) {
        return std::nullopt;
    }
    // A cut-out always shows the person on the backdrop.
    const BubbleBackground treatment =
        currentStyle->shape == BubbleShape::cutout ? BubbleBackground::remove : currentStyle->background;
    if (!applyBackground(image, &*mask, treatment, output, workers.get(), &blur)) {
        return std::nullopt;
    }
    return std::move(output).freeze(frame.pts());
}

bool BackgroundPreview::Core::activeNow() const {
    MutexLock guard(lock);
    return style && style->needsSegmentation();
}

void BackgroundPreview::Core::releaseWhenIdle() {
    if (activeNow()) return;
    outputPool.reset();
    inputPool.reset();
    scaling.release();
    blur.release();
    // Freed inside the queue thread's heap, perhaps below its top.
    returnFreedMemory();
}

size_t BackgroundPreview::workingBytes() const {
    const Core& core = *core_;
    size_t bytes = core.scaling.heldBytes() + core.blur.heldBytes();
    for (const PixelBufferPool* pool : {core.outputPool.get(), core.inputPool.get()}) {
        if (pool != nullptr) {
            bytes += (pool->idleCount() + pool->leasedCount()) * static_cast<size_t>(pool->width()) *
                     static_cast<size_t>(pool->height()) * 4;
        }
    }
    return bytes;
}

BackgroundPreview::BackgroundPreview() : BackgroundPreview(std::make_unique<GrabCutSegmentationBackend>()) {}

BackgroundPreview::BackgroundPreview(std::unique_ptr<SegmentationBackend> backend)
    : ownQueue_(std::make_unique<SerialQueue>(std::string(kBackgroundPreviewQueue.label))),
      queue_(*ownQueue_),
      core_(std::make_shared<Core>(std::move(backend))) {}

BackgroundPreview::BackgroundPreview(std::unique_ptr<SegmentationBackend> backend, Executor& queue)
    : queue_(queue), core_(std::make_shared<Core>(std::move(backend))) {}

BackgroundPreview::~BackgroundPreview() {
    // Joining the own queue first: no delivery runs once this returns.
    ownQueue_.reset();
}

void BackgroundPreview::setStyle(std::optional<BubbleStyle> style) {
    bool wentIdle = false;
    {
        MutexLock guard(core_->lock);
        const bool wasActive = core_->style && core_->style->needsSegmentation();
        core_->style = style;
        wentIdle = wasActive && !(style && style->needsSegmentation());
    }
    if (!wentIdle) return;
    // After any treatment queued before: the queue is the pictures' one user.
    std::weak_ptr<Core> weak = core_;
    queue_.post([weak] {
        if (auto core = weak.lock()) core->releaseWhenIdle();
    });
}

std::optional<BubbleStyle> BackgroundPreview::style() const {
    MutexLock guard(core_->lock);
    return core_->style;
}

bool BackgroundPreview::isActive() const {
    MutexLock guard(core_->lock);
    return core_->style && core_->style->needsSegmentation();
}

void BackgroundPreview::setFace(std::optional<NormalizedRect> face) {
    MutexLock guard(core_->lock);
    core_->face = face;
}

void BackgroundPreview::submit(const VideoFrame& frame, Deliver deliver) {
    std::optional<Core::Pending> replaced;
    bool schedule = false;
    {
        MutexLock guard(core_->lock);
        replaced = std::move(core_->pending);
        core_->pending = Core::Pending{frame, std::move(deliver)};
        if (!core_->running) {
            core_->running = true;
            schedule = true;
        }
    }
    // A replaced frame's closure is released here, uncalled, off the lock.
    replaced.reset();
    if (schedule) {
        std::weak_ptr<Core> weak = core_;
        queue_.post([weak] {
            if (auto core = weak.lock()) {
                core->drain();
            }
        });
    }
}

}  // namespace hollowkit
