#pragma once

// FreedMemoryReturn: while one lives, memory this process frees goes back
// to the system at once, and at its end the free pages inside the heaps go
// back too. For the end of a large piece of work, such as a movie whose
// encoders are closed within it.
//
// glibc's allocator gives every thread a heap of its own and keeps the free
// memory at the top of each, up to a threshold that follows the largest
// block freed so far (tens of MB once frames have come and gone);
// malloc_trim does not reach those tops. A movie's encoder threads each
// leave such a top behind, in a different heap from movie to movie, so idle
// memory grew with every movie. The first one also fixes the allocator's
// thresholds where its dynamic ones end (frames stay in the heaps and are
// reused, never mapped and zeroed anew), as changing one stops glibc from
// adjusting them.
//
// Any thread; scopes may overlap. Without glibc it does nothing.

namespace hollowkit {

class FreedMemoryReturn {
public:
    FreedMemoryReturn();
    ~FreedMemoryReturn();

    FreedMemoryReturn(const FreedMemoryReturn&) = delete;
    FreedMemoryReturn& operator=(const FreedMemoryReturn&) = delete;
};

}  // namespace hollowkit
