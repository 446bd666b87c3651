#pragma once

// Heap allocations counted where every one of them passes: malloc and its
// kin, stood in for here and handed on to glibc's own, so what Qt, FFmpeg
// and the other C libraries allocate is counted beside operator new (which
// allocates through malloc). Counted per thread and for the whole process.
// Include in exactly one file of a test or benchmark program. Under the
// sanitizers, which keep malloc for themselves, nothing is replaced, the
// counts stay 0 and HK_COUNTS_ALLOCATIONS is 0: tests that read the count
// are then left out.

#include <atomic>
#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HK_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HK_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef HK_COUNTS_ALLOCATIONS
#define HK_COUNTS_ALLOCATIONS 1
#endif

namespace hollowkit::testsupport {

inline std::atomic<uint64_t> allocationsInProcess{0};
inline thread_local uint64_t allocationsOnThread = 0;

inline void countAllocation() {
    allocationsInProcess.fetch_add(1, std::memory_order_relaxed);
    ++allocationsOnThread;
}

}  // namespace hollowkit::testsupport

#if HK_COUNTS_ALLOCATIONS
extern "C" {

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);

void* malloc(size_t size) {
    hollowkit::testsupport::countAllocation();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    hollowkit::testsupport::countAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    hollowkit::testsupport::countAllocation();
    return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size) {
    hollowkit::testsupport::countAllocation();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    hollowkit::testsupport::countAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** pointer, size_t alignment, size_t size) {
    hollowkit::testsupport::countAllocation();
    // EINVAL for an alignment that is not a power of two times a pointer's size.
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return 22;
    *pointer = __libc_memalign(alignment, size);
    return *pointer || size == 0 ? 0 : 12;  // ENOMEM
}

}  // extern "C"
#endif
