#pragma once

// The Linux picture source of the USB camera: V4L2 through the V4l2Io seam.
//
// V4l2VideoDeviceSource lists the video nodes of USB devices as sysfs shows
// them (metadata nodes left out after VIDIOC_QUERYCAP) and opens one.
// V4l2CaptureDevice enumerates the node's formats (ENUM_FMT, FRAMESIZES,
// FRAMEINTERVALS), applies one (S_FMT, S_PARM) and streams on a thread of
// its own ("HollowKit.USBStream"), which polls the node together with an
// eventfd that stop() signals. Each wake-up takes only the newest frame.
//
// V4l2CaptureDevice: one thread at a time calls its methods (the USB
// camera's capture queue); handlers run on the stream thread, or on the
// caller's thread when a format change cannot restart the stream.

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/usb/linux/sysfs_usb_bus.h"
#include "hollowkit/usb/linux/v4l2_io.h"
#include "hollowkit/usb/linux/v4l2_stream.h"
#include "hollowkit/usb/video_device.h"

namespace hollowkit {

// The label of each capture device's stream thread.
inline constexpr const char* kUsbStreamThreadLabel = "HollowKit.USBStream";

// The formats a node offers that the converter handles, in the node's order
// with NV12 first, then YUYV, then MJPEG. Discrete frame sizes are listed
// as they are; of a stepwise or continuous size range only the largest
// size. Each discrete interval is one range; a stepwise interval range is
// one range at its shortest interval. Failing enumeration ioctls end that
// level of the walk.
std::vector<VideoDeviceFormat> enumerateV4l2Formats(V4l2Io& io, int fd);

class V4l2CaptureDevice final : public VideoCaptureDevice {
public:
    // Takes the open node; reads the formats and the format in use.
    static Result<std::unique_ptr<V4l2CaptureDevice>, VideoDeviceError> open(V4l2Io& io, const VideoDeviceInfo& info,
                                                                            const Clock& clock);
    ~V4l2CaptureDevice() override;
    V4l2CaptureDevice(const V4l2CaptureDevice&) = delete;
    V4l2CaptureDevice& operator=(const V4l2CaptureDevice&) = delete;

    const VideoDeviceInfo& info() const override { return info_; }
    const std::vector<VideoDeviceFormat>& formats() const override { return formats_; }
    Result<void, VideoDeviceError> applyFormat(const VideoDeviceFormat& format, const FrameRateRange& range) override;
    Result<void, VideoDeviceError> start(VideoStreamHandlers handlers) override;
    void stop() override;
    bool isRunning() const override { return running_.load(); }

    const V4l2StreamFormat& currentFormat() const { return current_; }

private:
    V4l2CaptureDevice(V4l2Io& io, V4l2Fd node, VideoDeviceInfo info, const Clock& clock);
    Result<void, VideoDeviceError> startStream();
    void stopStream();
    void run(std::unique_ptr<V4l2Stream> stream);

    V4l2Io& io_;
    V4l2Fd node_;
    const VideoDeviceInfo info_;
    const Clock& clock_;
    std::vector<VideoDeviceFormat> formats_;
    V4l2StreamFormat current_;
    VideoStreamHandlers handlers_;
    UniqueFd wake_;  // eventfd: written by stopStream()
    std::atomic<bool> running_{false};
    std::thread thread_;
};

class V4l2VideoDeviceSource final : public VideoDeviceSource {
public:
    // `io` and `clock` must outlive the source and every device it opens.
    explicit V4l2VideoDeviceSource(V4l2Io& io, UsbSysfsLayout layout = {}, const Clock& clock = Clock::system());

    // The video nodes of USB devices that capture video, by USB device and
    // node number; nodes that cannot be opened or asked are listed with the
    // error (they may be the camera, kept from us), metadata nodes are not.
    std::vector<VideoDeviceInfo> devices() override;
    Result<std::unique_ptr<VideoCaptureDevice>, VideoDeviceError> open(const VideoDeviceInfo& device) override;

private:
    V4l2Io& io_;
    const UsbSysfsLayout layout_;
    const Clock& clock_;
};

}  // namespace hollowkit
