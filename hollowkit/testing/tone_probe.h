#pragma once

// Checks on captured or decoded sound in tests: the strength of one
// frequency (Goertzel) and the pitch from zero crossings. Any thread.

#include <span>
#include <vector>

#include "hollowkit/media/audio_chunk.h"

namespace hollowkit {

// The first channel of `chunks`, in order, as floats in -1...1 (16-bit
// samples are scaled).
std::vector<float> firstChannel(const std::vector<AudioChunk>& chunks);

// The amplitude of the `frequencyHz` component of `samples` (a full-scale
// sine at that frequency gives about 1).
double toneAmplitude(std::span<const float> samples, int sampleRate, double frequencyHz);

// The frequency estimated from the rising zero crossings; 0 without two.
double zeroCrossingFrequency(std::span<const float> samples, int sampleRate);

}  // namespace hollowkit
