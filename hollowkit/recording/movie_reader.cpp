#include "hollowkit/recording/movie_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "hollowkit/media/ffmpeg_handles.h"

namespace hollowkit {

namespace {

// Used for the last picture when neither the packet nor the track says how
// long a picture lasts.
constexpr double kFallbackFrameSeconds = 1.0 / 30.0;

struct SharedFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

double seconds(int64_t ticks, AVRational timeBase) {
    return static_cast<double>(ticks) * av_q2d(timeBase);
}

}  // namespace

struct MovieReader::Impl {
    struct Slot {
        ffmpeg::FramePtr frame;
        double time = 0;
        double duration = 0;
        bool valid = false;
    };

    ffmpeg::FormatContextPtr format;
    ffmpeg::CodecContextPtr codec;
    ffmpeg::PacketPtr packet;
    ffmpeg::SwsContextPtr converter;
    int streamIndex = -1;
    AVRational timeBase{1, 1};
    double durationSeconds = 0;
    double frameSeconds = kFallbackFrameSeconds;
    int width = 0;
    int height = 0;

    bool primed = false;
    bool inputEnded = false;
    bool decoderDrained = false;
    bool failed = false;
    std::string error;
    Slot current;
    Slot next;
    DecodedPicture picture;

    void fail(std::string text) {
        if (error.empty()) error = std::move(text);
        failed = true;
        next.valid = false;
    }

    // The next picture in display order into `slot`; invalid at the end.
    void decodeNext(Slot& slot);
    // Brings a decoded frame into 4:2:0 planes when it is in another format.
    ffmpeg::FramePtr toYuv420(ffmpeg::FramePtr frame);
    void publish();
};

void MovieReader::Impl::decodeNext(Slot& slot) {
    slot.valid = false;
    if (failed || !codec) return;
    ffmpeg::FramePtr frame = ffmpeg::allocFrame();
    if (!frame) return fail("Out of memory");
    for (;;) {
        int rc = avcodec_receive_frame(codec.get(), frame.get());
        if (rc == 0) {
            const int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE) {
                av_frame_unref(frame.get());
                continue;  // a picture with no time cannot be placed
            }
            slot.time = seconds(pts, timeBase);
            slot.duration = frame->pkt_duration > 0 ? seconds(frame->pkt_duration, timeBase) : frameSeconds;
            slot.frame = toYuv420(std::move(frame));
            slot.valid = slot.frame != nullptr;
            return;
        }
        if (rc == AVERROR_EOF) {
            decoderDrained = true;
            return;
        }
        if (rc != AVERROR(EAGAIN)) return fail("The video could not be decoded: " + ffmpeg::errorString(rc));
        if (inputEnded) {
            // Everything is sent; the decoder gives up what it holds.
            avcodec_send_packet(codec.get(), nullptr);
            continue;
        }
        rc = av_read_frame(format.get(), packet.get());
        if (rc == AVERROR_EOF) {
            inputEnded = true;
            avcodec_send_packet(codec.get(), nullptr);
            continue;
        }
        if (rc < 0) return fail("The movie could not be read: " + ffmpeg::errorString(rc));
        if (packet->stream_index == streamIndex) {
            rc = avcodec_send_packet(codec.get(), packet.get());
            // A damaged packet costs its picture, as in any player; other
            // failures end the pictures.
            if (rc < 0 && rc != AVERROR_INVALIDDATA && rc != AVERROR(EAGAIN)) {
                av_packet_unref(packet.get());
                return fail("The video could not be decoded: " + ffmpeg::errorString(rc));
            }
        }
        av_packet_unref(packet.get());
    }
}

ffmpeg::FramePtr MovieReader::Impl::toYuv420(ffmpeg::FramePtr frame) {
    if (frame->format == AV_PIX_FMT_YUV420P && frame->width == width && frame->height == height) return frame;
    SwsContext* raw = sws_getCachedContext(converter.release(), frame->width, frame->height,
                                           static_cast<AVPixelFormat>(frame->format), width, height,
                                           AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    converter.reset(raw);
    ffmpeg::FramePtr converted = ffmpeg::allocFrame();
    if (raw == nullptr || !converted) {
        fail("The video's pictures cannot be converted");
        return nullptr;
    }
    converted->format = AV_PIX_FMT_YUV420P;
    converted->width = width;
    converted->height = height;
    if (av_frame_get_buffer(converted.get(), 0) < 0) {
        fail("Out of memory");
        return nullptr;
    }
    sws_scale(raw, frame->data, frame->linesize, 0, frame->height, converted->data, converted->linesize);
    return converted;
}

void MovieReader::Impl::publish() {
    // The picture shares the frame's buffers; handles made from it keep
    // them alive after the reader has moved on.
    std::shared_ptr<AVFrame> shared(av_frame_clone(current.frame.get()), SharedFrameDeleter{});
    if (!shared) return fail("Out of memory");
    picture.time = current.time;
    picture.endTime = next.valid ? next.time : current.time + current.duration;
    for (int p = 0; p < 3; ++p) {
        const int shift = p == 0 ? 0 : 1;
        picture.planes.planes[p] = ImagePlane{shared->data[p], shared->linesize[p], (width + shift) >> shift,
                                              (height + shift) >> shift};
    }
    picture.owner = std::move(shared);
}

MovieReader::MovieReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MovieReader::~MovieReader() = default;

Result<std::unique_ptr<MovieReader>, std::string> MovieReader::open(const std::filesystem::path& file) {
    // An empty file (a name reserved for a recording that never started) is
    // no movie; said plainly rather than as a demuxer's complaint.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return unexpected(std::string(std::strerror(errno)));
    if (info.st_size == 0) return unexpected(std::string("The file is empty"));

    auto impl = std::make_unique<Impl>();
    AVFormatContext* raw = nullptr;
    const std::string url = "file:" + file.string();
    int rc = avformat_open_input(&raw, url.c_str(), nullptr, nullptr);
    if (rc < 0) return unexpected(ffmpeg::errorString(rc));
    impl->format.reset(raw);
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) return unexpected(ffmpeg::errorString(rc));
    if (raw->duration > 0) impl->durationSeconds = seconds(raw->duration, AV_TIME_BASE_Q);

    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        AVStream* stream = raw->streams[index];
        const AVCodecParameters* parameters = stream->codecpar;
        // Only the first video track is read; every other packet is skipped
        // without being decoded.
        for (unsigned i = 0; i < raw->nb_streams; ++i) {
            if (static_cast<int>(i) != index) raw->streams[i]->discard = AVDISCARD_ALL;
        }
        if (parameters->width > 0 && parameters->height > 0 && parameters->width <= VideoFrame::kMaxDimension &&
            parameters->height <= VideoFrame::kMaxDimension) {
            const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
            if (decoder == nullptr) return unexpected(std::string("No decoder for the movie's video"));
            impl->codec.reset(avcodec_alloc_context3(decoder));
            if (!impl->codec) return unexpected(std::string("Out of memory"));
            if ((rc = avcodec_parameters_to_context(impl->codec.get(), parameters)) < 0) {
                return unexpected(ffmpeg::errorString(rc));
            }
            impl->codec->thread_count = 0;  // as many as the CPUs this process may use
            impl->codec->pkt_timebase = stream->time_base;
            if ((rc = avcodec_open2(impl->codec.get(), decoder, nullptr)) < 0) {
                return unexpected(ffmpeg::errorString(rc));
            }
            impl->streamIndex = index;
            impl->timeBase = stream->time_base;
            impl->width = parameters->width;
            impl->height = parameters->height;
            if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
                impl->frameSeconds = 1.0 / av_q2d(stream->avg_frame_rate);
            }
            impl->packet = ffmpeg::allocPacket();
            if (!impl->packet) return unexpected(std::string("Out of memory"));
        }
    }
    return std::unique_ptr<MovieReader>(new MovieReader(std::move(impl)));
}

double MovieReader::duration() const {
    return impl_->durationSeconds;
}

bool MovieReader::hasVideo() const {
    return impl_->codec != nullptr;
}

int MovieReader::width() const {
    return impl_->width;
}

int MovieReader::height() const {
    return impl_->height;
}

const std::string& MovieReader::errorText() const {
    return impl_->error;
}

const DecodedPicture* MovieReader::frameAt(double seconds) {
    Impl& m = *impl_;
    if (!m.codec || m.failed || !std::isfinite(seconds)) return nullptr;
    if (!m.primed) {
        m.primed = true;
        m.decodeNext(m.next);
    }
    bool changed = false;
    while (m.next.valid && m.next.time <= seconds) {
        std::swap(m.current, m.next);
        changed = true;
        m.decodeNext(m.next);
    }
    if (m.failed || !m.current.valid) return nullptr;
    if (changed) {
        m.publish();
        if (m.failed) return nullptr;
    }
    const double end = m.next.valid ? m.next.time : m.current.time + m.current.duration;
    if (seconds >= end) return nullptr;
    return &m.picture;
}

VideoFrame DecodedPicture::toNv12(TimePoint pts) const {
    const ImagePlane& luma = planes.planes[0];
    const ImagePlane& cb = planes.planes[1];
    const ImagePlane& cr = planes.planes[2];
    if (luma.data == nullptr || luma.width <= 0 || luma.height <= 0) return {};
    struct Nv12Owner {
        std::shared_ptr<const void> luma;
        std::vector<uint8_t> chroma;
    };
    auto keeper = std::make_shared<Nv12Owner>();
    keeper->luma = owner;
    const size_t chromaStride = static_cast<size_t>(cb.width) * 2;
    keeper->chroma.resize(chromaStride * static_cast<size_t>(cb.height));
    for (int y = 0; y < cb.height; ++y) {
        const uint8_t* u = cb.data + static_cast<ptrdiff_t>(y) * cb.stride;
        const uint8_t* v = cr.data + static_cast<ptrdiff_t>(y) * cr.stride;
        uint8_t* out = keeper->chroma.data() + static_cast<size_t>(y) * chromaStride;
        for (int x = 0; x < cb.width; ++x) {
            out[2 * x] = u[x];
            out[2 * x + 1] = v[x];
        }
    }
    const std::array<hollowkit::PlaneView, 2> views{
        hollowkit::PlaneView{luma.data, static_cast<size_t>(luma.stride)},
        hollowkit::PlaneView{keeper->chroma.data(), chromaStride},
    };
    return VideoFrame::wrap(PixelFormat::nv12, luma.width, luma.height, views, pts, keeper);
}

}  // namespace hollowkit
