#pragma once

// MovieSampleRecorder: the capture tap's recorder for a movie written on
// this computer. It hands every frame and sound chunk to the library's
// MovieRecorder, which queues them and returns at once, so the camera's
// delivery threads never wait for the encoder. Any thread.
//
// A movie being finished takes only sound: the tap keeps handing it the
// sound of its last frames, still on its way when Record was pressed.

#include <cstdint>
#include <memory>

#include "hollowkit/recording/movie_recorder.h"
#include "lumenhollow/model/capture_tap.h"

namespace lumenhollow {

class MovieSampleRecorder final : public SampleRecorder {
public:
    enum class Takes : uint8_t { frameAndSound, soundOnly };

    explicit MovieSampleRecorder(std::shared_ptr<hollowkit::MovieRecorder> movie,
                                 Takes takes = Takes::frameAndSound)
        : movie_(std::move(movie)), takes_(takes) {}

    // The frame and the chunk share their pixels and samples; nothing is copied.
    void appendVideo(const hollowkit::VideoFrame& frame) override {
        if (takes_ == Takes::frameAndSound) movie_->appendVideo(frame);
    }
    void appendAudio(const hollowkit::AudioChunk& chunk) override { movie_->appendAudio(chunk); }

    const std::shared_ptr<hollowkit::MovieRecorder>& movie() const { return movie_; }
    Takes takes() const { return takes_; }

private:
    const std::shared_ptr<hollowkit::MovieRecorder> movie_;
    const Takes takes_;
};

}  // namespace lumenhollow
