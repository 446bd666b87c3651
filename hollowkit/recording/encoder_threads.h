#pragma once

// Threads of the movie encoders, shared by the live movie writer and the
// screen composer.

namespace hollowkit {

// Frames x265 codes at once: one. Its pool still codes each frame's rows in
// parallel (a two-CPU machine encodes 1080p about 15 % slower than with two
// frames at once, an eight-CPU one about 45 %). With more than one, x265's
// flush can hang for ever: a frame may end its rate control only once the
// frame after it has started hers, and at the end of a stream the last
// frame waits instead for the flush's word that no frame follows; that word
// is a wake-up without a change, lost when it comes between the frame's
// look at the final count and its wait. The encoder's caller then waits for
// that frame without end (about one finish in five thousand on a loaded
// machine, small pictures the likeliest), and the movie, or the combined
// movie of a take, is never completed.
inline constexpr int kHevcFrameThreads = 1;

}  // namespace hollowkit
