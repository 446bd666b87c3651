#include "hollowkit/media/pixel_buffer_pool.h"

#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/media/frame_storage.h"

namespace hollowkit {

struct PixelBufferPool::Shared {
    detail::AlignedLayout layout;
    size_t maxIdle = 0;

    Mutex mutex;
    std::vector<std::shared_ptr<uint8_t>> idle HK_GUARDED_BY(mutex);
    size_t leased HK_GUARDED_BY(mutex) = 0;
};

PixelBufferPool::PixelBufferPool(PixelFormat format, int width, int height, size_t maxIdle)
    : format_(format), width_(width), height_(height), shared_(std::make_shared<Shared>()) {
    if (detail::validFrameSize(format, width, height)) {
        shared_->layout = detail::alignedLayout(format, width, height);
    }
    shared_->maxIdle = maxIdle;
}

PixelBufferPool::~PixelBufferPool() = default;

WritableVideoFrame PixelBufferPool::acquire() {
    if (!detail::validFrameSize(format_, width_, height_)) {
        return {};
    }
    std::shared_ptr<uint8_t> block;
    {
        MutexLock lock(shared_->mutex);
        ++shared_->leased;
        if (!shared_->idle.empty()) {
            block = std::move(shared_->idle.back());
            shared_->idle.pop_back();
        }
    }
    if (!block) {
        block = detail::allocateAligned(shared_->layout.totalBytes);
    }
    // The frame holds the block through a second reference whose release
    // hands the block back, unless the pool is gone or already full.
    uint8_t* base = block.get();
    std::weak_ptr<Shared> pool = shared_;
    std::shared_ptr<uint8_t> lease(base, [block = std::move(block), pool](uint8_t*) mutable {
        if (auto shared = pool.lock()) {
            MutexLock lock(shared->mutex);
            --shared->leased;
            if (shared->idle.size() < shared->maxIdle) {
                shared->idle.push_back(std::move(block));
            }
        }
        // Otherwise `block` is freed with this deleter.
    });
    return WritableVideoFrame(detail::storageInBlock(format_, width_, height_, shared_->layout, std::move(lease)));
}

size_t PixelBufferPool::idleCount() const {
    MutexLock lock(shared_->mutex);
    return shared_->idle.size();
}

size_t PixelBufferPool::leasedCount() const {
    MutexLock lock(shared_->mutex);
    return shared_->leased;
}

WritableVideoFrame acquireSized(std::unique_ptr<PixelBufferPool>& pool, PixelFormat format, int width, int height,
                                size_t maxIdle) {
    if (!pool || pool->pixelFormat() != format || pool->width() != width || pool->height() != height) {
        pool = std::make_unique<PixelBufferPool>(format, width, height, maxIdle);
    }
    return pool->acquire();
}

}  // namespace hollowkit
