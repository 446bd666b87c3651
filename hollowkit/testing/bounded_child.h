#pragma once

// Runs one case of a test in a forked child, so the test can hold it to a
// time bound (a case that hangs is killed, not waited for) and read the
// most memory it took. Call from the test's main thread while the process
// runs no other thread that could hold a lock the child needs.

#include <chrono>
#include <cstdint>
#include <functional>

namespace hollowkit::testsupport {

// Sanitizer builds keep freed memory aside and add shadow memory of their
// own, so a peak is held to a bound in plain builds only. gcc names them
// with __SANITIZE_*__, clang through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HK_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HK_SANITIZED_BUILD 1
#endif
#endif
#ifdef HK_SANITIZED_BUILD
inline constexpr bool kPlainMemoryPeaks = false;
#else
inline constexpr bool kPlainMemoryPeaks = true;
#endif

struct ChildOutcome {
    bool finished = false;     // ended within the bound (else killed)
    int exitCode = -1;         // the body's result, or -1 when it crashed
    int64_t peakGrowthBytes = 0;  // resident memory at its peak beyond the start
};

// `body` returns the child's exit code (0 for success). The peak counts the
// pages the body itself touched: the child's peak resident size is reset
// when it starts.
ChildOutcome runInChild(const std::function<int()>& body, std::chrono::seconds timeLimit);

}  // namespace hollowkit::testsupport
