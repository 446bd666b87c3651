#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "hollowkit/base/cpu_count.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/media/ffmpeg_handles.h"
#include "hollowkit/media/pixel_buffer_pool.h"

namespace hollowkit {

namespace {

constexpr int kLoggedFailures = 3;
constexpr int kMaxThreads = 8;
constexpr size_t kRowAlignment = 64;

struct BufferPoolDeleter {
    // The pool itself goes once the last buffer taken from it is back.
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};

// What a wrapped picture keeps alive: the decoder's frame (its luma plane)
// and the interleaved chroma buffer.
struct WrappedPicture {
    AVFrame* frame = nullptr;
    AVBufferRef* chroma = nullptr;

    WrappedPicture() = default;
    WrappedPicture(const WrappedPicture&) = delete;
    WrappedPicture& operator=(const WrappedPicture&) = delete;
    ~WrappedPicture() {
        av_frame_free(&frame);
        av_buffer_unref(&chroma);
    }
};

// Cb and Cr rows into one Cb Cr row.
void interleaveRow(const uint8_t* cb, const uint8_t* cr, uint8_t* out, int count) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= count; x += 16) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x));
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x), _mm_unpacklo_epi8(u, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x + 16), _mm_unpackhi_epi8(u, v));
    }
#endif
    for (; x < count; ++x) {
        out[2 * x] = cb[x];
        out[2 * x + 1] = cr[x];
    }
}

// The CPUs this process may run on, not the machine's: pinned to two of
// sixteen, eight slice threads would only take turns.
int defaultThreads() {
    return std::clamp(usableCpuCount(), 1, kMaxThreads);
}

}  // namespace

struct FfmpegHevcDecoder::Session {
    ffmpeg::CodecContextPtr context;
    ffmpeg::PacketPtr packet;
    ffmpeg::FramePtr frame;
    std::unique_ptr<AVBufferPool, BufferPoolDeleter> chromaPool;
    size_t chromaPoolBytes = 0;
    ffmpeg::SwsContextPtr converter;
    std::unique_ptr<PixelBufferPool> converted;  // pictures from `convert`, reused

    VideoFrame wrap(AVFrame* f, TimePoint pts);
    VideoFrame convert(AVFrame* f, TimePoint pts);
};

// Planar 4:2:0 (what the software decoder gives for 8-bit streams): the luma
// plane is shared as it is, the chroma planes interleaved once.
VideoFrame FfmpegHevcDecoder::Session::wrap(AVFrame* f, TimePoint pts) {
    const int chromaWidth = (f->width + 1) / 2;
    const int chromaRows = (f->height + 1) / 2;
    const size_t stride = (static_cast<size_t>(chromaWidth) * 2 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    const size_t bytes = stride * static_cast<size_t>(chromaRows);
    if (!chromaPool || chromaPoolBytes != bytes) {
        chromaPool.reset(av_buffer_pool_init(bytes, av_buffer_alloc));
        chromaPoolBytes = bytes;
    }
    auto owner = std::make_shared<WrappedPicture>();
    owner->chroma = chromaPool ? av_buffer_pool_get(chromaPool.get()) : nullptr;
    owner->frame = av_frame_clone(f);
    if (owner->chroma == nullptr || owner->frame == nullptr) {
        return {};
    }
    uint8_t* chroma = owner->chroma->data;
    for (int y = 0; y < chromaRows; ++y) {
        interleaveRow(f->data[1] + static_cast<ptrdiff_t>(y) * f->linesize[1],
                      f->data[2] + static_cast<ptrdiff_t>(y) * f->linesize[2], chroma + y * stride, chromaWidth);
    }
    const std::array<PlaneView, 2> planes{PlaneView{f->data[0], static_cast<size_t>(f->linesize[0])},
                                          PlaneView{chroma, stride}};
    return VideoFrame::wrap(PixelFormat::nv12, f->width, f->height, planes, pts, std::move(owner));
}

// Any other layout (10-bit, 4:2:2 ...) is converted to NV12 in one pass.
VideoFrame FfmpegHevcDecoder::Session::convert(AVFrame* f, TimePoint pts) {
    // Recycled pictures: a new one per frame would be mapped and zeroed anew
    // each time (memory_settings.h).
    WritableVideoFrame out = acquireSized(converted, PixelFormat::nv12, f->width, f->height, 2);
    if (!out) {
        return {};
    }
    converter.reset(sws_getCachedContext(converter.release(), f->width, f->height,
                                         static_cast<AVPixelFormat>(f->format), f->width, f->height,
                                         AV_PIX_FMT_NV12, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!converter) {
        return {};
    }
    uint8_t* dst[4] = {out.planeData(0), out.planeData(1), nullptr, nullptr};
    const int dstStride[4] = {static_cast<int>(out.stride(0)), static_cast<int>(out.stride(1)), 0, 0};
    sws_scale(converter.get(), f->data, f->linesize, 0, f->height, dst, dstStride);
    return std::move(out).freeze(pts);
}

FfmpegHevcDecoder::FfmpegHevcDecoder(const Clock& clock, FfmpegHevcDecoderOptions options)
    : clock_(clock), options_(options) {}

FfmpegHevcDecoder::~FfmpegHevcDecoder() = default;

void FfmpegHevcDecoder::decode(const HevcSample& sample) {
    if (!sample.format) {
        ++counts_.droppedNoDecoder;
        return;
    }
    const HevcFormat& next = *sample.format;
    const bool sameFormat = format_ == sample.format || (format_ && *format_ == next);
    const bool newSequence = !format_ || format_->vps != next.vps || format_->sps != next.sps;
    if (!session_ || (!sameFormat && newSequence)) {
        if (!makeSession(sample.format)) {
            ++counts_.droppedNoDecoder;
            return;
        }
    }
    if (awaitingRandomAccess_ && !sample.randomAccess) {
        ++counts_.skippedBeforeRandomAccess;
        return;
    }
    awaitingRandomAccess_ = false;
    // A random-access picture refers to nothing before it: it mends the
    // chain. Any other picture after a loss may refer to what was lost.
    if (sample.randomAccess) {
        chainBroken_ = false;
    } else if (sample.afterLoss) {
        chainBroken_ = true;
    }
    const std::optional<int32_t> orderCount = order_.take(sample);
    if (sample.randomAccess) {
        order_.beginSequence(picturesSent_);
    } else if (chainBroken_ && orderCount && order_.outOfSequence(*orderCount)) {
        drainAndRestart();
        if (!session_) {
            return;
        }
    }

    ByteView data = sample.annexB;
    if (format_ != sample.format && !(*format_ == next)) {
        // Only the picture parameter set changed: the running session takes
        // it in-band, ahead of the picture that uses it.
        packetBytes_.assign({0, 0, 0, 1});
        packetBytes_.insert(packetBytes_.end(), next.pps.begin(), next.pps.end());
        packetBytes_.insert(packetBytes_.end(), data.begin(), data.end());
        data = packetBytes_;
    }
    format_ = sample.format;

    AVPacket* packet = session_->packet.get();
    // Not reference-counted: libavcodec copies the bytes (with its padding)
    // before this call returns.
    packet->data = const_cast<uint8_t*>(data.data());
    packet->size = static_cast<int>(data.size());
    packet->pts = picturesSent_;
    concealedMarks_[static_cast<size_t>(picturesSent_) % kTrackedPictures] = chainBroken_;
    order_.sent(picturesSent_, orderCount);
    ++picturesSent_;
    const int status = avcodec_send_packet(session_->context.get(), packet);
    packet->data = nullptr;
    packet->size = 0;
    if (status < 0) {
        fail(status);
        return;
    }
    receiveFrames();
}

void FfmpegHevcDecoder::receiveFrames() {
    while (session_) {
        AVFrame* frame = session_->frame.get();
        const int status = avcodec_receive_frame(session_->context.get(), frame);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return;
        }
        if (status < 0) {
            fail(status);
            return;
        }
        const TimePoint pts = clock_.now();
        const auto format = static_cast<AVPixelFormat>(frame->format);
        const int64_t sent = frame->pts;
        VideoFrame picture = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P
                                 ? session_->wrap(frame, pts)
                                 : session_->convert(frame, pts);
        av_frame_unref(frame);
        if (picture.isNull()) {
            ++counts_.droppedUnconverted;
            continue;
        }
        ++counts_.shown;
        order_.shown(sent);
        const bool tracked = sent >= 0 && sent < picturesSent_ &&
                             picturesSent_ - sent <= static_cast<int64_t>(kTrackedPictures);
        if (tracked && concealedMarks_[static_cast<size_t>(sent) % kTrackedPictures]) {
            ++counts_.concealed;
        }
        emitFrame(picture);
    }
}

// The held pictures are whole ones of the old sequence: shown, in their
// order, before anything of the new one. The emptied decoder then decodes
// the new sequence's pictures with stand-ins for what they refer to.
void FfmpegHevcDecoder::drainAndRestart() {
    ++counts_.sequencesWithoutRandomAccess;
    AVCodecContext* context = session_->context.get();
    const int status = avcodec_send_packet(context, nullptr);
    if (status < 0 && status != AVERROR_EOF) {
        fail(status);
    } else {
        receiveFrames();
    }
    if (session_) {
        avcodec_flush_buffers(session_->context.get());
    }
    order_.beginSequence(picturesSent_);
}

// A picture that does not decode is lost alone: the pictures after it go on,
// and where one of them refers to it the decoder stands in a grey picture
// until the next random-access picture clears the damage (a live view that
// stops for every error would freeze on any bad link). An error other than
// bad data means the session itself is unusable; the next sample makes a
// new one, which starts at a random-access picture.
void FfmpegHevcDecoder::fail(int status) {
    if (loggedFailures_ < kLoggedFailures) {
        ++loggedFailures_;
        PocketLog::logf("HEVC decode error %d", status);
    }
    if (status == AVERROR_INVALIDDATA) {
        ++counts_.refusedBadData;
        chainBroken_ = true;
        return;
    }
    ++counts_.refusedDecoderError;
    session_.reset();
    format_.reset();
}

bool FfmpegHevcDecoder::makeSession(const std::shared_ptr<const HevcFormat>& format) {
    session_.reset();
    format_.reset();
    awaitingRandomAccess_ = true;
    chainBroken_ = false;

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    auto session = std::make_unique<Session>();
    if (codec != nullptr) {
        session->context.reset(avcodec_alloc_context3(codec));
    }
    session->packet.reset(av_packet_alloc());
    session->frame.reset(av_frame_alloc());
    int status = AVERROR(ENOMEM);
    if (codec == nullptr) {
        status = AVERROR_DECODER_NOT_FOUND;
    } else if (session->context && session->packet && session->frame) {
        AVCodecContext* c = session->context.get();
        // Pictures leave the decoder as soon as the stream's own reordering
        // allows: at once without B pictures, in display order with them.
        // No frame threads, each of which would add a picture of delay, and
        // no low-delay flag: a stream with B pictures needs its reordering,
        // and without them there is none to skip.
        c->thread_type = FF_THREAD_SLICE;
        // A picture whose own bytes do not parse is refused whole (an
        // error, counted) rather than shown half decoded. This does not
        // refuse a picture whose reference is missing: libavcodec's HEVC
        // decoder stands a grey picture in for it either way, and the
        // picture is shown (counted as concealed).
        c->err_recognition |= AV_EF_EXPLODE;
        c->thread_count = options_.threads > 0 ? options_.threads : defaultThreads();
        const Bytes parameterSets = format->annexB();
        c->extradata = static_cast<uint8_t*>(av_mallocz(parameterSets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (c->extradata != nullptr) {
            std::memcpy(c->extradata, parameterSets.data(), parameterSets.size());
            c->extradata_size = static_cast<int>(parameterSets.size());
            status = avcodec_open2(c, codec, nullptr);
        }
    }
    if (status < 0) {
        PocketLog::logf("HEVC decoder creation failed %d", status);
        return false;
    }
    session_ = std::move(session);
    format_ = format;
    ++sessionsMade_;
    PocketLog::logf("HEVC software decoder ready (%dx%d, %d threads)", format->width(), format->height(),
                    session_->context->thread_count);
    return true;
}

}  // namespace hollowkit
