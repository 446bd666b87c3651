#include "hollowkit/base/memory_settings.h"

// First: a C library header says whether the library is glibc (__GLIBC__).
#include <cstdlib>

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
// Free memory a heap keeps at its top: glibc's initial threshold.
constexpr int kKeptTop = 128 << 10;

// glibc sets its heap up on the first call that needs it, without a lock:
// two first trims at once crash inside it. That first trim comes late where
// glibc serves no allocation before it (a sanitizer's program, whose
// allocator takes malloc and mallopt over) or where main() never made the
// settings; so every trim in the process takes its turn.
Mutex& trimTurn() {
    static Mutex turn;
    return turn;
}

}  // namespace

void applyMemorySettings() {
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, kKeptTop);
}

void returnFreedMemory() {
    MutexLock lock(trimTurn());
    malloc_trim(0);
}
#else
void applyMemorySettings() {}
void returnFreedMemory() {}
#endif

}  // namespace hollowkit
