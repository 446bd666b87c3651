#pragma once

// What the recording tests feed a movie with: small camera frames, each
// waited for until the movie has taken it, and real movie writers whose
// finish waits until the test lets it go.

#include <atomic>
#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/movie_sample_recorder.h"
#include "lumenhollow/testing/fake_camera.h"

namespace lumenhollow::test {

// Small frames delivered on the test's thread, 1/30 s apart on the real
// monotonic clock, as a camera stamps them; each waits until the movie has
// taken it, so none is dropped for a full queue.
struct FrameFeed {
    hollowkit::TimePoint base = std::chrono::steady_clock::now();
    int next = 0;

    void deliver(CameraModel& model, FakeCamera& camera, int count) {
        for (int i = 0; i < count; ++i, ++next) {
            camera.deliverFrame(FakeCamera::makeFrame(64, 36, base + std::chrono::nanoseconds(next * 1'000'000'000LL / 30)));
            if (auto movie = std::dynamic_pointer_cast<MovieSampleRecorder>(model.tap().recorder())) {
                (void)movie->movie()->sizeChanges();
            }
        }
    }
};

// Real movie writers whose finish waits, on the writer's own thread, until
// the test lets it go, as a long movie's completion keeps a user waiting.
struct HeldFinishWriters {
    // How many writers, in the order made, are held; the later ones finish
    // at once.
    int held = std::numeric_limits<int>::max();
    std::atomic<int> made = 0;  // counted on the movies' threads
    std::atomic<bool> finishing = false;
    std::promise<void> letGo;
    std::shared_future<void> gate = letGo.get_future().share();

    class Writer final : public hollowkit::MovieWriter {
    public:
        Writer(std::unique_ptr<hollowkit::MovieWriter> inner, HeldFinishWriters& owner, bool holds)
            : inner_(std::move(inner)), owner_(owner), holds_(holds) {}
        void setOnFailure(FailureHandler handler) override { inner_->setOnFailure(std::move(handler)); }
        hollowkit::Result<void, std::string> start(const hollowkit::MovieWriterSettings& settings,
                                                   hollowkit::TimePoint sessionStart) override {
            return inner_->start(settings, sessionStart);
        }
        bool isWriting() const override { return inner_->isWriting(); }
        bool readyForVideo() const override { return inner_->readyForVideo(); }
        bool readyForAudio() const override { return inner_->readyForAudio(); }
        bool appendVideo(const hollowkit::VideoFrame& frame) override { return inner_->appendVideo(frame); }
        bool appendAudio(const hollowkit::AudioChunk& chunk) override { return inner_->appendAudio(chunk); }
        std::string errorText() const override { return inner_->errorText(); }
        hollowkit::Result<void, std::string> finish(std::optional<hollowkit::TimePoint> endTime) override {
            if (holds_) {
                owner_.finishing = true;
                owner_.gate.wait_for(std::chrono::seconds(60));  // bounded: a broken test still ends
            }
            return inner_->finish(endTime);
        }

    private:
        std::unique_ptr<hollowkit::MovieWriter> inner_;
        HeldFinishWriters& owner_;
        const bool holds_;
    };

    hollowkit::MovieWriterFactory factory() {
        hollowkit::FfmpegMovieWriterOptions options;
        options.realTime = false;
        return [this, inner = hollowkit::ffmpegMovieWriterFactory(options)](const hollowkit::FileInFolder& path) {
            const bool holds = made++ < held;
            return std::unique_ptr<hollowkit::MovieWriter>(std::make_unique<Writer>(inner(path), *this, holds));
        };
    }
};

}  // namespace lumenhollow::test
