#include "hollowkit/base/memory_settings.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace hollowkit {

#if defined(__GLIBC__)
namespace {

// Blocks below this come from the heaps and are reused, never mapped and
// zeroed anew: glibc's ceiling for its dynamic threshold.
constexpr int kMmapThreshold = 32 << 20;
// Free memory a heap keeps at its top: glibc's initial threshold.
constexpr int kKeptTop = 128 << 10;

}  // namespace

void applyMemorySettings() {
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, kKeptTop);
}

void returnFreedMemory() {
    malloc_trim(0);
}
#else
void applyMemorySettings() {}
void returnFreedMemory() {}
#endif

}  // namespace hollowkit
