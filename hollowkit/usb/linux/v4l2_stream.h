#pragma once

// V4l2Stream: one running mmap capture stream of a video node: the driver's
// buffers requested, mapped and queued, streaming on. takeNewest() takes
// every filled buffer the driver holds, keeps only the newest (older ones
// go straight back: a late frame is dropped, never queued), converts it
// into a pooled NV12 frame and hands the buffer back before the frame goes
// anywhere. Destruction turns streaming off, unmaps and frees the buffers,
// and also copes with a node whose device has gone.
//
// Not thread-safe: the capture thread owns it while it runs. The node (fd)
// is borrowed and must outlive the stream.

#include <cstdint>
#include <memory>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/result.h"
#include "hollowkit/usb/capture_frame_converter.h"
#include "hollowkit/usb/linux/v4l2_io.h"
#include "hollowkit/usb/video_device.h"

namespace hollowkit {

// The format in use, as VIDIOC_G_FMT / S_FMT reported it.
struct V4l2StreamFormat {
    uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    uint32_t bytesPerLine = 0;
    uint32_t sizeImage = 0;

    bool operator==(const V4l2StreamFormat&) const = default;
};

class V4l2Stream {
public:
    static constexpr uint32_t kBufferCount = 4;

    // Requests, maps and queues the buffers and turns streaming on. The
    // node should be open non-blocking, so takeNewest() never waits.
    // `clock` stamps frames whose driver gives no monotonic time.
    static Result<std::unique_ptr<V4l2Stream>, VideoDeviceError> start(V4l2Io& io, int fd,
                                                                       const V4l2StreamFormat& format,
                                                                       const Clock& clock);
    ~V4l2Stream();
    V4l2Stream(const V4l2Stream&) = delete;
    V4l2Stream& operator=(const V4l2Stream&) = delete;

    // The newest filled frame (older filled ones are requeued and counted
    // as dropped); a null frame when none is ready or the newest could not
    // be converted. The error is the driver's when dequeuing or requeuing
    // fails.
    Result<VideoFrame, VideoDeviceError> takeNewest();

    const V4l2StreamFormat& format() const { return format_; }
    uint64_t framesDelivered() const { return delivered_; }
    uint64_t framesDropped() const { return dropped_; }

private:
    V4l2Stream(V4l2Io& io, int fd, const V4l2StreamFormat& format, const Clock& clock);
    int queue(uint32_t index);

    V4l2Io& io_;
    const int fd_;
    const V4l2StreamFormat format_;
    const Clock& clock_;
    std::vector<V4l2Mapping> buffers_;
    bool streaming_ = false;
    CaptureFrameConverter converter_;
    uint64_t delivered_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace hollowkit
