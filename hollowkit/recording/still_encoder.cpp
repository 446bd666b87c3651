#include "hollowkit/recording/still_encoder.h"

#include <libheif/heif.h>
#include <turbojpeg.h>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <tuple>

namespace hollowkit {
namespace {

// libheif starts x265 at its "slow" preset. For one intra picture the fast
// presets lose next to nothing: on a grainy 1080p frame "ultrafast" came
// within 0.1 dB PSNR of "medium" with a smaller file, in well under half the
// time (bench/photo_bench.cpp), and the photo is ready that much sooner.
constexpr const char* kX265Preset = "ultrafast";

// HEVC colour description codes (ITU-T H.273).
constexpr uint16_t kPrimariesBt709 = 1;
constexpr uint16_t kTransferSrgb = 13;
constexpr uint16_t kMatrixBt709 = 1;
constexpr uint16_t kMatrixBt601 = 6;

struct HeifContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HeifEncoderDeleter {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct HeifNclxDeleter {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
struct HeifOptionsDeleter {
    void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
};
struct SwsDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
struct AvFreeDeleter {
    void operator()(uint8_t* block) const { av_free(block); }
};

using HeifContextPtr = std::unique_ptr<heif_context, HeifContextDeleter>;
using HeifImagePtr = std::unique_ptr<heif_image, HeifImageDeleter>;
using HeifEncoderPtr = std::unique_ptr<heif_encoder, HeifEncoderDeleter>;
using HeifNclxPtr = std::unique_ptr<heif_color_profile_nclx, HeifNclxDeleter>;
using HeifOptionsPtr = std::unique_ptr<heif_encoding_options, HeifOptionsDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using TjPtr = std::unique_ptr<void, TjDeleter>;
using TjBufferPtr = std::unique_ptr<unsigned char, TjBufferDeleter>;
using AvBlockPtr = std::unique_ptr<uint8_t, AvFreeDeleter>;

std::string heifText(const char* what, const heif_error& error) {
    return std::string(what) + ": " + (error.message != nullptr ? error.message : "unknown error");
}

heif_error appendToBytes(heif_context*, const void* data, size_t size, void* userdata) {
    auto* out = static_cast<Bytes*>(userdata);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

// Frames may be up to VideoFrame::kMaxDimension wide, so strides fit an int;
// the check keeps a foreign frame with a huge stride from wrapping.
bool fitsInt(size_t value) {
    return value <= static_cast<size_t>(INT_MAX);
}

AVPixelFormat avFormat(PixelFormat format) {
    switch (format) {
    case PixelFormat::nv12:
        return AV_PIX_FMT_NV12;
    case PixelFormat::bgra:
        return AV_PIX_FMT_BGRA;
    case PixelFormat::none:
        break;
    }
    return AV_PIX_FMT_NONE;
}

// Sets the matrix and ranges swscale converts with: NV12 is BT.709 limited
// range; RGB is full range by nature. `yuvMatrix` is the matrix of the YUV
// side when the target is YUV.
void setColorDetails(SwsContext* context, PixelFormat source, int yuvMatrix, bool yuvFullRange) {
    const int* nv12Table = sws_getCoefficients(SWS_CS_ITU709);
    const int* yuvTable = sws_getCoefficients(yuvMatrix);
    if (source == PixelFormat::nv12) {
        sws_setColorspaceDetails(context, nv12Table, 0, yuvTable, 1, 0, 1 << 16, 1 << 16);
    } else {
        sws_setColorspaceDetails(context, yuvTable, 1, yuvTable, yuvFullRange ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
}

// Fills the three planes of `image` from an NV12 frame, as stored.
void copyNv12(const VideoFrame& frame, heif_image* image) {
    int yStride = 0;
    int cbStride = 0;
    int crStride = 0;
    uint8_t* y = heif_image_get_plane(image, heif_channel_Y, &yStride);
    uint8_t* cb = heif_image_get_plane(image, heif_channel_Cb, &cbStride);
    uint8_t* cr = heif_image_get_plane(image, heif_channel_Cr, &crStride);
    const int width = frame.width();
    for (int row = 0; row < frame.height(); ++row) {
        std::memcpy(y + static_cast<size_t>(yStride) * row, frame.row(0, row).data(),
                    static_cast<size_t>(width));
    }
    const int chromaWidth = (width + 1) / 2;
    const int chromaRows = (frame.height() + 1) / 2;
    for (int row = 0; row < chromaRows; ++row) {
        const uint8_t* source = frame.row(1, row).data();
        uint8_t* cbRow = cb + static_cast<size_t>(cbStride) * row;
        uint8_t* crRow = cr + static_cast<size_t>(crStride) * row;
        for (int x = 0; x < chromaWidth; ++x) {
            cbRow[x] = source[2 * x];
            crRow[x] = source[2 * x + 1];
        }
    }
}

// Converts a BGRA frame into the three planes of `image` (BT.601, full range).
bool convertBgra(const VideoFrame& frame, heif_image* image) {
    const int width = frame.width();
    const int height = frame.height();
    SwsPtr sws(sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P,
                              SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr,
                              nullptr));
    if (!sws || !fitsInt(frame.stride(0))) {
        return false;
    }
    setColorDetails(sws.get(), PixelFormat::bgra, SWS_CS_ITU601, true);
    int strides[4] = {};
    uint8_t* planes[4] = {};
    planes[0] = heif_image_get_plane(image, heif_channel_Y, &strides[0]);
    planes[1] = heif_image_get_plane(image, heif_channel_Cb, &strides[1]);
    planes[2] = heif_image_get_plane(image, heif_channel_Cr, &strides[2]);
    const uint8_t* const source[4] = {frame.planeData(0), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {static_cast<int>(frame.stride(0)), 0, 0, 0};
    return sws_scale(sws.get(), source, sourceStride, 0, height, planes, strides) == height;
}

class LibraryStillEncoder final : public StillEncoder {
public:
    Result<Bytes, std::string> encodeHeif(const VideoFrame& frame, int qualityPercent) const override;
    Result<Bytes, std::string> encodeJpeg(const VideoFrame& frame, int width, int height,
                                          int qualityPercent) const override;
};

Result<Bytes, std::string> LibraryStillEncoder::encodeHeif(const VideoFrame& frame,
                                                           int qualityPercent) const {
    // libheif's plugins and tables are set up once per process; it counts
    // its users, and this one stays for the process's life.
    static std::once_flag setUp;
    std::call_once(setUp, [] { heif_init(nullptr); });

    if (frame.isNull()) {
        return unexpected(std::string("no picture"));
    }
    const int width = frame.width();
    const int height = frame.height();
    const bool nv12 = frame.pixelFormat() == PixelFormat::nv12;

    heif_image* rawImage = nullptr;
    heif_error error = heif_image_create(width, height, heif_colorspace_YCbCr, heif_chroma_420, &rawImage);
    HeifImagePtr image(rawImage);
    if (error.code != heif_error_Ok) {
        return unexpected(heifText("image", error));
    }
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    for (const auto& [channel, planeWidth, planeHeight] :
         {std::tuple{heif_channel_Y, width, height}, std::tuple{heif_channel_Cb, chromaWidth, chromaHeight},
          std::tuple{heif_channel_Cr, chromaWidth, chromaHeight}}) {
        error = heif_image_add_plane(image.get(), channel, planeWidth, planeHeight, 8);
        if (error.code != heif_error_Ok) {
            return unexpected(heifText("plane", error));
        }
    }
    if (nv12) {
        copyNv12(frame, image.get());
    } else if (!convertBgra(frame, image.get())) {
        return unexpected(std::string("colour conversion failed"));
    }

    HeifNclxPtr nclx(heif_nclx_color_profile_alloc());
    if (!nclx) {
        return unexpected(std::string("out of memory"));
    }
    heif_nclx_color_profile_set_color_primaries(nclx.get(), kPrimariesBt709);
    heif_nclx_color_profile_set_transfer_characteristics(nclx.get(), kTransferSrgb);
    heif_nclx_color_profile_set_matrix_coefficients(nclx.get(), nv12 ? kMatrixBt709 : kMatrixBt601);
    nclx->full_range_flag = nv12 ? 0 : 1;
    // The description travels in the HEVC stream. libheif leaves the
    // matching 'colr' box out by default because some Apple readers refuse
    // files that carry one; that default is kept.
    error = heif_image_set_nclx_color_profile(image.get(), nclx.get());
    if (error.code != heif_error_Ok) {
        return unexpected(heifText("colour profile", error));
    }

    HeifContextPtr context(heif_context_alloc());
    if (!context) {
        return unexpected(std::string("out of memory"));
    }
    heif_encoder* rawEncoder = nullptr;
    error = heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder);
    HeifEncoderPtr encoder(rawEncoder);
    if (error.code != heif_error_Ok) {
        return unexpected(heifText("HEVC encoder", error));
    }
    heif_encoder_set_lossy_quality(encoder.get(), qualityPercent);
    // Older builds may not know the preset; their default still works.
    heif_encoder_set_parameter_string(encoder.get(), "preset", kX265Preset);

    HeifOptionsPtr options(heif_encoding_options_alloc());
    if (!options) {
        return unexpected(std::string("out of memory"));
    }
    error = heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), nullptr);
    if (error.code != heif_error_Ok) {
        return unexpected(heifText("encode", error));
    }
    Bytes out;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = appendToBytes;
    error = heif_context_write(context.get(), &writer, &out);
    if (error.code != heif_error_Ok) {
        return unexpected(heifText("write", error));
    }
    return out;
}

Result<Bytes, std::string> LibraryStillEncoder::encodeJpeg(const VideoFrame& frame, int width, int height,
                                                           int qualityPercent) const {
    if (frame.isNull()) {
        return unexpected(std::string("no picture"));
    }
    if (width <= 0 || height <= 0 || width > VideoFrame::kMaxDimension ||
        height > VideoFrame::kMaxDimension) {
        return unexpected(std::string("bad size"));
    }
    const PixelFormat format = frame.pixelFormat();
    // Area averaging is the smoothing a big reduction needs; it is exact
    // when the size does not change.
    SwsPtr sws(sws_getContext(frame.width(), frame.height(), avFormat(format), width, height,
                              AV_PIX_FMT_RGB24, SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                              nullptr, nullptr));
    if (!sws) {
        return unexpected(std::string("no scaler for this size"));
    }
    setColorDetails(sws.get(), format, SWS_CS_ITU709, true);

    // Rows on 64-byte boundaries so swscale's vector loops can store whole lines.
    const size_t rowBytes = (static_cast<size_t>(width) * 3 + 63) / 64 * 64;
    AvBlockPtr rgb(static_cast<uint8_t*>(av_malloc(rowBytes * static_cast<size_t>(height))));
    if (!rgb) {
        return unexpected(std::string("out of memory"));
    }
    const uint8_t* source[4] = {frame.planeData(0), frame.planeData(1), nullptr, nullptr};
    int sourceStride[4] = {};
    for (int plane = 0; plane < frame.planeCount(); ++plane) {
        if (!fitsInt(frame.stride(plane))) {
            return unexpected(std::string("bad stride"));
        }
        sourceStride[plane] = static_cast<int>(frame.stride(plane));
    }
    uint8_t* target[4] = {rgb.get(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {static_cast<int>(rowBytes), 0, 0, 0};
    if (sws_scale(sws.get(), source, sourceStride, 0, frame.height(), target, targetStride) != height) {
        return unexpected(std::string("scaling failed"));
    }

    TjPtr compressor(tjInitCompress());
    if (!compressor) {
        return unexpected(std::string("turbojpeg: ") + tjGetErrorStr2(nullptr));
    }
    unsigned char* rawJpeg = nullptr;
    unsigned long jpegSize = 0;
    const int status = tjCompress2(compressor.get(), rgb.get(), width, static_cast<int>(rowBytes), height,
                                   TJPF_RGB, &rawJpeg, &jpegSize, TJSAMP_420, qualityPercent, 0);
    TjBufferPtr jpeg(rawJpeg);
    if (status != 0 || !jpeg) {
        return unexpected(std::string("turbojpeg: ") + tjGetErrorStr2(compressor.get()));
    }
    return Bytes(jpeg.get(), jpeg.get() + jpegSize);
}

}  // namespace

const StillEncoder& StillEncoder::standard() {
    static const LibraryStillEncoder encoder;
    return encoder;
}

}  // namespace hollowkit
