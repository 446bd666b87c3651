#pragma once

// A recording muxed straight into a FragmentedMovieFile, as the FFmpeg
// writer does it, from packets of chosen sizes instead of an encoder's: a
// picture track and a sound track whose packets hold no real media. Each
// packet goes to the file in the writer's order (noted, muxed, noted as
// muxed), so where the file's fragments end is exact and repeatable. Single
// threaded, so it may also run in a forked child.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/recording/fragmented_movie_file.h"

namespace hollowkit::testsupport {

class SyntheticRecording {
public:
    static constexpr int kVideo = 0;
    static constexpr int kAudio = 1;
    static constexpr int kTicksPerFrame = 3000;  // 1/30 s at 90 kHz
    static constexpr int kSamplesPerChunk = 1600;

    // Opens the file and writes the header; ok() says whether both worked.
    explicit SyntheticRecording(const std::filesystem::path& path) {
        auto file = FragmentedMovieFile::open(path);
        if (!file) {
            error_ = file.error();
            return;
        }
        file_ = std::move(file.value());
        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "mov", nullptr) < 0) return;
        format_.reset(raw);
        AVStream* video = avformat_new_stream(raw, nullptr);
        AVStream* audio = avformat_new_stream(raw, nullptr);
        if (video == nullptr || audio == nullptr) return;
        video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
        video->codecpar->codec_id = AV_CODEC_ID_MJPEG;
        video->codecpar->width = 64;
        video->codecpar->height = 64;
        video->time_base = AVRational{1, 90000};
        audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        audio->codecpar->sample_rate = 48000;
        av_channel_layout_default(&audio->codecpar->ch_layout, 1);
        audio->time_base = AVRational{1, 48000};
        raw->pb = file_->io();
        raw->flags |= AVFMT_FLAG_CUSTOM_IO;
        AVDictionary* options = nullptr;
        FragmentedMovieFile::addMuxerOptions(&options);
        const int rc = avformat_write_header(raw, &options);
        av_dict_free(&options);
        headerWritten_ = rc >= 0;
    }
    ~SyntheticRecording() {
        if (format_) format_->pb = nullptr;
    }
    SyntheticRecording(const SyntheticRecording&) = delete;
    SyntheticRecording& operator=(const SyntheticRecording&) = delete;

    bool ok() const { return headerWritten_; }
    const std::string& error() const { return error_; }

    // Picture `index` (a key frame when asked) or sound chunk `index`, of
    // `bytes` bytes. False when the muxer refused it.
    bool picture(int index, bool key, int bytes) {
        return write(kVideo, int64_t{index} * kTicksPerFrame, kTicksPerFrame, key, bytes);
    }
    bool sound(int index, int bytes = kSamplesPerChunk * 2) {
        return write(kAudio, int64_t{index} * kSamplesPerChunk, kSamplesPerChunk, true, bytes);
    }

    // The trailer, then the file's completion.
    Result<void, std::string> complete() {
        av_write_trailer(format_.get());
        auto completed = file_->complete(*format_);
        format_->pb = nullptr;
        return completed;
    }

private:
    bool write(int stream, int64_t time, int64_t duration, bool key, int bytes) {
        ffmpeg::PacketPtr packet = ffmpeg::allocPacket();
        if (!packet || av_new_packet(packet.get(), bytes) < 0) return false;
        for (int i = 0; i < bytes; ++i) packet->data[i] = static_cast<uint8_t>(i * 7 + time);
        packet->stream_index = stream;
        packet->pts = time;
        packet->dts = time;
        packet->duration = duration;
        packet->flags = key ? AV_PKT_FLAG_KEY : 0;
        file_->noteWritten(*packet);
        const int rc = av_interleaved_write_frame(format_.get(), packet.get());
        const bool kept = file_->noteMuxed(*format_).has_value();
        return rc >= 0 && kept;
    }

    std::unique_ptr<FragmentedMovieFile> file_;  // outlives format_, which writes through it
    ffmpeg::FormatContextPtr format_;
    bool headerWritten_ = false;
    std::string error_;
};

}  // namespace hollowkit::testsupport
