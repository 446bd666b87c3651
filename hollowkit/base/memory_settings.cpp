#include "hollowkit/base/freed_memory_return.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "hollowkit/base/mutex.h"

namespace hollowkit {

#if defined(__GLIBC__)
namespace {

// Blocks below this come from the heaps and are reused, never mapped and
// zeroed anew: glibc's ceiling for its dynamic threshold.
constexpr int kMmapThreshold = 32 << 20;
// Free memory a heap keeps at its top outside a scope, so a frame freed and
// the next one made share the same pages: above what glibc's dynamic
// threshold keeps for 4K frames (twice the largest block freed).
constexpr int kKeptTop = 32 << 20;
// Within a scope: glibc's initial threshold.
constexpr int kReturnedTop = 128 << 10;

// The allocator's settings are the process's, so the scopes open anywhere
// in it share one count.
struct OpenScopes {
    Mutex mutex;
    int count HK_GUARDED_BY(mutex) = 0;
};

OpenScopes& openScopes() {
    static OpenScopes scopes;
    return scopes;
}

}  // namespace

FreedMemoryReturn::FreedMemoryReturn() {
    OpenScopes& scopes = openScopes();
    MutexLock lock(scopes.mutex);
    if (scopes.count++ > 0) return;
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, kReturnedTop);
}

FreedMemoryReturn::~FreedMemoryReturn() {
    OpenScopes& scopes = openScopes();
    MutexLock lock(scopes.mutex);
    if (--scopes.count > 0) return;
    // The tops went back as they were freed; now the free pages within.
    malloc_trim(0);
    mallopt(M_TRIM_THRESHOLD, kKeptTop);
}
#else
FreedMemoryReturn::FreedMemoryReturn() = default;
FreedMemoryReturn::~FreedMemoryReturn() = default;
#endif

}  // namespace hollowkit
