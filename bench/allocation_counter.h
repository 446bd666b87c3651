#pragma once

// Counts heap allocations of the whole process (the program's own, Qt's,
// the standard library's) by standing in for malloc and friends and handing
// on to glibc's own. Include in exactly one benchmark program that wants
// "allocations per frame"; counts are kept per thread and in total.

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace benchsupport {

inline std::atomic<uint64_t> allocationsInProcess{0};
inline thread_local uint64_t allocationsOnThread = 0;

inline void countAllocation() {
    allocationsInProcess.fetch_add(1, std::memory_order_relaxed);
    ++allocationsOnThread;
}

}  // namespace benchsupport

extern "C" {

void* malloc(size_t size) {
    benchsupport::countAllocation();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    benchsupport::countAllocation();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    benchsupport::countAllocation();
    return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size) {
    benchsupport::countAllocation();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    benchsupport::countAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** pointer, size_t alignment, size_t size) {
    benchsupport::countAllocation();
    *pointer = __libc_memalign(alignment, size);
    return *pointer || size == 0 ? 0 : 12;  // ENOMEM
}

}  // extern "C"
