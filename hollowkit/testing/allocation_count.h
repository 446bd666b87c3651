#pragma once

// Heap allocations made through operator new on the calling thread, counted
// by standing in for the global operator new and delete. Include in exactly
// one file of a test program. Under the sanitizers, which keep new and delete
// for themselves, nothing is replaced and HK_COUNTS_ALLOCATIONS is 0: the
// tests that read the count are then left out.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

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

#if HK_COUNTS_ALLOCATIONS
namespace hollowkit::testsupport {
inline thread_local uint64_t allocationsOnThread = 0;
}  // namespace hollowkit::testsupport

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    ++hollowkit::testsupport::allocationsOnThread;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    ++hollowkit::testsupport::allocationsOnThread;
    const auto align = static_cast<std::size_t>(alignment);
    if (void* p = std::aligned_alloc(align, (std::max<std::size_t>(size, 1) + align - 1) / align * align)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
#endif
