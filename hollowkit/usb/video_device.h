#pragma once

// The USB camera's picture source: the external capture devices present
// (VideoDeviceSource) and one opened device (VideoCaptureDevice) with its
// formats, the format in use and the stream of frames. On Linux both are
// V4L2 (linux/v4l2_video_device.h); tests run the same backend over a
// FakeV4l2Device and a fake sysfs tree.
//
// A VideoCaptureDevice is used from one thread at a time (the USB camera's
// capture queue). Once started it delivers every frame it keeps, converted
// to NV12 in pooled memory and stamped on CLOCK_MONOTONIC, from a thread of
// its own; frames that arrive while the handler is busy are dropped, never
// queued. stop() returns once no handler runs any more.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/result.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

// One external capture device as discovery found it.
struct VideoDeviceInfo {
    std::string id;    // where it is opened ("/dev/video0")
    std::string name;  // its own name ("Osmo Pocket 3")
    std::optional<uint16_t> usbVendorId;
    // Why the device could not be opened or asked what it is (an errno
    // value); 0 when it was seen to capture video.
    int probeError = 0;

    bool operator==(const VideoDeviceInfo&) const = default;
};

// Frame rates the device offers for one format. The shortest frame
// interval is kept as the device states it (seconds = numerator /
// denominator), so choosing the range asks for exactly that interval.
struct FrameRateRange {
    double maxFramesPerSecond = 0;
    uint32_t minIntervalNumerator = 0;
    uint32_t minIntervalDenominator = 0;

    bool operator==(const FrameRateRange&) const = default;
};

struct VideoDeviceFormat {
    uint32_t pixelFormat = 0;  // the device's fourcc (NV12, YUYV, MJPG)
    int width = 0;
    int height = 0;
    std::vector<FrameRateRange> frameRateRanges;

    bool operator==(const VideoDeviceFormat&) const = default;
};

struct VideoDeviceError {
    int code = 0;           // errno value
    std::string operation;  // what failed ("VIDIOC_S_FMT", "open")

    // The system's sentence for `code` ("Device or resource busy").
    std::string description() const;
    // "VIDIOC_S_FMT: Device or resource busy".
    std::string toString() const;

    bool operator==(const VideoDeviceError&) const = default;
};

struct VideoStreamHandlers {
    std::function<void(const VideoFrame&)> onFrame;
    // At most once, when the stream stopped by itself (the device went
    // away, a fatal error); never after stop().
    std::function<void(const VideoDeviceError&)> onEnd;
};

class VideoCaptureDevice {
public:
    virtual ~VideoCaptureDevice() = default;

    virtual const VideoDeviceInfo& info() const = 0;
    // Every format the device offers that can be delivered, in the device's
    // order with uncompressed formats first.
    virtual const std::vector<VideoDeviceFormat>& formats() const = 0;

    // Makes `format` current with the range's shortest interval as both the
    // shortest and the longest frame interval. While streaming the stream
    // is restarted in the new format; on failure it goes on as it was.
    virtual Result<void, VideoDeviceError> applyFormat(const VideoDeviceFormat& format,
                                                       const FrameRateRange& range) = 0;

    virtual Result<void, VideoDeviceError> start(VideoStreamHandlers handlers) = 0;
    // Ends the stream; no handler runs once it returns. Not from a handler.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

class VideoDeviceSource {
public:
    virtual ~VideoDeviceSource() = default;

    // The external capture devices present now, in a stable order. Fresh
    // discovery on every call. Any thread.
    virtual std::vector<VideoDeviceInfo> devices() = 0;
    // Opens a device for capture and reads its formats.
    virtual Result<std::unique_ptr<VideoCaptureDevice>, VideoDeviceError> open(const VideoDeviceInfo& device) = 0;
};

}  // namespace hollowkit
