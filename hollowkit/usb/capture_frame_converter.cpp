#include "hollowkit/usb/capture_frame_converter.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

namespace hollowkit {

namespace {

constexpr uint8_t kNeutralChroma = 128;

struct Decompressor {
    void operator()(void* handle) const { tjDestroy(static_cast<tjhandle>(handle)); }
};

// Bytes a picture of `rows` lines needs when each line starts `stride`
// bytes after the previous one and the last holds `lastRowBytes`.
size_t spanOf(size_t stride, size_t rows, size_t lastRowBytes) {
    return rows == 0 ? 0 : stride * (rows - 1) + lastRowBytes;
}

void copyPlane(const uint8_t* source, size_t sourceStride, uint8_t* target, size_t targetStride, size_t rowBytes,
               size_t rows) {
    if (sourceStride == rowBytes && targetStride == rowBytes) {
        std::memcpy(target, source, rowBytes * rows);
        return;
    }
    for (size_t y = 0; y < rows; ++y) {
        std::memcpy(target + y * targetStride, source + y * sourceStride, rowBytes);
    }
}

}  // namespace

CaptureFrameConverter::CaptureFrameConverter() = default;

CaptureFrameConverter::~CaptureFrameConverter() = default;

bool CaptureFrameConverter::supports(uint32_t pixelFormat) {
    return pixelFormat == kFourccNv12 || pixelFormat == kFourccYuyv || pixelFormat == kFourccMjpeg;
}

WritableVideoFrame CaptureFrameConverter::acquire(int width, int height) {
    return acquireSized(pool_, PixelFormat::nv12, width, height);
}

VideoFrame CaptureFrameConverter::convert(const RawPicture& picture, TimePoint pts) {
    if (picture.width <= 0 || picture.height <= 0 || picture.width > VideoFrame::kMaxDimension ||
        picture.height > VideoFrame::kMaxDimension || picture.bytes.empty()) {
        return {};
    }
    WritableVideoFrame out = acquire(picture.width, picture.height);
    if (!out) return {};
    bool converted = false;
    switch (picture.pixelFormat) {
        case kFourccNv12:
            converted = copyNv12(picture, out);
            break;
        case kFourccYuyv:
            converted = convertYuyv(picture, out);
            break;
        case kFourccMjpeg:
            converted = decodeMjpeg(picture, out);
            break;
        default:
            break;
    }
    // A refused picture's buffer goes back to the pool with `out`.
    if (!converted) return {};
    return std::move(out).freeze(pts);
}

bool CaptureFrameConverter::copyNv12(const RawPicture& picture, WritableVideoFrame& out) {
    const auto width = static_cast<size_t>(picture.width);
    const auto height = static_cast<size_t>(picture.height);
    const PlaneSize chroma = planeSize(PixelFormat::nv12, picture.width, picture.height, 1);
    const size_t stride = picture.bytesPerLine == 0 ? chroma.rowBytes : picture.bytesPerLine;
    if (stride < chroma.rowBytes || stride < width) return false;
    const auto chromaRows = static_cast<size_t>(chroma.rows);
    // Single-plane NV12: the chroma lines follow the luma lines at the same stride.
    if (picture.bytes.size() < stride * height + spanOf(stride, chromaRows, chroma.rowBytes)) return false;

    const uint8_t* source = picture.bytes.data();
    copyPlane(source, stride, out.planeData(0), out.stride(0), width, height);
    copyPlane(source + stride * height, stride, out.planeData(1), out.stride(1), chroma.rowBytes, chromaRows);
    return true;
}

bool CaptureFrameConverter::convertYuyv(const RawPicture& picture, WritableVideoFrame& out) {
    // Y0 U Y1 V per pair of pixels; an odd width has no whole last pair.
    if (picture.width % 2 != 0) return false;
    const auto width = static_cast<size_t>(picture.width);
    const auto height = static_cast<size_t>(picture.height);
    const size_t rowBytes = width * 2;
    const size_t stride = picture.bytesPerLine == 0 ? rowBytes : picture.bytesPerLine;
    if (stride < rowBytes || picture.bytes.size() < spanOf(stride, height, rowBytes)) return false;

    const uint8_t* source = picture.bytes.data();
    uint8_t* luma = out.planeData(0);
    const size_t lumaStride = out.stride(0);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* in = source + y * stride;
        uint8_t* row = luma + y * lumaStride;
        for (size_t x = 0; x < width; ++x) row[x] = in[2 * x];
    }
    // 4:2:2 to 4:2:0: each chroma line is the mean of two picture lines.
    uint8_t* chroma = out.planeData(1);
    const size_t chromaStride = out.stride(1);
    for (size_t cy = 0; cy < (height + 1) / 2; ++cy) {
        const uint8_t* top = source + (2 * cy) * stride;
        const uint8_t* bottom = source + std::min(2 * cy + 1, height - 1) * stride;
        uint8_t* row = chroma + cy * chromaStride;
        for (size_t i = 0; i < rowBytes / 2; i += 2) {
            // i walks the chroma bytes: U at 4k+1, V at 4k+3 of the input.
            row[i] = static_cast<uint8_t>((top[2 * i + 1] + bottom[2 * i + 1] + 1) >> 1);
            row[i + 1] = static_cast<uint8_t>((top[2 * i + 3] + bottom[2 * i + 3] + 1) >> 1);
        }
    }
    return true;
}

bool CaptureFrameConverter::decodeMjpeg(const RawPicture& picture, WritableVideoFrame& out) {
    // A fresh decoder per picture (see the header); making one costs far
    // less than decoding.
    const std::unique_ptr<void, Decompressor> decompressor(tjInitDecompress());
    if (!decompressor) return false;
    const tjhandle handle = decompressor.get();
    // The library takes a non-const pointer but does not write through it.
    auto* jpeg = const_cast<unsigned char*>(picture.bytes.data());
    const auto jpegSize = static_cast<unsigned long>(picture.bytes.size());
    int jpegWidth = 0;
    int jpegHeight = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg, jpegSize, &jpegWidth, &jpegHeight, &subsampling, &colorspace) != 0) {
        return false;
    }
    if (jpegWidth != picture.width || jpegHeight != picture.height) return false;
    if (colorspace != TJCS_YCbCr && colorspace != TJCS_GRAY) return false;

    const int width = picture.width;
    const int height = picture.height;
    const bool gray = subsampling == TJSAMP_GRAY;
    const int lumaWidth = tjPlaneWidth(0, width, subsampling);
    const int lumaHeight = tjPlaneHeight(0, height, subsampling);
    const int chromaWidth = gray ? 0 : tjPlaneWidth(1, width, subsampling);
    const int chromaHeight = gray ? 0 : tjPlaneHeight(1, height, subsampling);
    if (lumaWidth <= 0 || lumaHeight <= 0 || chromaWidth < 0 || chromaHeight < 0) return false;
    // Luma goes straight into the frame unless the decoder pads it.
    const bool lumaDirect = lumaWidth == width && lumaHeight == height;
    const size_t lumaScratch = lumaDirect ? 0 : size_t(lumaWidth) * size_t(lumaHeight);
    const size_t chromaPlane = size_t(chromaWidth) * size_t(chromaHeight);
    scratch_.resize(lumaScratch + 2 * chromaPlane);

    unsigned char* planes[3] = {lumaDirect ? out.planeData(0) : scratch_.data(), scratch_.data() + lumaScratch,
                                scratch_.data() + lumaScratch + chromaPlane};
    int strides[3] = {lumaDirect ? static_cast<int>(out.stride(0)) : lumaWidth, chromaWidth, chromaWidth};
    // A damaged picture is kept when the decoder only warned, as it then
    // still writes every row. But libturbojpeg reports a fatal error that
    // follows a warning as a warning, and then rows stay unwritten. The last
    // luma row tells: marked before decoding, it must not keep the mark. A
    // picture whose real last row equals the mark is decoded again with
    // another mark (and a fresh decoder, see the header).
    uint8_t* lastLumaRow = planes[0] + size_t(strides[0]) * size_t(lumaHeight - 1);
    const auto keepsMark = [&](uint8_t mark) {
        return std::all_of(lastLumaRow, lastLumaRow + lumaWidth, [mark](uint8_t v) { return v == mark; });
    };
    // True when the picture is decoded whole, damaged or not.
    const auto decodeWhole = [&](tjhandle decoder, uint8_t mark) {
        std::memset(lastLumaRow, mark, size_t(lumaWidth));
        if (tjDecompressToYUVPlanes(decoder, jpeg, jpegSize, planes, width, strides, height, TJFLAG_FASTDCT) == 0) {
            return true;
        }
        return tjGetErrorCode(decoder) == TJERR_WARNING && !keepsMark(mark);
    };
    constexpr uint8_t kFirstMark = 0x5A;
    constexpr uint8_t kSecondMark = 0xA5;
    if (!decodeWhole(handle, kFirstMark)) {
        if (tjGetErrorCode(handle) == TJERR_FATAL) return false;
        const std::unique_ptr<void, Decompressor> again(tjInitDecompress());
        if (!again || !decodeWhole(again.get(), kSecondMark)) return false;
    }
    if (!lumaDirect) {
        copyPlane(scratch_.data(), size_t(lumaWidth), out.planeData(0), out.stride(0), size_t(width), size_t(height));
    }

    const PlaneSize target = planeSize(PixelFormat::nv12, width, height, 1);
    const size_t pairs = target.rowBytes / 2;
    uint8_t* chroma = out.planeData(1);
    const size_t chromaStride = out.stride(1);
    if (gray) {
        for (int y = 0; y < target.rows; ++y) std::memset(chroma + size_t(y) * chromaStride, kNeutralChroma, target.rowBytes);
        return true;
    }
    const uint8_t* u = planes[1];
    const uint8_t* v = planes[2];
    const bool halfBoth = size_t(chromaWidth) == pairs && chromaHeight == target.rows;  // 4:2:0
    for (int y = 0; y < target.rows; ++y) {
        uint8_t* row = chroma + size_t(y) * chromaStride;
        const size_t sy = halfBoth ? size_t(y)
                                   : std::min<size_t>(size_t(chromaHeight) - 1,
                                                      size_t(y) * size_t(chromaHeight) / size_t(target.rows));
        const uint8_t* uRow = u + sy * size_t(chromaWidth);
        const uint8_t* vRow = v + sy * size_t(chromaWidth);
        if (halfBoth) {
            for (size_t x = 0; x < pairs; ++x) {
                row[2 * x] = uRow[x];
                row[2 * x + 1] = vRow[x];
            }
        } else {
            // Other subsamplings: the nearest decoded chroma sample.
            for (size_t x = 0; x < pairs; ++x) {
                const size_t sx = std::min<size_t>(size_t(chromaWidth) - 1, x * size_t(chromaWidth) / pairs);
                row[2 * x] = uRow[sx];
                row[2 * x + 1] = vRow[sx];
            }
        }
    }
    return true;
}

}  // namespace hollowkit
