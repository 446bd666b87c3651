#include "hollowkit/recording/ffmpeg_movie_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "hollowkit/base/cpu_count.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/recording/encoder_threads.h"
#include "hollowkit/recording/ffmpeg_movie_writer_impl.h"
#include "hollowkit/recording/x265_params.h"

namespace hollowkit {
namespace movie_writing {
namespace {

constexpr std::string_view kWriterThreadLabel = "HollowKit.MovieWriter";

struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

}  // namespace

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
    int rc = avformat_alloc_output_context2(&raw, nullptr, "mov", output_.name.c_str());
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
    tracks_.resize(format_->nb_streams);

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
        // every two-second stretch decodable on its own; SAO stays on so the
        // encoder frees all it took (x265_params.h).
        std::string params = "log-level=error:open-gop=0:" + std::string(kX265SaoParams);
        if (!settings.allowFrameReordering) params += ":bframes=0";
        params += ":pools=" + std::to_string(cpus);
        av_dict_set(&raw, "x265-params", params.c_str(), 0);
        // Libavcodec passes its thread count to x265 as the number of frames
        // coded at once (encoder_threads.h).
        c->thread_count = kHevcFrameThreads;
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
    // The folder must have been held: a path that could not be followed
    // when the writer was made fails here with its reason.
    if (!output_.folder.valid()) return unexpected(output_.folder.error().message());
    auto file = FragmentedMovieFile::open(output_);
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
        return isVideo ? pendingVideo_ >= options_.maxPendingVideoFrames : audioBacklogFull();
    };
    if (!options_.realTime) {
        lock.wait(changed_, [&]() HK_REQUIRES(mutex_) { return !acceptsLocked() || !full(); });
    }
    if (!acceptsLocked() || full()) return false;
    (isVideo ? pendingVideo_ : pendingAudio_) += 1;
    if (!isVideo) pendingAudioLength_ += item.audio.duration();
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
        const Duration soundLength = isVideo ? Duration{} : item.audio.duration();
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
        pendingAudioLength_ -= soundLength;
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

void FfmpegMovieWriter::releaseEncoders() {
    // What a movie's encoders freed goes back to the system here, or idle
    // memory would grow movie by movie (memory_settings.h).
    if (!videoCodec_ && !audioCodec_ && !staging_) return;
    videoCodec_.reset();
    audioCodec_.reset();
    scaler_.reset();
    resampler_.reset();
    audioFifo_.reset();
    staging_.reset();
    converted_.reset();
    packet_.reset();
    heldVideo_.clear();
    waitingSound_.clear();
    returnFreedMemory();
}

// An encoder learns its reordering delay from the frames it has been given,
// so no true decode time precedes the first frame by more than the frames
// given so far span.
int64_t FfmpegMovieWriter::earliestVideoDts() const {
    if (firstVideoTick_ == std::numeric_limits<int64_t>::min()) return AV_NOPTS_VALUE;
    return firstVideoTick_ - (lastVideoTick_ - firstVideoTick_);
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
        writePacket(packet.get(), videoStream_, videoCodec_->time_base, earliestVideoDts());
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
    releaseHeldPackets();
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
    releaseEncoders();
    MutexLock lock(mutex_);
    state_ = State::finished;
    changed_.notify_all();
    if (!error_.empty()) return unexpected(error_);
    return {};
}

}  // namespace movie_writing

std::unique_ptr<MovieWriter> makeFfmpegMovieWriter(const FileInFolder& output, FfmpegMovieWriterOptions options) {
    return std::make_unique<movie_writing::FfmpegMovieWriter>(output, std::move(options));
}

std::unique_ptr<MovieWriter> makeFfmpegMovieWriter(const std::filesystem::path& outputPath,
                                                   FfmpegMovieWriterOptions options) {
    return makeFfmpegMovieWriter(FileInFolder::hold(outputPath), std::move(options));
}

MovieWriterFactory ffmpegMovieWriterFactory(FfmpegMovieWriterOptions options) {
    return [options = std::move(options)](const FileInFolder& output) { return makeFfmpegMovieWriter(output, options); };
}

}  // namespace hollowkit
