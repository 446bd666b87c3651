// FfmpegMovieWriter: the sound. Chunks are resampled to the track's format,
// placed at their time from the movie's zero, and encoded in the encoder's
// frame size.

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/recording/ffmpeg_movie_writer_impl.h"

namespace hollowkit::movie_writing {
namespace {

// Sound whose time stamp is this close to where the previous chunk ended
// continues it; capture clocks jitter by a few milliseconds.
constexpr double kAudioJitterSeconds = 0.04;

}  // namespace

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

}  // namespace hollowkit::movie_writing
