#include "hollowkit/recording/ffmpeg_movie_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "hollowkit/base/cpu_count.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/recording/bgrx_to_nv12.h"
#include "hollowkit/recording/encoder_threads.h"
#include "hollowkit/recording/fragmented_movie_file.h"

namespace hollowkit {
namespace {

constexpr AVRational kNanoseconds{1, 1'000'000'000};
// Fine enough to keep any real frame times apart; QuickTime's usual scale.
constexpr AVRational kVideoTimeBase{1, 90000};
// Sound whose time stamp is this close to where the previous chunk ended
// continues it; capture clocks jitter by a few milliseconds.
constexpr double kAudioJitterSeconds = 0.04;
constexpr std::string_view kWriterThreadLabel = "HollowKit.MovieWriter";

struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

class FfmpegMovieWriter final : public MovieWriter {
public:
    FfmpegMovieWriter(std::filesystem::path path, FfmpegMovieWriterOptions options)
        : path_(std::move(path)), options_(std::move(options)) {}

    ~FfmpegMovieWriter() override {
        stopWorker();
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
               (!options_.realTime || pendingAudio_ < options_.maxPendingAudioChunks);
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
    void writePacket(AVPacket* packet, AVStream* stream, AVRational codecTimeBase);
    void flushAll(std::optional<TimePoint> endTime);

    const std::filesystem::path path_;
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
};

Result<void, std::string> FfmpegMovieWriter::start(const MovieWriterSettings& settings,
                                                   TimePoint sessionStart) {
    {
        MutexLock lock(mutex_);
        if (state_ != State::idle) return unexpected(std::string("The writer was already started"));
    }
    if (settings.width <= 0 || settings.height <= 0) {
        return unexpected(std::string("Invalid picture size"));
    }
    sessionStart_ = sessionStart;
    frameRate_ = settings.expectedFrameRate > 0 ? settings.expectedFrameRate : 30;

    AVFormatContext* raw = nullptr;
    int rc = avformat_alloc_output_context2(&raw, nullptr, "mov", path_.c_str());
    if (rc < 0 || raw == nullptr) return unexpected("QuickTime output: " + ffmpeg::errorString(rc));
    format_.reset(raw);

    if (auto video = openVideo(settings); !video) return video;
    if (settings.audio) {
        if (auto audio = openAudio(*settings.audio); !audio) return audio;
    }
    if (auto file = openFile(); !file) return file;

    AVDictionary* rawOptions = nullptr;
    FragmentedMovieFile::addMuxerOptions(&rawOptions);
    std::unique_ptr<AVDictionary, DictionaryDeleter> muxOptions(rawOptions);
    rc = avformat_write_header(format_.get(), &rawOptions);
    muxOptions.release();
    muxOptions.reset(rawOptions);
    if (rc < 0) return unexpected("Could not write the movie header: " + ffmpeg::errorString(rc));
    headerWritten_ = true;

    packet_ = ffmpeg::allocPacket();
    staging_ = ffmpeg::allocFrame();
    if (!packet_ || !staging_) return unexpected(std::string("Out of memory"));
    staging_->format = AV_PIX_FMT_YUV420P;
    staging_->width = videoCodec_->width;
    staging_->height = videoCodec_->height;
    if ((rc = av_frame_get_buffer(staging_.get(), 0)) < 0) {
        return unexpected("Out of memory: " + ffmpeg::errorString(rc));
    }

    {
        MutexLock lock(mutex_);
        state_ = State::writing;
    }
    worker_ = std::thread([this] { workerLoop(); });
    return {};
}

Result<void, std::string> FfmpegMovieWriter::openVideo(const MovieWriterSettings& settings) {
    const bool hevc = settings.codec == VideoCodec::hevc;
    const char* encoderName = hevc ? "libx265" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (codec == nullptr) return unexpected(std::string("The ") + encoderName + " encoder is missing");
    videoCodec_.reset(avcodec_alloc_context3(codec));
    if (!videoCodec_) return unexpected(std::string("Out of memory"));

    AVCodecContext* c = videoCodec_.get();
    // 4:2:0 needs even sides; an odd frame is fitted into the even picture.
    c->width = std::max(2, settings.width & ~1);
    c->height = std::max(2, settings.height & ~1);
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = kVideoTimeBase;
    c->framerate = AVRational{frameRate_, 1};
    c->bit_rate = settings.videoBitRate;
    // A key frame every two seconds keeps later editing and seeking cheap.
    c->gop_size = frameRate_ * 2;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // parameter sets in the sample description
    if (!settings.allowFrameReordering) c->max_b_frames = 0;

    const int cpus = options_.encoderThreads > 0 ? options_.encoderThreads : usableCpuCount();
    AVDictionary* raw = nullptr;
    av_dict_set(&raw, "preset", hevc ? options_.hevcPreset.c_str() : options_.h264Preset.c_str(), 0);
    if (hevc) {
        // x265 counts every CPU of the machine and pins its pool to them, so
        // it is told how many this process may really use. Closed GOPs keep
        // every two-second stretch decodable on its own.
        std::string params = "log-level=error:open-gop=0";
        if (!settings.allowFrameReordering) params += ":bframes=0";
        params += ":pools=" + std::to_string(cpus);
        av_dict_set(&raw, "x265-params", params.c_str(), 0);
        // Libavcodec passes its thread count to x265 as the number of frames
        // coded at once; its default of one leaves most of the pool idle.
        c->thread_count = hevcFrameThreads(cpus);
    } else {
        c->thread_count = cpus;
    }
    std::unique_ptr<AVDictionary, DictionaryDeleter> owned(raw);
    int rc = avcodec_open2(c, codec, &raw);
    owned.release();
    owned.reset(raw);
    if (rc < 0) return unexpected(std::string(encoderName) + ": " + ffmpeg::errorString(rc));

    videoStream_ = avformat_new_stream(format_.get(), nullptr);
    if (videoStream_ == nullptr) return unexpected(std::string("Out of memory"));
    if ((rc = avcodec_parameters_from_context(videoStream_->codecpar, c)) < 0) {
        return unexpected("Video track: " + ffmpeg::errorString(rc));
    }
    videoStream_->time_base = c->time_base;
    videoStream_->avg_frame_rate = c->framerate;
    videoStream_->codecpar->codec_tag =
        hevc ? MKTAG('h', 'v', 'c', '1') : MKTAG('a', 'v', 'c', '1');
    return {};
}

Result<void, std::string> FfmpegMovieWriter::openAudio(const MovieAudioSettings& audio) {
    if (audio.sampleRate <= 0 || audio.channels <= 0) {
        return unexpected(std::string("Invalid sound format"));
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) return unexpected(std::string("The AAC encoder is missing"));
    audioCodec_.reset(avcodec_alloc_context3(codec));
    if (!audioCodec_) return unexpected(std::string("Out of memory"));
    AVCodecContext* c = audioCodec_.get();

    // The source's rate when AAC allows it, else the nearest common one.
    int rate = 48000;
    for (const int* r = codec->supported_samplerates; r != nullptr && *r != 0; ++r) {
        if (*r == audio.sampleRate) rate = audio.sampleRate;
    }
    c->sample_rate = rate;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&c->ch_layout, std::clamp(audio.channels, 1, 2));
    c->bit_rate = audio.bitRate;
    c->time_base = AVRational{1, rate};
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0) return unexpected("AAC: " + ffmpeg::errorString(rc));

    audioStream_ = avformat_new_stream(format_.get(), nullptr);
    if (audioStream_ == nullptr) return unexpected(std::string("Out of memory"));
    if ((rc = avcodec_parameters_from_context(audioStream_->codecpar, c)) < 0) {
        return unexpected("Sound track: " + ffmpeg::errorString(rc));
    }
    audioStream_->time_base = c->time_base;
    audioFifo_.reset(av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, c->frame_size * 4));
    if (!audioFifo_) return unexpected(std::string("Out of memory"));
    return {};
}

Result<void, std::string> FfmpegMovieWriter::openFile() {
    auto file = FragmentedMovieFile::open(path_);
    if (!file) return unexpected(std::move(file).error());
    file_ = std::move(file.value());
    format_->pb = file_->io();
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    return {};
}

bool FfmpegMovieWriter::appendVideo(const VideoFrame& frame) {
    if (frame.isNull()) return false;
    return enqueue(Item{frame, {}}, true);
}

bool FfmpegMovieWriter::appendAudio(const AudioChunk& chunk) {
    if (chunk.isNull() || audioCodec_ == nullptr) return false;
    return enqueue(Item{{}, chunk}, false);
}

bool FfmpegMovieWriter::enqueue(Item item, bool isVideo) {
    MutexLock lock(mutex_);
    const auto full = [&]() HK_REQUIRES(mutex_) {
        return isVideo ? pendingVideo_ >= options_.maxPendingVideoFrames
                       : pendingAudio_ >= options_.maxPendingAudioChunks;
    };
    if (!options_.realTime) {
        lock.wait(changed_, [&]() HK_REQUIRES(mutex_) { return !acceptsLocked() || !full(); });
    }
    if (!acceptsLocked() || full()) return false;
    (isVideo ? pendingVideo_ : pendingAudio_) += 1;
    pending_.push_back(std::move(item));
    changed_.notify_all();
    return true;
}

// The first failure stops the writer. One while writing is also reported at
// once; one during finish is finish's own result.
void FfmpegMovieWriter::fail(std::string text) {
    std::string reported;
    {
        MutexLock lock(mutex_);
        if (!error_.empty()) return;
        error_ = std::move(text);
        changed_.notify_all();
        if (state_ != State::writing || finishRequested_ || !onFailure_) return;
        reported = error_;
    }
    PocketLog::logf("Movie writer failed: %s", reported.c_str());
    onFailure_(reported);
}

void FfmpegMovieWriter::workerLoop() {
    enterLibraryThread(kWriterThreadLabel);
    for (;;) {
        Item item;
        {
            MutexLock lock(mutex_);
            lock.wait(changed_, [&]() HK_REQUIRES(mutex_) { return !pending_.empty() || finishRequested_; });
            if (pending_.empty()) return;
            item = std::move(pending_.front());
            pending_.pop_front();
        }
        const bool isVideo = !item.video.isNull();
        if (!failed()) {
            if (isVideo) {
                if (options_.beforeVideoEncodeForTesting) options_.beforeVideoEncodeForTesting();
                encodeVideo(item.video);
            } else {
                encodeAudio(item.audio);
            }
        }
        // The sample is released before the slot, so the backlog bound is
        // also a bound on the frames this writer keeps alive.
        item = Item{};
        MutexLock lock(mutex_);
        (isVideo ? pendingVideo_ : pendingAudio_) -= 1;
        changed_.notify_all();
    }
}

void FfmpegMovieWriter::stopWorker() {
    {
        MutexLock lock(mutex_);
        finishRequested_ = true;
        changed_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
}

void FfmpegMovieWriter::encodeVideo(const VideoFrame& frame) {
    const int64_t tick = av_rescale_q((frame.pts() - sessionStart_).count(), kNanoseconds,
                                      kVideoTimeBase);
    // Frames before the movie's zero or out of order would break the track's
    // time line; the owner already drops them, this keeps the file valid.
    if (tick < 0 || tick <= lastVideoTick_) {
        if (!loggedVideoOrder_) {
            loggedVideoOrder_ = true;
            PocketLog::log("Movie writer skipped a frame that was not later than the one before");
        }
        return;
    }
    if (!convertInto(frame, staging_.get())) return;
    if (lastVideoTick_ != std::numeric_limits<int64_t>::min()) {
        lastInterval_ = tick - lastVideoTick_;
        videoDurations_[lastVideoTick_] = lastInterval_;
        releaseVideoPackets();
    }
    lastVideoTick_ = tick;
    staging_->pts = tick;
    sendVideo(staging_.get());
}

bool FfmpegMovieWriter::convertInto(const VideoFrame& frame, AVFrame* target) {
    int rc = av_frame_make_writable(target);
    if (rc < 0) {
        fail("Out of memory: " + ffmpeg::errorString(rc));
        return false;
    }
    if (frame.pixelFormat() == PixelFormat::bgra && frame.width() == target->width &&
        frame.height() == target->height && target->linesize[1] == target->linesize[2]) {
        // The colour look's frames. libswscale's RGB input path costs about
        // twice as much, and this thread feeds the encoder, so every
        // millisecond here is one the encoder waits.
        convertBgrxToI420(frame.planeData(0), frame.stride(0), frame.width(), frame.height(), target->data[0],
                          static_cast<size_t>(target->linesize[0]), target->data[1], target->data[2],
                          static_cast<size_t>(target->linesize[1]));
        return true;
    }
    const AVPixelFormat source =
        frame.pixelFormat() == PixelFormat::nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_BGRA;
    const int canvasWidth = target->width;
    const int canvasHeight = target->height;
    int width = canvasWidth;
    int height = canvasHeight;
    int x = 0;
    int y = 0;
    if (frame.width() != canvasWidth || frame.height() != canvasHeight) {
        // Fit the picture inside the track's size, keeping its aspect, on
        // black (a camera turned to portrait mid-recording).
        const double scale = std::min(static_cast<double>(canvasWidth) / frame.width(),
                                      static_cast<double>(canvasHeight) / frame.height());
        width = std::clamp(static_cast<int>(std::lround(frame.width() * scale)) & ~1, 2, canvasWidth);
        height = std::clamp(static_cast<int>(std::lround(frame.height() * scale)) & ~1, 2, canvasHeight);
        x = ((canvasWidth - width) / 2) & ~1;
        y = ((canvasHeight - height) / 2) & ~1;
        for (int row = 0; row < canvasHeight; ++row) {
            std::memset(target->data[0] + static_cast<ptrdiff_t>(row) * target->linesize[0], 16, canvasWidth);
        }
        for (int plane = 1; plane <= 2; ++plane) {
            for (int row = 0; row < (canvasHeight + 1) / 2; ++row) {
                std::memset(target->data[plane] + static_cast<ptrdiff_t>(row) * target->linesize[plane], 128,
                            (canvasWidth + 1) / 2);
            }
        }
    }
    SwsContext* scaler = sws_getCachedContext(scaler_.release(), frame.width(), frame.height(), source,
                                              width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                              nullptr, nullptr, nullptr);
    scaler_.reset(scaler);
    if (scaler == nullptr) {
        fail("Could not convert a frame of " + std::to_string(frame.width()) + "x" +
             std::to_string(frame.height()));
        return false;
    }
    if (source == AV_PIX_FMT_BGRA) {
        // BGRA is full-range RGB; the track is limited-range BT.709.
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    const uint8_t* sourcePlanes[4] = {frame.planeData(0), frame.planeData(1), nullptr, nullptr};
    const int sourceStrides[4] = {static_cast<int>(frame.stride(0)), static_cast<int>(frame.stride(1)), 0, 0};
    uint8_t* targetPlanes[4] = {
        target->data[0] + static_cast<ptrdiff_t>(y) * target->linesize[0] + x,
        target->data[1] + static_cast<ptrdiff_t>(y / 2) * target->linesize[1] + x / 2,
        target->data[2] + static_cast<ptrdiff_t>(y / 2) * target->linesize[2] + x / 2,
        nullptr,
    };
    const int targetStrides[4] = {target->linesize[0], target->linesize[1], target->linesize[2], 0};
    sws_scale(scaler, sourcePlanes, sourceStrides, 0, frame.height(), targetPlanes, targetStrides);
    return true;
}

void FfmpegMovieWriter::sendVideo(const AVFrame* frame) {
    int rc = avcodec_send_frame(videoCodec_.get(), frame);
    if (rc < 0 && rc != AVERROR_EOF) {
        fail("Video encoding failed: " + ffmpeg::errorString(rc));
        return;
    }
    for (;;) {
        ffmpeg::PacketPtr packet = ffmpeg::allocPacket();
        rc = avcodec_receive_packet(videoCodec_.get(), packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
        if (rc < 0) {
            fail("Video encoding failed: " + ffmpeg::errorString(rc));
            return;
        }
        heldVideo_.push_back(std::move(packet));
    }
    releaseVideoPackets();
}

// A packet is written once its frame's duration is known (when the next frame
// arrived, or at the finish), in the encoder's order, so the track's last
// frame lasts as long as it should and the end time can extend it.
void FfmpegMovieWriter::releaseVideoPackets() {
    while (!heldVideo_.empty()) {
        AVPacket* packet = heldVideo_.front().get();
        const auto known = videoDurations_.find(packet->pts);
        if (known == videoDurations_.end()) return;
        packet->duration = known->second;
        videoDurations_.erase(known);
        writePacket(packet, videoStream_, videoCodec_->time_base);
        heldVideo_.pop_front();
    }
}

void FfmpegMovieWriter::writePacket(AVPacket* packet, AVStream* stream, AVRational codecTimeBase) {
    if (failed()) return;
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet, codecTimeBase, stream->time_base);
    file_->noteWritten(*packet);
    const int rc = av_interleaved_write_frame(format_.get(), packet);
    if (rc < 0) fail("Could not write to the movie file: " + ffmpeg::errorString(rc));
}

bool FfmpegMovieWriter::ensureResampler(const AudioChunk& chunk) {
    if (resampler_ && resamplerFormat_ == chunk.sampleFormat() && resamplerRate_ == chunk.sampleRate() &&
        resamplerChannels_ == chunk.channels()) {
        return true;
    }
    resampler_.reset();
    AVChannelLayout input{};
    av_channel_layout_default(&input, chunk.channels());
    SwrContext* raw = nullptr;
    const AVSampleFormat inputFormat = chunk.sampleFormat() == SampleFormat::s16 ? AV_SAMPLE_FMT_S16
                                                                                : AV_SAMPLE_FMT_FLT;
    int rc = swr_alloc_set_opts2(&raw, &audioCodec_->ch_layout, audioCodec_->sample_fmt,
                                 audioCodec_->sample_rate, &input, inputFormat, chunk.sampleRate(), 0,
                                 nullptr);
    av_channel_layout_uninit(&input);
    resampler_.reset(raw);
    if (rc >= 0) rc = swr_init(raw);
    if (rc < 0) {
        resampler_.reset();
        if (!loggedAudioFormat_) {
            loggedAudioFormat_ = true;
            PocketLog::logf("Movie writer cannot convert sound of %d channels at %d Hz: %s",
                            chunk.channels(), chunk.sampleRate(), ffmpeg::errorString(rc).c_str());
        }
        return false;
    }
    resamplerFormat_ = chunk.sampleFormat();
    resamplerRate_ = chunk.sampleRate();
    resamplerChannels_ = chunk.channels();
    return true;
}

void FfmpegMovieWriter::encodeAudio(const AudioChunk& chunk) {
    if (!ensureResampler(chunk)) return;
    const int rate = audioCodec_->sample_rate;
    const int frames = static_cast<int>(chunk.frameCount());
    const int capacity = swr_get_out_samples(resampler_.get(), frames);
    if (capacity <= 0) return;
    if (!converted_ || converted_->nb_samples < capacity) {
        converted_ = ffmpeg::allocFrame();
        converted_->format = audioCodec_->sample_fmt;
        converted_->nb_samples = capacity;
        av_channel_layout_copy(&converted_->ch_layout, &audioCodec_->ch_layout);
        if (av_frame_get_buffer(converted_.get(), 0) < 0) {
            converted_.reset();
            fail("Out of memory");
            return;
        }
    }
    const uint8_t* input[1] = {chunk.sampleFormat() == SampleFormat::s16
                                   ? reinterpret_cast<const uint8_t*>(chunk.s16().data())
                                   : reinterpret_cast<const uint8_t*>(chunk.f32().data())};
    const int produced = swr_convert(resampler_.get(), converted_->data, capacity, input, frames);
    if (produced <= 0) return;

    const int64_t start = av_rescale_q((chunk.pts() - sessionStart_).count(), kNanoseconds,
                                       AVRational{1, rate});
    const auto jitter = static_cast<int64_t>(kAudioJitterSeconds * rate);
    int skip = 0;
    if (!audioStarted_) {
        // Sound from before the movie's zero is cut off.
        if (start + produced <= 0) return;
        skip = start < 0 ? static_cast<int>(-start) : 0;
        audioStarted_ = true;
        audioNextPosition_ = std::max<int64_t>(start, 0);
    } else {
        const int64_t gap = start - audioNextPosition_;
        if (gap < -jitter) {
            // Sound that overlaps what was written already (a clock step
            // back, a repeated buffer) would garble the track.
            if (!loggedAudioOverlap_) {
                loggedAudioOverlap_ = true;
                PocketLog::logf("Movie writer dropped sound that overlapped the previous %.3f s",
                                static_cast<double>(-gap) / rate);
            }
            return;
        }
        if (gap > jitter) writeSilence(gap);  // a gap in the source stays a gap in time
    }
    writeAudioSamples(converted_->data, skip, produced - skip);
    drainAudioFifo(false);
}

void FfmpegMovieWriter::writeAudioSamples(uint8_t* const* planes, int offset, int count) {
    int64_t limit;
    {
        MutexLock lock(mutex_);
        limit = audioEndLimit_;
    }
    count = static_cast<int>(std::min<int64_t>(count, std::max<int64_t>(0, limit - audioNextPosition_)));
    if (count <= 0) return;
    const int channels = audioCodec_->ch_layout.nb_channels;
    std::vector<void*> shifted(static_cast<size_t>(channels));
    for (int ch = 0; ch < channels; ++ch) {
        shifted[static_cast<size_t>(ch)] = planes[ch] + static_cast<ptrdiff_t>(offset) * sizeof(float);
    }
    if (av_audio_fifo_write(audioFifo_.get(), shifted.data(), count) < count) {
        fail("Out of memory");
        return;
    }
    audioNextPosition_ += count;
}

void FfmpegMovieWriter::writeSilence(int64_t count) {
    const int channels = audioCodec_->ch_layout.nb_channels;
    constexpr int kBlock = 4096;
    std::vector<float> zeros(kBlock, 0.0f);
    std::vector<uint8_t*> planes(static_cast<size_t>(channels), reinterpret_cast<uint8_t*>(zeros.data()));
    while (count > 0 && !failed()) {
        const int block = static_cast<int>(std::min<int64_t>(count, kBlock));
        const int64_t before = audioNextPosition_;
        writeAudioSamples(planes.data(), 0, block);
        if (audioNextPosition_ == before) return;  // past the end limit
        count -= block;
        drainAudioFifo(false);
    }
}

void FfmpegMovieWriter::drainAudioFifo(bool final) {
    const int frameSize = audioCodec_->frame_size > 0 ? audioCodec_->frame_size : 1024;
    while (!failed()) {
        const int available = av_audio_fifo_size(audioFifo_.get());
        if (available == 0 || (available < frameSize && !final)) return;
        const int count = std::min(available, frameSize);
        ffmpeg::FramePtr frame = ffmpeg::allocFrame();
        frame->format = audioCodec_->sample_fmt;
        frame->nb_samples = count;
        frame->sample_rate = audioCodec_->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &audioCodec_->ch_layout);
        if (av_frame_get_buffer(frame.get(), 0) < 0) {
            fail("Out of memory");
            return;
        }
        frame->pts = audioNextPosition_ - available;
        av_audio_fifo_read(audioFifo_.get(), reinterpret_cast<void**>(frame->data), count);
        sendAudio(frame.get());
    }
}

void FfmpegMovieWriter::sendAudio(const AVFrame* frame) {
    int rc = avcodec_send_frame(audioCodec_.get(), frame);
    if (rc < 0 && rc != AVERROR_EOF) {
        fail("Sound encoding failed: " + ffmpeg::errorString(rc));
        return;
    }
    for (;;) {
        rc = avcodec_receive_packet(audioCodec_.get(), packet_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
        if (rc < 0) {
            fail("Sound encoding failed: " + ffmpeg::errorString(rc));
            return;
        }
        writePacket(packet_.get(), audioStream_, audioCodec_->time_base);
        av_packet_unref(packet_.get());
    }
}

void FfmpegMovieWriter::flushAll(std::optional<TimePoint> endTime) {
    if (lastVideoTick_ != std::numeric_limits<int64_t>::min()) {
        int64_t last = lastInterval_ > 0 ? lastInterval_ : kVideoTimeBase.den / frameRate_;
        if (endTime) {
            const int64_t endTick = av_rescale_q((*endTime - sessionStart_).count(), kNanoseconds,
                                                 kVideoTimeBase);
            if (endTick > lastVideoTick_) last = endTick - lastVideoTick_;
        }
        videoDurations_[lastVideoTick_] = last;
    }
    sendVideo(nullptr);
    // Anything still held has no known duration; write it as it is.
    for (auto& packet : heldVideo_) {
        if (packet->duration <= 0) packet->duration = lastInterval_;
        writePacket(packet.get(), videoStream_, videoCodec_->time_base);
    }
    heldVideo_.clear();
    if (audioCodec_) {
        if (resampler_) {
            // The resampler's tail.
            const int capacity = swr_get_out_samples(resampler_.get(), 0);
            if (capacity > 0 && converted_ && converted_->nb_samples >= capacity) {
                const int produced = swr_convert(resampler_.get(), converted_->data, capacity, nullptr, 0);
                if (produced > 0 && audioStarted_) writeAudioSamples(converted_->data, 0, produced);
            }
        }
        drainAudioFifo(true);
        sendAudio(nullptr);
    }
}

Result<void, std::string> FfmpegMovieWriter::finish(std::optional<TimePoint> endTime) {
    {
        MutexLock lock(mutex_);
        if (state_ != State::writing) return unexpected(std::string("The writer is not writing"));
        if (endTime && audioCodec_) {
            audioEndLimit_ = av_rescale_q((*endTime - sessionStart_).count(), kNanoseconds,
                                          AVRational{1, audioCodec_->sample_rate});
        }
    }
    // The worker encodes the backlog first, then stops.
    stopWorker();
    if (!failed()) flushAll(endTime);
    // Even after a failure the trailer is tried: an encoder error leaves a
    // file whose index can still make it playable up to that point.
    if (headerWritten_) {
        const int rc = av_write_trailer(format_.get());
        if (rc < 0) fail("Could not complete the movie file: " + ffmpeg::errorString(rc));
    }
    if (file_) {
        if (auto completed = file_->complete(*format_); !completed) fail(std::move(completed).error());
        format_->pb = nullptr;
    }
    MutexLock lock(mutex_);
    state_ = State::finished;
    changed_.notify_all();
    if (!error_.empty()) return unexpected(error_);
    return {};
}

}  // namespace

std::unique_ptr<MovieWriter> makeFfmpegMovieWriter(const std::filesystem::path& outputPath,
                                                   FfmpegMovieWriterOptions options) {
    return std::make_unique<FfmpegMovieWriter>(outputPath, std::move(options));
}

MovieWriterFactory ffmpegMovieWriterFactory(FfmpegMovieWriterOptions options) {
    return [options = std::move(options)](const std::filesystem::path& outputPath) {
        return makeFfmpegMovieWriter(outputPath, options);
    };
}

}  // namespace hollowkit
