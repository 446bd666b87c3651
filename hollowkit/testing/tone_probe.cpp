#include "hollowkit/testing/tone_probe.h"

#include <cmath>
#include <algorithm>
#include <numbers>
#include <optional>

namespace hollowkit {

std::vector<float> firstChannel(const std::vector<AudioChunk>& chunks) {
    std::vector<float> out;
    for (const AudioChunk& chunk : chunks) {
        const auto channels = static_cast<size_t>(chunk.channels());
        if (channels == 0) continue;
        if (chunk.sampleFormat() == SampleFormat::f32) {
            const auto samples = chunk.f32();
            for (size_t i = 0; i < samples.size(); i += channels) out.push_back(samples[i]);
        } else if (chunk.sampleFormat() == SampleFormat::s16) {
            const auto samples = chunk.s16();
            for (size_t i = 0; i < samples.size(); i += channels) out.push_back(samples[i] / 32768.0F);
        }
    }
    return out;
}

double toneAmplitude(std::span<const float> samples, int sampleRate, double frequencyHz) {
    if (samples.empty() || sampleRate <= 0) return 0.0;
    const double omega = 2.0 * std::numbers::pi * frequencyHz / sampleRate;
    const double coefficient = 2.0 * std::cos(omega);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (const float sample : samples) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

double zeroCrossingFrequency(std::span<const float> samples, int sampleRate) {
    std::optional<double> first;
    double last = 0.0;
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i - 1] < 0.0F && samples[i] >= 0.0F) {
            // Where the line between the two samples crosses zero.
            const double fraction = samples[i - 1] / static_cast<double>(samples[i - 1] - samples[i]);
            const double at = static_cast<double>(i - 1) + fraction;
            if (!first)
                first = at;
            else
                ++crossings;
            last = at;
        }
    }
    if (!first || crossings == 0) return 0.0;
    return crossings * static_cast<double>(sampleRate) / (last - *first);
}

}  // namespace hollowkit
