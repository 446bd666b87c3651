#include "hollowkit/imaging/frame_processor.h"

#include <exception>
#include <utility>

#include "hollowkit/base/mutex.h"
#include "hollowkit/imaging/lut_engine.h"
#include "hollowkit/imaging/row_workers.h"

namespace hollowkit {

namespace {

constexpr size_t kPoolBuffers = 4;

}  // namespace

FrameProcessor::FrameProcessor() : FrameProcessor(Options{}) {}

FrameProcessor::FrameProcessor(Options options)
    : options_(std::move(options)),
      workers_(std::make_unique<RowWorkers>(options_.threadCount > 0
                                                ? options_.threadCount
                                                : RowWorkers::defaultThreadCount())) {}

FrameProcessor::~FrameProcessor() = default;

void FrameProcessor::setLUT(std::optional<ColorLUT> lut) { setLUT(std::move(lut), nullptr); }

void FrameProcessor::setLUT(std::optional<ColorLUT> lut, std::shared_ptr<const LutEngine> prepared) {
    std::shared_ptr<const LutEngine> engine = lut ? std::move(prepared) : nullptr;
    if (lut && !engine) {
        try {
            engine = LutEngine::prepare(*lut);
        } catch (const std::exception&) {
            engine.reset();  // out of memory for the table: frames go on untreated
        }
    }
    MutexLock lock(lutMutex_);
    lut_ = std::move(lut);
    engine_ = std::move(engine);
}

std::optional<ColorLUT> FrameProcessor::lut() const {
    MutexLock lock(lutMutex_);
    return lut_;
}

VideoFrame FrameProcessor::process(const VideoFrame& frame) {
    std::shared_ptr<const LutEngine> engine;
    {
        MutexLock lock(lutMutex_);
        engine = engine_;
    }
    if (!engine || frame.isNull()) return frame;

    try {
        WritableVideoFrame buffer = pixelBuffer(frame.width(), frame.height());
        if (buffer.isNull()) return frame;
        const bool large = int64_t{frame.width()} * frame.height() >= options_.parallelMinPixels;
        if (!engine->apply(frame, buffer, large ? workers_.get() : nullptr)) return frame;
        return std::move(buffer).freeze(frame.pts());
    } catch (const std::exception&) {
        return frame;
    }
}

std::optional<FrameProcessor::FrameSize> FrameProcessor::poolSize() const {
    MutexLock lock(poolMutex_);
    if (!pool_) return std::nullopt;
    return FrameSize{pool_->width(), pool_->height()};
}

WritableVideoFrame FrameProcessor::pixelBuffer(int width, int height) {
    if (options_.bufferSource) return options_.bufferSource(width, height);

    std::shared_ptr<PixelBufferPool> pool;
    std::shared_ptr<PixelBufferPool> replaced;  // its idle buffers are freed after unlocking
    {
        MutexLock lock(poolMutex_);
        if (!pool_ || pool_->width() != width || pool_->height() != height) {
            replaced = std::exchange(
                pool_, std::make_shared<PixelBufferPool>(PixelFormat::bgra, width, height, kPoolBuffers));
        }
        pool = pool_;
    }
    // Taken outside the lock: a fresh buffer is a large allocation.
    return pool->acquire();
}

}  // namespace hollowkit
