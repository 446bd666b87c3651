// A camera recording that runs until it is killed, for the test that kills
// it: frames and sound at 30 a second, in real time while the machine keeps
// up, through MovieRecorder and the FFmpeg writer, into the movie named by the first argument with the
// codec named by the second ("HEVC" or "H.264"). Each frame the writer takes
// is reported on standard output as "taken <count> <seconds>", the seconds
// counted from the first taken frame. After a minute it finishes by itself,
// so a test that dies first leaves no recording running.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "hollowkit/media/ffmpeg_log.h"
#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/movie_recorder.h"
#include "hollowkit/testing/manual_executor.h"
#include "recording_test_support.h"

namespace hollowkit {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kSampleRate = 48000;
constexpr int kChunk = kSampleRate / 30;
constexpr int kMaxFrames = 30 * 60;

// Passes everything to the real writer and reports each frame it took.
class ReportingWriter final : public MovieWriter {
public:
    explicit ReportingWriter(std::unique_ptr<MovieWriter> inner) : inner_(std::move(inner)) {}

    void setOnFailure(FailureHandler handler) override { inner_->setOnFailure(std::move(handler)); }
    Result<void, std::string> start(const MovieWriterSettings& settings, TimePoint sessionStart) override {
        return inner_->start(settings, sessionStart);
    }
    bool isWriting() const override { return inner_->isWriting(); }
    bool readyForVideo() const override { return inner_->readyForVideo(); }
    bool readyForAudio() const override { return inner_->readyForAudio(); }
    bool appendVideo(const VideoFrame& frame) override {
        if (!inner_->appendVideo(frame)) return false;
        if (taken_ == 0) first_ = frame.pts();
        ++taken_;
        char line[64];
        const int length = std::snprintf(line, sizeof line, "taken %d %.6f\n", taken_,
                                         std::chrono::duration<double>(frame.pts() - first_).count());
        // Straight to the pipe: nothing may sit in a buffer when the kill comes.
        const ssize_t written = ::write(STDOUT_FILENO, line, static_cast<size_t>(length));
        (void)written;  // a reader that went away is no reason to stop recording
        return true;
    }
    bool appendAudio(const AudioChunk& chunk) override { return inner_->appendAudio(chunk); }
    std::string errorText() const override { return inner_->errorText(); }
    Result<void, std::string> finish(std::optional<TimePoint> endTime) override { return inner_->finish(endTime); }

private:
    std::unique_ptr<MovieWriter> inner_;
    int taken_ = 0;
    TimePoint first_{};
};

int run(const std::filesystem::path& movie, VideoCodec codec) {
    installFfmpegLogging();
    ManualExecutor main;
    MovieWriterFactory factory = [](const FileInFolder& path) -> std::unique_ptr<MovieWriter> {
        // The writer waits for room rather than refusing frames, and each
        // frame is offered once the one before was taken: on a loaded
        // machine the camera falls behind the clock instead of skipping
        // frames, so what a kill may lose (the writer's backlog, the
        // encoder's delay, the fragment being written) is a count of frames
        // and a fragment's length, not a stretch that grows with the load.
        FfmpegMovieWriterOptions options;
        options.realTime = false;
        return std::make_unique<ReportingWriter>(makeFfmpegMovieWriter(path, options));
    };
    MovieRecorder recorder(movie, codec, std::nullopt, /*expectsAudio=*/true, main, Clock::system(),
                           std::move(factory));
    const TimePoint start = Clock::system().now();
    const auto wallStart = std::chrono::steady_clock::now();
    for (int i = 0; i < kMaxFrames; ++i) {
        const auto offset = std::chrono::nanoseconds(int64_t{i} * 1'000'000'000 / 30);
        recorder.appendAudio(
            testsupport::toneChunk(kSampleRate, 2, int64_t{i} * kChunk, kChunk, start + offset));
        recorder.appendVideo(testsupport::patternFrame(kWidth, kHeight, i, start + offset));
        (void)recorder.sizeChanges();  // the recorder's queue has handed the frame over
        std::this_thread::sleep_until(wallStart + offset + std::chrono::nanoseconds(1'000'000'000 / 30));
    }
    bool done = false;
    recorder.finish(std::nullopt, [&](auto) { done = true; });
    main.waitFor([&] { return done; }, std::chrono::seconds(30));
    return 0;
}

}  // namespace
}  // namespace hollowkit

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <movie> <HEVC|H.264>\n", argv[0]);
        return 2;
    }
    const auto codec = hollowkit::parseVideoCodec(argv[2]);
    if (!codec) {
        std::fprintf(stderr, "unknown codec %s\n", argv[2]);
        return 2;
    }
    return hollowkit::run(argv[1], *codec);
}
