#include "hollowkit/recording/sound_lead_in.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace hollowkit {

AudioChunk silenceBefore(const AudioChunk& first, TimePoint pictureStart) {
    if (first.isNull() || first.pts() <= pictureStart || first.sampleRate() <= 0) return {};
    const Duration lead = first.pts() - pictureStart;
    const bool whole = lead <= 2 * kSilenceLeadBlock;
    const double seconds = std::chrono::duration<double>(whole ? lead : kSilenceLeadBlock).count();
    const auto frames = static_cast<size_t>(std::llround(seconds * first.sampleRate()));
    if (frames == 0) return {};
    const std::vector<float> zeros(frames * static_cast<size_t>(first.channels()), 0.0F);
    const Duration length = std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / first.sampleRate()));
    return AudioChunk::copyF32(zeros, first.sampleRate(), first.channels(),
                               whole ? first.pts() - length : pictureStart);
}

}  // namespace hollowkit
