#include "hollowkit/testing/hevc_test_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include "hollowkit/media/ffmpeg_handles.h"

namespace hollowkit {

namespace {

// ---- The picture ---------------------------------------------------------

constexpr int kGridColumns = 8;
constexpr int kGridRows = 4;
constexpr int kIndexBits = 16;
constexpr uint8_t kCellOne = 200;
constexpr uint8_t kCellZero = 56;
constexpr uint8_t kNeutral = 128;
constexpr int kTextureBlock = 16;
constexpr int kScrollPerFrame = 4;
constexpr int kMinDimension = 64;

struct Geometry {
    int cellWidth = 0;
    int cellHeight = 0;
    int gridHeight = 0;  // rows [0, gridHeight) carry the cells; texture below

    Geometry(int width, int height)
        : cellWidth(width / kGridColumns),
          cellHeight(height / 2 / kGridRows),
          gridHeight(cellHeight * kGridRows) {}
};

uint32_t mix(uint32_t x, uint32_t y) {
    uint32_t h = x * 73856093u ^ y * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

bool cellBit(uint32_t index, int column, int row) {
    const int bit = row * kGridColumns + column;
    const uint32_t value = index & 0xFFFF;
    return bit < kIndexBits ? ((value >> bit) & 1) != 0
                            : ((~value >> (bit - kIndexBits)) & 1) != 0;
}

int scroll(uint32_t index) { return static_cast<int>(index & 0xFFFF) * kScrollPerFrame; }

uint8_t patternLuma(uint32_t index, const Geometry& g, int x, int y) {
    if (y < g.gridHeight) {
        const int column = x / g.cellWidth;
        if (column >= kGridColumns) {
            return kNeutral;
        }
        return cellBit(index, column, y / g.cellHeight) ? kCellOne : kCellZero;
    }
    const uint32_t h = mix(static_cast<uint32_t>((x + scroll(index)) / kTextureBlock),
                           static_cast<uint32_t>(y / kTextureBlock));
    return static_cast<uint8_t>(32 + h % 192);
}

// Chroma sample (cx, cy) covers luma (2cx, 2cy); returns Cb, Cr.
std::pair<uint8_t, uint8_t> patternChroma(uint32_t index, const Geometry& g, int cx, int cy) {
    if (2 * cy < g.gridHeight) {
        return {kNeutral, kNeutral};
    }
    const uint32_t h = mix(static_cast<uint32_t>((2 * cx + scroll(index)) / kTextureBlock),
                           static_cast<uint32_t>(2 * cy / kTextureBlock));
    return {static_cast<uint8_t>(64 + (h >> 8) % 128), static_cast<uint8_t>(64 + (h >> 16) % 128)};
}

// Fills planar (chromaStep 1, separate planes) or NV12 (chromaStep 2, v = u + 1).
void fillPattern(uint32_t index, int width, int height, uint8_t* luma, size_t lumaStride,
                 uint8_t* cb, uint8_t* cr, size_t chromaStride, int chromaStep, int grain = 0) {
    const Geometry g(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = luma + static_cast<size_t>(y) * lumaStride;
        for (int x = 0; x < width; ++x) {
            row[x] = patternLuma(index, g, x, y);
        }
        if (grain > 0 && y >= g.gridHeight) {
            uint32_t state = mix(static_cast<uint32_t>(y), index * 2654435761u) | 1;
            for (int x = 0; x < width; ++x) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                const int noise = static_cast<int>(state % static_cast<uint32_t>(2 * grain + 1)) - grain;
                row[x] = static_cast<uint8_t>(std::clamp(row[x] + noise, 0, 255));
            }
        }
    }
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    for (int cy = 0; cy < chromaHeight; ++cy) {
        uint8_t* u = cb + static_cast<size_t>(cy) * chromaStride;
        uint8_t* v = cr + static_cast<size_t>(cy) * chromaStride;
        for (int cx = 0; cx < chromaWidth; ++cx) {
            const auto [bu, rv] = patternChroma(index, g, cx, cy);
            u[cx * chromaStep] = bu;
            v[cx * chromaStep] = rv;
        }
    }
}

// Luma of a decoded picture at (x, y), from NV12 directly or from BGRA
// (BT.709 video range, as a decoder's conversion would have produced it).
class LumaReader {
public:
    explicit LumaReader(const VideoFrame& frame)
        : format_(frame.pixelFormat()), data_(frame.planeData(0)), stride_(frame.stride(0)) {}

    int at(int x, int y) const {
        const uint8_t* row = data_ + static_cast<size_t>(y) * stride_;
        if (format_ == PixelFormat::nv12) {
            return row[x];
        }
        const uint8_t* p = row + static_cast<size_t>(x) * 4;
        return 16 + (47 * p[2] + 157 * p[1] + 16 * p[0] + 128) / 256;
    }

private:
    PixelFormat format_;
    const uint8_t* data_;
    size_t stride_;
};

// ---- Annex-B helpers ---------------------------------------------------------

struct NalSpan {
    size_t begin = 0;  // first byte after the start code
    size_t end = 0;
};

std::vector<NalSpan> nalSpans(ByteView data) {
    std::vector<size_t> codeStarts;
    std::vector<size_t> payloadStarts;
    size_t i = 0;
    while (i + 3 <= data.size()) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            codeStarts.push_back(i > 0 && data[i - 1] == 0 ? i - 1 : i);
            payloadStarts.push_back(i + 3);
            i += 3;
        } else {
            ++i;
        }
    }
    std::vector<NalSpan> spans;
    for (size_t k = 0; k < payloadStarts.size(); ++k) {
        const size_t end = k + 1 < codeStarts.size() ? codeStarts[k + 1] : data.size();
        if (end > payloadStarts[k]) {
            spans.push_back({payloadStarts[k], end});
        }
    }
    return spans;
}

int nalType(ByteView data, const NalSpan& span) { return (data[span.begin] >> 1) & 0x3F; }

bool isIrapType(int type) { return type >= 16 && type <= 21; }

std::string avError(const char* what, int code) { return std::string(what) + ": " + ffmpeg::errorString(code); }

}  // namespace

// ---- Encoder -------------------------------------------------------------------

struct HevcTestStream::Encoder {
    ffmpeg::CodecContextPtr context;
    ffmpeg::FramePtr frame;
    ffmpeg::PacketPtr packet;
    std::deque<HevcAccessUnit> ready;
    int64_t nextPts = 0;
};

Result<std::unique_ptr<HevcTestStream>, std::string> HevcTestStream::create(
    const HevcTestStreamOptions& options) {
    if (options.width < kMinDimension || options.height < kMinDimension ||
        options.width > VideoFrame::kMaxDimension || options.height > VideoFrame::kMaxDimension ||
        options.width % 2 != 0 || options.height % 2 != 0) {
        return unexpected(std::string("unsupported test stream size"));
    }
    if (options.framesPerSecond <= 0 || options.gopLength <= 0) {
        return unexpected(std::string("frame rate and GOP length must be positive"));
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
    if (codec == nullptr) {
        return unexpected(std::string("this FFmpeg has no libx265 encoder"));
    }
    auto encoder = std::make_unique<Encoder>();
    encoder->context.reset(avcodec_alloc_context3(codec));
    encoder->frame.reset(av_frame_alloc());
    encoder->packet.reset(av_packet_alloc());
    if (!encoder->context || !encoder->frame || !encoder->packet) {
        return unexpected(std::string("out of memory"));
    }
    AVCodecContext* c = encoder->context.get();
    c->width = options.width;
    c->height = options.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, options.framesPerSecond};
    c->framerate = AVRational{options.framesPerSecond, 1};
    c->max_b_frames = std::max(options.bFrames, 0);
    // A GOP longer than any test runs stands for "no IRAP after the first".
    const int keyint = options.irapMode == HevcIrapMode::everyGop ? options.gopLength : 1 << 20;
    c->gop_size = keyint;
    c->keyint_min = keyint;

    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set_double(c->priv_data, "crf", options.crf, 0);
    // In-band parameter sets before every IDR, closed GOPs, one picture in,
    // one access unit out: what the camera's live view looks like. B
    // pictures, when asked for, come in a fixed pattern, and the look-ahead
    // is just long enough for them. SAO stays on: x265 3.5 leaks its filter
    // buffers when ultrafast turns it off.
    const int bFrames = std::max(options.bFrames, 0);
    char params[256];
    std::snprintf(params, sizeof params,
                  "keyint=%d:min-keyint=%d:scenecut=0:open-gop=0:bframes=%d:b-adapt=0:repeat-headers=1:"
                  "rc-lookahead=%d:frame-threads=1:sao=1:log-level=error",
                  keyint, keyint, bFrames, bFrames > 0 ? bFrames + 1 : 0);
    av_opt_set(c->priv_data, "x265-params", params, 0);

    if (int rc = avcodec_open2(c, codec, nullptr); rc < 0) {
        return unexpected(avError("libx265 open failed", rc));
    }
    AVFrame* f = encoder->frame.get();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = options.width;
    f->height = options.height;
    if (int rc = av_frame_get_buffer(f, 0); rc < 0) {
        return unexpected(avError("frame allocation failed", rc));
    }
    return std::unique_ptr<HevcTestStream>(new HevcTestStream(options, std::move(encoder)));
}

HevcTestStream::HevcTestStream(const HevcTestStreamOptions& options, std::unique_ptr<Encoder> encoder)
    : options_(options), encoder_(std::move(encoder)) {}

HevcTestStream::~HevcTestStream() = default;

std::optional<std::string> HevcTestStream::encodeFrame(bool end) {
    Encoder& e = *encoder_;
    AVCodecContext* c = e.context.get();
    AVFrame* f = nullptr;
    if (!end) {
        f = e.frame.get();
        if (int rc = av_frame_make_writable(f); rc < 0) {
            return avError("frame not writable", rc);
        }
        const auto index = options_.firstIndex + static_cast<uint32_t>(e.nextPts);
        fillPattern(index, options_.width, options_.height, f->data[0], static_cast<size_t>(f->linesize[0]),
                    f->data[1], f->data[2], static_cast<size_t>(f->linesize[1]), 1, options_.grain);
        f->pts = e.nextPts++;
    }
    if (int rc = avcodec_send_frame(c, f); rc < 0) {
        return avError("encode failed", rc);
    }
    for (;;) {
        AVPacket* p = e.packet.get();
        const int rc = avcodec_receive_packet(c, p);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
            return std::nullopt;
        }
        if (rc < 0) {
            return avError("encode failed", rc);
        }
        HevcAccessUnit unit;
        unit.index = (options_.firstIndex + static_cast<uint32_t>(p->pts)) & 0xFFFF;
        const ByteView data(p->data, static_cast<size_t>(p->size));
        const bool dropIrap = options_.irapMode == HevcIrapMode::none;
        for (const NalSpan& span : nalSpans(data)) {
            const int type = nalType(data, span);
            if (isIrapType(type)) {
                if (dropIrap) {
                    continue;
                }
                unit.irap = true;
            }
            unit.bytes.insert(unit.bytes.end(), {0, 0, 0, 1});
            unit.bytes.insert(unit.bytes.end(), data.begin() + static_cast<ptrdiff_t>(span.begin),
                              data.begin() + static_cast<ptrdiff_t>(span.end));
        }
        av_packet_unref(p);
        e.ready.push_back(std::move(unit));
    }
}

Result<HevcAccessUnit, std::string> HevcTestStream::next() {
    Encoder& e = *encoder_;
    // x265 without B pictures returns each access unit for the frame just
    // given; the loop covers an encoder that holds some back.
    for (int attempt = 0; e.ready.empty() && attempt < 64; ++attempt) {
        if (auto error = encodeFrame(false)) {
            return unexpected(*error);
        }
    }
    if (e.ready.empty()) {
        return unexpected(std::string("encoder produced no access unit"));
    }
    HevcAccessUnit unit = std::move(e.ready.front());
    e.ready.pop_front();
    ++produced_;
    return unit;
}

Result<std::vector<HevcAccessUnit>, std::string> HevcTestStream::finish(int frameCount) {
    for (int i = 0; i < frameCount; ++i) {
        if (auto error = encodeFrame(false)) {
            return unexpected(*error);
        }
    }
    if (auto error = encodeFrame(true)) {
        return unexpected(*error);
    }
    std::vector<HevcAccessUnit> units(std::make_move_iterator(encoder_->ready.begin()),
                                      std::make_move_iterator(encoder_->ready.end()));
    encoder_->ready.clear();
    produced_ += static_cast<uint32_t>(units.size());
    return units;
}

Result<std::vector<HevcAccessUnit>, std::string> encodeHevcTestStream(
    const HevcTestStreamOptions& options, int frameCount) {
    auto stream = HevcTestStream::create(options);
    if (!stream) {
        return unexpected(stream.error());
    }
    return (*stream)->finish(std::max(frameCount, 0));
}

Bytes joinAccessUnits(const std::vector<HevcAccessUnit>& units) {
    Bytes all;
    for (const HevcAccessUnit& unit : units) {
        all.insert(all.end(), unit.bytes.begin(), unit.bytes.end());
    }
    return all;
}

// ---- Reading pictures back -------------------------------------------------------

VideoFrame makePatternFrame(uint32_t index, int width, int height, TimePoint pts) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(PixelFormat::nv12, width, height);
    if (!frame) {
        return {};
    }
    uint8_t* chroma = frame.planeData(1);
    fillPattern(index, width, height, frame.planeData(0), frame.stride(0), chroma, chroma + 1,
                frame.stride(1), 2);
    return std::move(frame).freeze(pts);
}

std::optional<uint32_t> readPatternIndex(const VideoFrame& frame) {
    const PixelFormat format = frame.pixelFormat();
    if (format != PixelFormat::nv12 && format != PixelFormat::bgra) {
        return std::nullopt;
    }
    const Geometry g(frame.width(), frame.height());
    if (g.cellWidth < 4 || g.cellHeight < 4) {
        return std::nullopt;
    }
    const LumaReader luma(frame);
    uint32_t bits = 0;
    for (int row = 0; row < kGridRows; ++row) {
        for (int column = 0; column < kGridColumns; ++column) {
            // The middle half of the cell, away from edges that compression blurs.
            const int x0 = column * g.cellWidth + g.cellWidth / 4;
            const int y0 = row * g.cellHeight + g.cellHeight / 4;
            const int x1 = x0 + g.cellWidth / 2;
            const int y1 = y0 + g.cellHeight / 2;
            long sum = 0;
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    sum += luma.at(x, y);
                }
            }
            const long mean = sum / (static_cast<long>(x1 - x0) * (y1 - y0));
            if (mean > (kCellOne + kCellZero) / 2) {
                bits |= 1u << (row * kGridColumns + column);
            }
        }
    }
    const uint32_t value = bits & 0xFFFF;
    if ((bits >> kIndexBits) != (~value & 0xFFFF)) {
        return std::nullopt;
    }
    return value;
}

double patternDamage(const VideoFrame& frame, uint32_t index) {
    constexpr double kNoPicture = 255.0;
    const PixelFormat format = frame.pixelFormat();
    if (format != PixelFormat::nv12 && format != PixelFormat::bgra) {
        return kNoPicture;
    }
    const int width = frame.width();
    const int height = frame.height();
    const Geometry g(width, height);
    const LumaReader luma(frame);
    double worst = 0;
    for (int by = 0; by < height; by += 16) {
        for (int bx = 0; bx < width; bx += 16) {
            const int x1 = std::min(bx + 16, width);
            const int y1 = std::min(by + 16, height);
            long sum = 0;
            for (int y = by; y < y1; ++y) {
                for (int x = bx; x < x1; ++x) {
                    sum += std::abs(luma.at(x, y) - patternLuma(index, g, x, y));
                }
            }
            worst = std::max(worst, static_cast<double>(sum) / ((x1 - bx) * (y1 - by)));
        }
    }
    if (format == PixelFormat::nv12) {
        const int chromaWidth = (width + 1) / 2;
        const int chromaHeight = (height + 1) / 2;
        for (int by = 0; by < chromaHeight; by += 8) {
            for (int bx = 0; bx < chromaWidth; bx += 8) {
                const int x1 = std::min(bx + 8, chromaWidth);
                const int y1 = std::min(by + 8, chromaHeight);
                long sum = 0;
                for (int y = by; y < y1; ++y) {
                    const uint8_t* row = frame.planeData(1) + static_cast<size_t>(y) * frame.stride(1);
                    for (int x = bx; x < x1; ++x) {
                        const auto [u, v] = patternChroma(index, g, x, y);
                        sum += std::abs(row[2 * x] - u) + std::abs(row[2 * x + 1] - v);
                    }
                }
                worst = std::max(worst, static_cast<double>(sum) / (2 * (x1 - bx) * (y1 - by)));
            }
        }
    }
    return worst;
}

// ---- Datagrams ---------------------------------------------------------------

std::vector<Bytes> splitIntoVideoDatagrams(ByteView message, size_t datagramBytes) {
    datagramBytes = std::max(datagramBytes, kVideoStartHeaderBytes + 1);
    std::vector<Bytes> datagrams;
    Bytes start(kVideoStartHeaderBytes, 0);
    start[20] = 0x00;
    start[21] = 0x00;
    start[22] = 0x01;
    start[23] = 0xFF;
    const auto length = static_cast<uint32_t>(message.size());
    for (int i = 0; i < 4; ++i) {
        start[24 + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
    }
    size_t offset = std::min(message.size(), datagramBytes - kVideoStartHeaderBytes);
    start.insert(start.end(), message.begin(), message.begin() + static_cast<ptrdiff_t>(offset));
    datagrams.push_back(std::move(start));
    const size_t perContinuation = datagramBytes - kVideoDatagramPayloadOffset;
    while (offset < message.size()) {
        const size_t count = std::min(perContinuation, message.size() - offset);
        Bytes datagram(kVideoDatagramPayloadOffset, 0);
        datagram.insert(datagram.end(), message.begin() + static_cast<ptrdiff_t>(offset),
                        message.begin() + static_cast<ptrdiff_t>(offset + count));
        datagrams.push_back(std::move(datagram));
        offset += count;
    }
    return datagrams;
}

}  // namespace hollowkit
