#pragma once

// The silence that leads a movie's sound in when its first chunk starts
// after the movie's first picture (a sound stream that started late, or
// lost its first fragments on a busy machine), so picture and sound start
// together. Used by each recorder on its own queue; a plain function.
//
// A short lead is one chunk that ends where the sound begins. A longer one
// is never built whole (a stalled stream's lead can last minutes): one block
// begins it at the picture, and the writer fills the gap between that block
// and the sound as it fills any gap within the track, a block at a time
// (MovieWriter::appendAudio).

#include <chrono>

#include "hollowkit/base/clock.h"
#include "hollowkit/media/audio_chunk.h"

namespace hollowkit {

// The one block a long lead begins with; a lead of up to two is one chunk.
inline constexpr Duration kSilenceLeadBlock = std::chrono::milliseconds(100);

// Silence in `first`'s format from `pictureStart` on, to be written before
// `first`; a null chunk when `first` does not start after `pictureStart`.
AudioChunk silenceBefore(const AudioChunk& first, TimePoint pictureStart);

}  // namespace hollowkit
