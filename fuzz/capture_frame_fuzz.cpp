// The capture frame converter on arbitrary pictures: NV12, YUYV and Motion
// JPEG (through libturbojpeg) with any size, line stride and byte count.
// The first five bytes choose the picture: format (bit 7 on MJPEG: take the
// size from the JPEG's own header, so the decoder is reached), width,
// height and the stride (16-bit little-endian); the rest are its bytes.
// A converted frame has the asked size and every row can be read (ASan);
// converting the same picture again, into a fresh buffer or one recycled by
// the converter's pool, gives the same pixels, and a picture of another size
// through the same converter leaves the frames already out as they were.

#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hollowkit/usb/capture_frame_converter.h"

namespace {

using namespace hollowkit;

// Large enough for odd sizes and every subsampling, small enough that one
// input stays cheap.
constexpr int kMaxJpegSide = 512;

void check(bool condition) {
    if (!condition) std::abort();
}

bool sameRows(const VideoFrame& a, const VideoFrame& b) {
    for (int plane = 0; plane < a.planeCount(); ++plane) {
        for (int y = 0;; ++y) {
            const auto rowA = a.row(plane, y);
            const auto rowB = b.row(plane, y);
            if (rowA.size() != rowB.size()) return false;
            if (rowA.empty()) break;
            if (std::memcmp(rowA.data(), rowB.data(), rowA.size()) != 0) return false;
        }
    }
    return true;
}

bool jpegSize(ByteView bytes, int& width, int& height) {
    tjhandle handle = tjInitDecompress();
    if (handle == nullptr) return false;
    int subsampling = 0;
    int colorspace = 0;
    const bool ok = tjDecompressHeader3(handle, const_cast<unsigned char*>(bytes.data()),
                                        static_cast<unsigned long>(bytes.size()), &width, &height, &subsampling,
                                        &colorspace) == 0;
    tjDestroy(handle);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    static constexpr uint32_t kFormats[] = {kFourccNv12, kFourccYuyv, kFourccMjpeg, 0};
    RawPicture picture;
    picture.pixelFormat = kFormats[data[0] & 0x03];
    picture.width = data[1];
    picture.height = data[2];
    picture.bytesPerLine = size_t{data[3]} | size_t{data[4]} << 8;
    picture.bytes = ByteView(data + 5, size - 5);
    if (picture.pixelFormat == kFourccMjpeg && (data[0] & 0x80) != 0) {
        if (!jpegSize(picture.bytes, picture.width, picture.height)) return 0;
        if (picture.width > kMaxJpegSide || picture.height > kMaxJpegSide) return 0;
    }

    CaptureFrameConverter converter;
    const VideoFrame frame = converter.convert(picture, TimePoint{});
    if (!frame) return 0;
    check(frame.width() == picture.width && frame.height() == picture.height);
    check(frame.pixelFormat() == PixelFormat::nv12);
    VideoFrame again = converter.convert(picture, TimePoint{});
    check(again && sameRows(frame, again));

    // A buffer back from the pool holds the last picture's pixels; the next
    // conversion into it must leave nothing of them showing.
    again = VideoFrame();
    const VideoFrame recycled = converter.convert(picture, TimePoint{});
    check(recycled && sameRows(frame, recycled));

    // Another size through the same converter: a new pool, and the frames
    // already out keep their pixels.
    RawPicture narrower = picture;
    narrower.width = picture.width / 2 & ~1;
    if (narrower.width > 0) {
        const VideoFrame other = converter.convert(narrower, TimePoint{});
        check(!other || (other.width() == narrower.width && other.height() == picture.height));
        check(sameRows(frame, recycled));
    }
    return 0;
}
