#pragma once

// The heap allocator's process-wide settings, made once from main() (the
// application's, and the test and benchmark programs' as it does), before
// other threads start; and the hand-back of free memory at the end of a
// large piece of work, such as a movie whose encoders were closed within it.
//
// glibc's allocator gives every thread a heap of its own and keeps the free
// memory at the top of each, up to a threshold that follows the largest
// block freed so far (tens of MB once frames have come and gone);
// malloc_trim does not reach those tops. A movie's encoder threads each
// leave such a top behind, in a different heap from movie to movie, so idle
// memory grew with every movie. The settings fix both thresholds: blocks up
// to 32 MB (frames) come from the heaps, and a heap gives back what it frees
// at its top beyond 128 kB at once (glibc's own first threshold, which it
// would otherwise raise). A frame-sized block freed at a heap's top is
// therefore mapped and zeroed anew when it is made again: a path that needs
// one per picture keeps it and reuses it (a PixelBufferPool, a kept scratch
// picture) rather than making it afresh. Without glibc both do nothing.

namespace hollowkit {

// Once, from main(), before other threads start.
void applyMemorySettings();

// Gives the free pages inside the heaps back to the system (the tops went
// back as they were freed). Any thread, any program, whether or not its
// main() made the settings; trims from several threads take turns. It
// changes no setting.
void returnFreedMemory();

}  // namespace hollowkit
