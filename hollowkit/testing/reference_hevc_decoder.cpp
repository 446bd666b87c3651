#include "hollowkit/testing/reference_hevc_decoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "hollowkit/media/ffmpeg_handles.h"

namespace hollowkit {

struct ReferenceHevcDecoder::Codec {
    ffmpeg::CodecContextPtr context;
    ffmpeg::PacketPtr packet;
    ffmpeg::FramePtr frame;  // scratch for receive_frame
    ffmpeg::FramePtr last;   // the newest picture
    bool hasLast = false;
};

Result<std::unique_ptr<ReferenceHevcDecoder>, std::string> ReferenceHevcDecoder::create(int threads) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    if (codec == nullptr) {
        return unexpected(std::string("this FFmpeg has no HEVC decoder"));
    }
    auto c = std::make_unique<Codec>();
    c->context.reset(avcodec_alloc_context3(codec));
    c->packet.reset(av_packet_alloc());
    c->frame.reset(av_frame_alloc());
    c->last.reset(av_frame_alloc());
    if (!c->context || !c->packet || !c->frame || !c->last) {
        return unexpected(std::string("out of memory"));
    }
    c->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    c->context->thread_count = threads < 1 ? 1 : threads;
    c->context->thread_type = FF_THREAD_SLICE;
    if (avcodec_open2(c->context.get(), codec, nullptr) < 0) {
        return unexpected(std::string("HEVC decoder did not open"));
    }
    return std::unique_ptr<ReferenceHevcDecoder>(new ReferenceHevcDecoder(std::move(c)));
}

ReferenceHevcDecoder::ReferenceHevcDecoder(std::unique_ptr<Codec> codec) : codec_(std::move(codec)) {}

ReferenceHevcDecoder::~ReferenceHevcDecoder() = default;

int ReferenceHevcDecoder::decode(ByteView accessUnit) {
    AVPacket* p = codec_->packet.get();
    // The packet only borrows the bytes: send_packet copies what it keeps
    // when the packet is not reference-counted.
    p->data = const_cast<uint8_t*>(accessUnit.data());
    p->size = static_cast<int>(accessUnit.size());
    const int sent = avcodec_send_packet(codec_->context.get(), p);
    p->data = nullptr;
    p->size = 0;
    if (sent < 0) {
        ++errors_;
    }
    int pictures = 0;
    for (;;) {
        const int rc = avcodec_receive_frame(codec_->context.get(), codec_->frame.get());
        if (rc < 0) {
            if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
                ++errors_;
            }
            break;
        }
        ++pictures;
        av_frame_unref(codec_->last.get());
        av_frame_move_ref(codec_->last.get(), codec_->frame.get());
        codec_->hasLast = true;
    }
    return pictures;
}

VideoFrame ReferenceHevcDecoder::lastFrame() const {
    const AVFrame* f = codec_->last.get();
    if (!codec_->hasLast || f->format != AV_PIX_FMT_YUV420P) {
        return {};
    }
    WritableVideoFrame out = WritableVideoFrame::allocate(PixelFormat::nv12, f->width, f->height);
    if (!out) {
        return {};
    }
    for (int y = 0; y < f->height; ++y) {
        const auto row = out.row(0, y);
        std::copy_n(f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0], row.size(), row.begin());
    }
    const int chromaRows = (f->height + 1) / 2;
    const int chromaWidth = (f->width + 1) / 2;
    for (int y = 0; y < chromaRows; ++y) {
        const uint8_t* u = f->data[1] + static_cast<ptrdiff_t>(y) * f->linesize[1];
        const uint8_t* v = f->data[2] + static_cast<ptrdiff_t>(y) * f->linesize[2];
        uint8_t* row = out.row(1, y).data();
        for (int x = 0; x < chromaWidth; ++x) {
            row[2 * x] = u[x];
            row[2 * x + 1] = v[x];
        }
    }
    return std::move(out).freeze({});
}

}  // namespace hollowkit
