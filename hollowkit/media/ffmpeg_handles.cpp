#include "hollowkit/media/ffmpeg_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace hollowkit::ffmpeg {

void CodecContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}

void FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

void PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

void FormatContextDeleter::operator()(AVFormatContext* context) const {
    if (context == nullptr) return;
    if (context->iformat != nullptr) {
        avformat_close_input(&context);
        return;
    }
    const bool ownsIo = context->oformat != nullptr &&
                        (context->oformat->flags & AVFMT_NOFILE) == 0 &&
                        (context->flags & AVFMT_FLAG_CUSTOM_IO) == 0;
    if (ownsIo && context->pb != nullptr) avio_closep(&context->pb);
    avformat_free_context(context);
}

void AudioFifoDeleter::operator()(AVAudioFifo* fifo) const {
    av_audio_fifo_free(fifo);
}

void SwsContextDeleter::operator()(SwsContext* context) const {
    sws_freeContext(context);
}

void SwrContextDeleter::operator()(SwrContext* context) const {
    swr_free(&context);
}

FramePtr allocFrame() {
    return FramePtr(av_frame_alloc());
}

PacketPtr allocPacket() {
    return PacketPtr(av_packet_alloc());
}

std::string errorString(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(averror, text, sizeof text) < 0) {
        return "error " + std::to_string(averror);
    }
    return text;
}

}  // namespace hollowkit::ffmpeg
