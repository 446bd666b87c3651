#pragma once

// The FFmpeg movie writer's class, shared by its four files: the writer's
// life (start, the queue, the worker, the finish) in ffmpeg_movie_writer.cpp,
// the picture's encoding in ffmpeg_movie_video.cpp, the sound's in
// ffmpeg_movie_audio.cpp, the packets' way to the muxer in
// ffmpeg_movie_output.cpp. Private to the recording library.

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "hollowkit/base/mutex.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/fragmented_movie_file.h"
#include "hollowkit/recording/packet_time_guard.h"

namespace hollowkit::movie_writing {

inline constexpr AVRational kNanoseconds{1, 1'000'000'000};
// Fine enough to keep any real frame times apart; QuickTime's usual scale.
inline constexpr AVRational kVideoTimeBase{1, 90000};
// The longest stretch of sound that waits for a picture behind it (about
// 2 MB at the movies' bit rate); beyond it the oldest goes in regardless.
inline constexpr int kMaxWaitingSoundSeconds = 60;

class FfmpegMovieWriter final : public MovieWriter {
public:
    FfmpegMovieWriter(FileInFolder output, FfmpegMovieWriterOptions options)
        : output_(std::move(output)), options_(std::move(options)) {}

    ~FfmpegMovieWriter() override {
        stopWorker();
        releaseEncoders();
        // A writer dropped without finish leaves the fragments written so
        // far, a playable movie; the file closes with file_.
    }

    FfmpegMovieWriter(const FfmpegMovieWriter&) = delete;
    FfmpegMovieWriter& operator=(const FfmpegMovieWriter&) = delete;

    void setOnFailure(FailureHandler handler) override { onFailure_ = std::move(handler); }
    Result<void, std::string> start(const MovieWriterSettings& settings,
                                    TimePoint sessionStart) override;
    bool isWriting() const override {
        MutexLock lock(mutex_);
        return state_ == State::writing && error_.empty();
    }
    bool readyForVideo() const override {
        MutexLock lock(mutex_);
        return acceptsLocked() && (!options_.realTime || pendingVideo_ < options_.maxPendingVideoFrames);
    }
    bool readyForAudio() const override {
        MutexLock lock(mutex_);
        return acceptsLocked() && audioCodec_ != nullptr &&
               (!options_.realTime || !audioBacklogFull());
    }
    bool appendVideo(const VideoFrame& frame) override;
    bool appendAudio(const AudioChunk& chunk) override;
    std::string errorText() const override {
        MutexLock lock(mutex_);
        return error_;
    }
    Result<void, std::string> finish(std::optional<TimePoint> endTime) override;

private:
    enum class State { idle, writing, finished };

    struct Item {
        VideoFrame video;
        AudioChunk audio;
    };

    bool audioBacklogFull() const HK_REQUIRES(mutex_) {
        return pendingAudio_ >= options_.maxPendingAudioChunks || pendingAudioLength_ >= options_.maxPendingAudio;
    }
    bool acceptsLocked() const HK_REQUIRES(mutex_) {
        return state_ == State::writing && error_.empty() && !finishRequested_;
    }
    bool enqueue(Item item, bool isVideo);
    void fail(std::string text);
    bool failed() const {
        MutexLock lock(mutex_);
        return !error_.empty();
    }

    Result<void, std::string> openVideo(const MovieWriterSettings& settings);
    Result<void, std::string> openAudio(const MovieAudioSettings& audio);
    Result<void, std::string> openFile();

    void workerLoop();
    void stopWorker();
    // Closes the encoders (their threads end) and gives what they held back
    // to the system; the file stays open. After the worker stopped.
    void releaseEncoders();

    // Worker side (or the caller's side once the worker has stopped).
    void encodeVideo(const VideoFrame& frame);
    bool convertInto(const VideoFrame& frame, AVFrame* target);
    void sendVideo(const AVFrame* frame);
    void releaseVideoPackets();
    void encodeAudio(const AudioChunk& chunk);
    bool ensureResampler(const AudioChunk& chunk);
    void writeAudioSamples(uint8_t* const* planes, int offset, int count);
    void writeSilence(int64_t count);
    void drainAudioFifo(bool final);
    void sendAudio(const AVFrame* frame);
    // Mends the packet's times and hands the track's previous packet to the
    // muxer; `earliestDts` (in the codec's time base) bounds a first
    // decode time.
    void writePacket(AVPacket* packet, AVStream* stream, AVRational codecTimeBase,
                     int64_t earliestDts = AV_NOPTS_VALUE);
    struct TrackOutput;
    void handOver(AVPacket* packet, TrackOutput& track);
    void releaseWaitingSound();
    void muxPacket(AVPacket* packet, std::optional<int64_t> nextDts);
    // At the finish, once every picture was encoded.
    void releaseHeldPackets();
    int64_t earliestVideoDts() const;
    void flushAll(std::optional<TimePoint> endTime);

    const FileInFolder output_;
    const FfmpegMovieWriterOptions options_;
    FailureHandler onFailure_;  // set before start, then only read

    mutable Mutex mutex_;
    std::condition_variable changed_;
    State state_ HK_GUARDED_BY(mutex_) = State::idle;
    std::string error_ HK_GUARDED_BY(mutex_);
    bool finishRequested_ HK_GUARDED_BY(mutex_) = false;
    std::deque<Item> pending_ HK_GUARDED_BY(mutex_);
    int pendingVideo_ HK_GUARDED_BY(mutex_) = 0;
    int pendingAudio_ HK_GUARDED_BY(mutex_) = 0;
    Duration pendingAudioLength_ HK_GUARDED_BY(mutex_){};
    int64_t audioEndLimit_ HK_GUARDED_BY(mutex_) = std::numeric_limits<int64_t>::max();
    std::thread worker_;

    // Touched by start, then the worker only, then finish after the join.
    TimePoint sessionStart_{};
    int frameRate_ = 30;
    std::unique_ptr<FragmentedMovieFile> file_;  // outlives format_, which writes through it
    ffmpeg::FormatContextPtr format_;
    bool headerWritten_ = false;
    ffmpeg::CodecContextPtr videoCodec_;
    AVStream* videoStream_ = nullptr;
    ffmpeg::FramePtr staging_;
    ffmpeg::SwsContextPtr scaler_;
    ffmpeg::PacketPtr packet_;
    int64_t lastVideoTick_ = std::numeric_limits<int64_t>::min();
    int64_t lastInterval_ = 0;
    int64_t firstVideoTick_ = std::numeric_limits<int64_t>::min();
    std::map<int64_t, int64_t> videoDurations_;  // frame time -> its duration, once known
    std::deque<ffmpeg::PacketPtr> heldVideo_;     // in encoder order, waiting for a duration

    ffmpeg::CodecContextPtr audioCodec_;
    AVStream* audioStream_ = nullptr;
    ffmpeg::AudioFifoPtr audioFifo_;
    ffmpeg::SwrContextPtr resampler_;
    ffmpeg::FramePtr converted_;
    SampleFormat resamplerFormat_ = SampleFormat::none;
    int resamplerRate_ = 0;
    int resamplerChannels_ = 0;
    bool audioStarted_ = false;
    int64_t audioNextPosition_ = 0;  // output samples from the movie's zero
    bool loggedAudioOverlap_ = false;
    bool loggedAudioFormat_ = false;
    bool loggedVideoOrder_ = false;

    // Per stream: its times so far, and its last packet, held until the
    // next one's decode time shows how long it lasts; when its samples shown
    // so far end (in the stream's time base).
    struct TrackOutput {
        PacketTimeGuard times;
        ffmpeg::PacketPtr held;
        bool holding = false;
        int64_t shownUntil = PacketTimes::kNone;
    };
    std::vector<TrackOutput> tracks_;
    // Encoded sound not yet handed to the muxer, in order (the sound
    // stream's time base), and where the picture handed to it so far ends
    // (decode time and duration, the picture stream's time base).
    std::deque<ffmpeg::PacketPtr> waitingSound_;
    int64_t pictureWritten_ = PacketTimes::kNone;
    bool pictureComplete_ = false;  // the finish: no picture comes any more
    bool loggedPacketTimes_ = false;
};

}  // namespace hollowkit::movie_writing
