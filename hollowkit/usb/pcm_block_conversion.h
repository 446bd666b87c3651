#pragma once

// What the USB camera does with a raw sound block besides the wireless
// microphone detector: the AudioChunk its owner receives and the level it
// shows. Pure functions; every length is checked against the bytes that
// exist, so a block shorter than it claims yields only the frames it holds.

#include <optional>

#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/usb/audio_source_backend.h"

namespace hollowkit {

// The block as interleaved samples in its own sample form (32-bit float or
// signed 16-bit), one buffer per channel joined into frames. A null chunk
// for any other sample form, a rate that is not a whole number of frames
// per second within AudioChunk's limits, or no whole frame.
AudioChunk audioChunkFromPcm(const PcmBlock& block);

// Average (RMS) power of the first channel over the chunk, in dBFS (0 for
// a full-scale square wave, kSilenceDb at the quietest). Nothing for a null
// or empty chunk or samples that are not finite.
std::optional<float> averagePowerDb(const AudioChunk& chunk);

inline constexpr float kSilenceDb = -160.0F;

}  // namespace hollowkit
