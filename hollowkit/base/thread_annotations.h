#pragma once

// Lock annotations that clang's -Wthread-safety checks at compile time
// (hollowkit/base/mutex.h has the mutex types that carry them, as
// libstdc++'s std::mutex carries none). Under other compilers they expand to
// nothing. The `thread-safety` build preset turns the analysis on with
// warnings as errors.
//
// A field names the mutex guarding it with HK_GUARDED_BY(mutex_); a private
// function called with the lock already held says HK_REQUIRES(mutex_); one
// that takes the lock itself, or calls out to handlers, says
// HK_EXCLUDES(mutex_). A lambda that reads guarded fields under a lock its
// caller holds (a condition-variable predicate) carries HK_REQUIRES too.

#if defined(__clang__)
#define HK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define HK_THREAD_ANNOTATION(x)
#endif

#define HK_CAPABILITY(x) HK_THREAD_ANNOTATION(capability(x))
#define HK_SCOPED_CAPABILITY HK_THREAD_ANNOTATION(scoped_lockable)
#define HK_GUARDED_BY(x) HK_THREAD_ANNOTATION(guarded_by(x))
#define HK_PT_GUARDED_BY(x) HK_THREAD_ANNOTATION(pt_guarded_by(x))
#define HK_ACQUIRED_BEFORE(...) HK_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define HK_ACQUIRED_AFTER(...) HK_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define HK_REQUIRES(...) HK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define HK_REQUIRES_SHARED(...) HK_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define HK_ACQUIRE(...) HK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define HK_ACQUIRE_SHARED(...) HK_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define HK_RELEASE(...) HK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define HK_RELEASE_SHARED(...) HK_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define HK_TRY_ACQUIRE(...) HK_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define HK_EXCLUDES(...) HK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define HK_ASSERT_CAPABILITY(x) HK_THREAD_ANNOTATION(assert_capability(x))
#define HK_RETURN_CAPABILITY(x) HK_THREAD_ANNOTATION(lock_returned(x))
#define HK_NO_THREAD_SAFETY_ANALYSIS HK_THREAD_ANNOTATION(no_thread_safety_analysis)
