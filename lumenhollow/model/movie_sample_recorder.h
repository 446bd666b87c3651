#pragma once

// MovieSampleRecorder: the capture tap's recorder for a movie written on
// this computer. It hands every frame and sound chunk to the library's
// MovieRecorder, which queues them and returns at once, so the camera's
// delivery threads never wait for the encoder. Any thread.

#include <memory>

#include "hollowkit/recording/movie_recorder.h"
#include "lumenhollow/model/capture_tap.h"

namespace lumenhollow {

class MovieSampleRecorder final : public SampleRecorder {
public:
    explicit MovieSampleRecorder(std::shared_ptr<hollowkit::MovieRecorder> movie) : movie_(std::move(movie)) {}

    // The frame and the chunk share their pixels and samples; nothing is copied.
    void appendVideo(const hollowkit::VideoFrame& frame) override { movie_->appendVideo(frame); }
    void appendAudio(const hollowkit::AudioChunk& chunk) override { movie_->appendAudio(chunk); }

    const std::shared_ptr<hollowkit::MovieRecorder>& movie() const { return movie_; }

private:
    const std::shared_ptr<hollowkit::MovieRecorder> movie_;
};

}  // namespace lumenhollow
