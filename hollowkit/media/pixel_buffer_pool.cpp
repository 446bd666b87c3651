#include "hollowkit/media/pixel_buffer_pool.h"

#include <new>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/media/frame_storage.h"

namespace hollowkit {
namespace {

// Room for the reference count block of a frame's handle; the handle's
// allocator places it here, so a recycled buffer comes with its handle.
constexpr size_t kHandleBlockBytes = 128;

}  // namespace

// One buffer and the handle frames share it through. The handle's count
// block lives in `handleBlock`; the buffer goes back to the pool when that
// block is given up, which is the last thing a shared_ptr does with it.
struct PixelBufferPool::Entry {
    detail::FrameStorage storage;
    std::shared_ptr<uint8_t> block;
    alignas(std::max_align_t) std::byte handleBlock[kHandleBlockBytes];
};

struct PixelBufferPool::Shared {
    detail::AlignedLayout layout;
    size_t maxIdle = 0;

    Mutex mutex;
    std::vector<std::unique_ptr<Entry>> idle HK_GUARDED_BY(mutex);
    size_t leased HK_GUARDED_BY(mutex) = 0;
    bool closed HK_GUARDED_BY(mutex) = false;

    void giveBack(Entry* entry) {
        std::unique_ptr<Entry> owned(entry);
        MutexLock lock(mutex);
        --leased;
        if (!closed && idle.size() < maxIdle) idle.push_back(std::move(owned));
        // Otherwise `owned` and its pixels are freed here.
    }
};

// Places the handle's count block in its entry and hands the entry back to
// the pool when the block is released. Holding the pool's state keeps it
// alive for frames that outlive the pool.
template <typename T>
struct PixelBufferPool::HandleAllocator {
    using value_type = T;

    PixelBufferPool::Entry* entry;
    std::shared_ptr<PixelBufferPool::Shared> pool;

    template <typename U>
    HandleAllocator(const HandleAllocator<U>& other) : entry(other.entry), pool(other.pool) {}  // NOLINT
    HandleAllocator(PixelBufferPool::Entry* e, std::shared_ptr<PixelBufferPool::Shared> p)
        : entry(e), pool(std::move(p)) {}

    T* allocate(size_t n) {
        static_assert(alignof(T) <= alignof(std::max_align_t));
        if (n * sizeof(T) <= sizeof(entry->handleBlock)) return reinterpret_cast<T*>(entry->handleBlock);
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, size_t) {
        if (reinterpret_cast<std::byte*>(p) != entry->handleBlock) ::operator delete(p);
        // Nothing touches the handle after this: the entry may be reused.
        std::shared_ptr<PixelBufferPool::Shared> owner = std::move(pool);
        owner->giveBack(entry);
    }
    template <typename U>
    bool operator==(const HandleAllocator<U>& other) const {
        return entry == other.entry;
    }
};

PixelBufferPool::PixelBufferPool(PixelFormat format, int width, int height, size_t maxIdle)
    : format_(format), width_(width), height_(height), shared_(std::make_shared<Shared>()) {
    if (detail::validFrameSize(format, width, height)) {
        shared_->layout = detail::alignedLayout(format, width, height);
    }
    shared_->maxIdle = maxIdle;
}

PixelBufferPool::~PixelBufferPool() {
    // Frames still out free their memory when they go.
    MutexLock lock(shared_->mutex);
    shared_->closed = true;
    shared_->idle.clear();
}

WritableVideoFrame PixelBufferPool::acquire() {
    if (!detail::validFrameSize(format_, width_, height_)) {
        return {};
    }
    std::unique_ptr<Entry> entry;
    {
        MutexLock lock(shared_->mutex);
        ++shared_->leased;
        if (!shared_->idle.empty()) {
            entry = std::move(shared_->idle.back());
            shared_->idle.pop_back();
        }
    }
    if (!entry) {
        entry = std::make_unique<Entry>();
        entry->block = detail::allocateAligned(shared_->layout.totalBytes);
        entry->storage = *detail::storageInBlock(format_, width_, height_, shared_->layout, entry->block);
        // The entry owns the pixels; the storage must not keep a second hold.
        entry->storage.owner = nullptr;
    }
    Entry* raw = entry.release();
    std::shared_ptr<detail::FrameStorage> handle(&raw->storage, [](detail::FrameStorage*) {},
                                                 HandleAllocator<detail::FrameStorage>(raw, shared_));
    return WritableVideoFrame(std::move(handle));
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
