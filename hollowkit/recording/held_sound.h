#pragma once

// Sound that arrives before a movie can take it: the most recent stretch,
// bounded, handed over in order once the movie exists.

#include <cstddef>
#include <deque>
#include <utility>

#include "hollowkit/media/audio_chunk.h"

namespace hollowkit {

class HeldSound {
public:
    // Chunks kept; older ones go first.
    static constexpr size_t kMaxChunks = 64;

    void hold(AudioChunk chunk) {
        chunks_.push_back(std::move(chunk));
        if (chunks_.size() > kMaxChunks) chunks_.pop_front();
    }
    // Everything held, oldest first; nothing is held afterwards.
    std::deque<AudioChunk> take() { return std::exchange(chunks_, {}); }
    void clear() { chunks_.clear(); }

private:
    std::deque<AudioChunk> chunks_;
};

}  // namespace hollowkit
