#pragma once

// CaptureFrameConverter: turns one picture as a capture device delivered it
// (NV12, YUYV 4:2:2 or Motion JPEG, in the device's mapped buffer) into an
// NV12 VideoFrame in pooled memory, so the device's buffer can go back to
// the driver at once and the frame can live as long as its users want.
// MJPEG is decoded with libturbojpeg, luma straight into the frame, each
// picture by a decoder of its own: libjpeg keeps the Huffman tables a
// picture defines for the next one, and camera MJPEG usually defines none
// (the standard tables apply), so one damaged picture could garble all after.
//
// Owned by one capture stream; one thread at a time. A picture whose bytes
// are fewer than its size needs, whose JPEG does not decode or is not the
// negotiated size, gives a null frame (the stream drops it).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"
#include "hollowkit/media/pixel_buffer_pool.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

inline constexpr uint32_t kFourccNv12 = fourcc('N', 'V', '1', '2');
inline constexpr uint32_t kFourccYuyv = fourcc('Y', 'U', 'Y', 'V');
inline constexpr uint32_t kFourccMjpeg = fourcc('M', 'J', 'P', 'G');

// One delivered picture. `bytesPerLine` is the line stride of NV12 (both
// planes) and YUYV; ignored for MJPEG.
struct RawPicture {
    uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    size_t bytesPerLine = 0;
    ByteView bytes;
};

class CaptureFrameConverter {
public:
    CaptureFrameConverter();
    ~CaptureFrameConverter();
    CaptureFrameConverter(const CaptureFrameConverter&) = delete;
    CaptureFrameConverter& operator=(const CaptureFrameConverter&) = delete;

    static bool supports(uint32_t pixelFormat);

    VideoFrame convert(const RawPicture& picture, TimePoint pts);

private:
    bool copyNv12(const RawPicture& picture, WritableVideoFrame& out);
    bool convertYuyv(const RawPicture& picture, WritableVideoFrame& out);
    bool decodeMjpeg(const RawPicture& picture, WritableVideoFrame& out);
    WritableVideoFrame acquire(int width, int height);

    std::unique_ptr<PixelBufferPool> pool_;
    std::vector<uint8_t> scratch_;  // decoded chroma (and luma of odd sizes)
};

}  // namespace hollowkit
