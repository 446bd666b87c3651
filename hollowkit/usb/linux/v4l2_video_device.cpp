#include "hollowkit/usb/linux/v4l2_video_device.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>

#include "hollowkit/base/thread_name.h"

namespace hollowkit {

namespace {

// Bounds of the enumeration walks, against drivers that never say "done".
constexpr uint32_t kMaxFormats = 64;
constexpr uint32_t kMaxSizes = 256;
constexpr uint32_t kMaxIntervals = 256;
// Consecutive failed dequeues that end a stream even when each error looks
// passing (EIO is also how a driver reports one damaged transfer).
constexpr int kMaxFailuresInARow = 10;

int preference(uint32_t pixelFormat) {
    if (pixelFormat == kFourccNv12) return 0;
    if (pixelFormat == kFourccYuyv) return 1;
    return 2;
}

bool fitsFrame(uint32_t width, uint32_t height) {
    return width > 0 && height > 0 && width <= uint32_t{VideoFrame::kMaxDimension} &&
           height <= uint32_t{VideoFrame::kMaxDimension};
}

std::optional<FrameRateRange> rangeFor(const v4l2_fract& shortest) {
    if (shortest.numerator == 0 || shortest.denominator == 0) return std::nullopt;
    return FrameRateRange{static_cast<double>(shortest.denominator) / shortest.numerator, shortest.numerator,
                          shortest.denominator};
}

std::vector<FrameRateRange> frameRates(V4l2Io& io, int fd, uint32_t pixelFormat, uint32_t width, uint32_t height) {
    std::vector<FrameRateRange> ranges;
    for (uint32_t index = 0; index < kMaxIntervals; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = pixelFormat;
        interval.width = width;
        interval.height = height;
        if (io.ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) break;
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (auto range = rangeFor(interval.discrete)) ranges.push_back(*range);
            continue;
        }
        // Stepwise or continuous: the fastest end stands for the range.
        if (auto range = rangeFor(interval.stepwise.min)) ranges.push_back(*range);
        break;
    }
    return ranges;
}

// POLLHUP is how a vanished device shows; anything else is an error of the node.
VideoDeviceError pollFailure(short revents) {
    return VideoDeviceError{(revents & POLLHUP) != 0 ? ENODEV : EIO, "poll"};
}

bool endsStream(int code) {
    return code == ENODEV || code == ENXIO || code == EBADF || code == EINVAL;
}

}  // namespace

std::vector<VideoDeviceFormat> enumerateV4l2Formats(V4l2Io& io, int fd) {
    std::vector<VideoDeviceFormat> formats;
    for (uint32_t index = 0; index < kMaxFormats; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (io.ioctl(fd, VIDIOC_ENUM_FMT, &description) < 0) break;
        const uint32_t pixelFormat = description.pixelformat;
        if (!CaptureFrameConverter::supports(pixelFormat)) continue;
        for (uint32_t sizeIndex = 0; sizeIndex < kMaxSizes; ++sizeIndex) {
            v4l2_frmsizeenum size{};
            size.index = sizeIndex;
            size.pixel_format = pixelFormat;
            if (io.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0) break;
            const bool discrete = size.type == V4L2_FRMSIZE_TYPE_DISCRETE;
            const uint32_t width = discrete ? size.discrete.width : size.stepwise.max_width;
            const uint32_t height = discrete ? size.discrete.height : size.stepwise.max_height;
            if (fitsFrame(width, height)) {
                formats.push_back(VideoDeviceFormat{pixelFormat, static_cast<int>(width), static_cast<int>(height),
                                                    frameRates(io, fd, pixelFormat, width, height)});
            }
            if (!discrete) break;
        }
    }
    std::stable_sort(formats.begin(), formats.end(), [](const VideoDeviceFormat& a, const VideoDeviceFormat& b) {
        return preference(a.pixelFormat) < preference(b.pixelFormat);
    });
    return formats;
}

// V4l2CaptureDevice

V4l2CaptureDevice::V4l2CaptureDevice(V4l2Io& io, V4l2Fd node, VideoDeviceInfo info, const Clock& clock)
    : io_(io), node_(std::move(node)), info_(std::move(info)), clock_(clock) {}

Result<std::unique_ptr<V4l2CaptureDevice>, VideoDeviceError> V4l2CaptureDevice::open(V4l2Io& io,
                                                                                     const VideoDeviceInfo& info,
                                                                                     const Clock& clock) {
    const int fd = io.open(info.id, O_RDWR | O_NONBLOCK);
    if (fd < 0) return unexpected(VideoDeviceError{-fd, "open"});
    V4l2Fd node(io, fd);
    const auto captures = v4l2NodeCapturesVideo(io, fd);
    if (!captures) return unexpected(VideoDeviceError{-captures.error(), "VIDIOC_QUERYCAP"});
    if (!*captures) return unexpected(VideoDeviceError{ENODEV, "VIDIOC_QUERYCAP"});

    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (const int result = io.ioctl(fd, VIDIOC_G_FMT, &format); result < 0) {
        return unexpected(VideoDeviceError{-result, "VIDIOC_G_FMT"});
    }
    std::unique_ptr<V4l2CaptureDevice> device(new V4l2CaptureDevice(io, std::move(node), info, clock));
    device->formats_ = enumerateV4l2Formats(io, fd);
    device->current_ = V4l2StreamFormat{format.fmt.pix.pixelformat, static_cast<int>(format.fmt.pix.width),
                                        static_cast<int>(format.fmt.pix.height), format.fmt.pix.bytesperline,
                                        format.fmt.pix.sizeimage};
    return device;
}

V4l2CaptureDevice::~V4l2CaptureDevice() {
    stopStream();
}

Result<void, VideoDeviceError> V4l2CaptureDevice::applyFormat(const VideoDeviceFormat& format,
                                                              const FrameRateRange& range) {
    // The driver refuses a new format while buffers exist: stop, set, restart.
    const bool wasRunning = running_.load();
    stopStream();

    Result<void, VideoDeviceError> result;
    v4l2_format request{};
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.fmt.pix.width = static_cast<uint32_t>(format.width);
    request.fmt.pix.height = static_cast<uint32_t>(format.height);
    request.fmt.pix.pixelformat = format.pixelFormat;
    request.fmt.pix.field = V4L2_FIELD_ANY;
    if (const int set = io_.ioctl(node_.get(), VIDIOC_S_FMT, &request); set < 0) {
        result = unexpected(VideoDeviceError{-set, "VIDIOC_S_FMT"});
    } else {
        current_ = V4l2StreamFormat{request.fmt.pix.pixelformat, static_cast<int>(request.fmt.pix.width),
                                    static_cast<int>(request.fmt.pix.height), request.fmt.pix.bytesperline,
                                    request.fmt.pix.sizeimage};
        if (current_.pixelFormat != format.pixelFormat || current_.width != format.width ||
            current_.height != format.height) {
            // The driver chose another format than the one it listed.
            result = unexpected(VideoDeviceError{EINVAL, "VIDIOC_S_FMT"});
        } else if (range.minIntervalNumerator != 0 && range.minIntervalDenominator != 0) {
            v4l2_streamparm parameters{};
            parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            parameters.parm.capture.timeperframe = {range.minIntervalNumerator, range.minIntervalDenominator};
            if (const int setRate = io_.ioctl(node_.get(), VIDIOC_S_PARM, &parameters); setRate < 0) {
                result = unexpected(VideoDeviceError{-setRate, "VIDIOC_S_PARM"});
            }
        }
    }
    if (wasRunning) {
        if (auto restarted = startStream(); !restarted && handlers_.onEnd) handlers_.onEnd(restarted.error());
    }
    return result;
}

Result<void, VideoDeviceError> V4l2CaptureDevice::start(VideoStreamHandlers handlers) {
    if (running_.load()) return unexpected(VideoDeviceError{EBUSY, "start"});
    stopStream();  // a stream that ended by itself still has its thread to join
    handlers_ = std::move(handlers);
    return startStream();
}

void V4l2CaptureDevice::stop() {
    stopStream();
}

Result<void, VideoDeviceError> V4l2CaptureDevice::startStream() {
    auto stream = V4l2Stream::start(io_, node_.get(), current_, clock_);
    if (!stream) return unexpected(stream.error());
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) return unexpected(VideoDeviceError{errno, "eventfd"});
    wake_ = std::move(wake);
    running_ = true;
    thread_ = std::thread([this, owned = std::move(stream).value()]() mutable { run(std::move(owned)); });
    return {};
}

void V4l2CaptureDevice::stopStream() {
    if (!thread_.joinable()) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof(one));
    thread_.join();
    wake_.reset();
    running_ = false;
}

void V4l2CaptureDevice::run(std::unique_ptr<V4l2Stream> stream) {
    enterLibraryThread(kUsbStreamThreadLabel);
    std::optional<VideoDeviceError> ended;
    int failuresInARow = 0;
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{node_.get(), POLLIN, 0}, pollfd{wake_.get(), POLLIN, 0}};
        const int ready = io_.poll(fds, -1);
        if (ready < 0) {
            if (ready == -EINTR) continue;
            ended = VideoDeviceError{-ready, "poll"};
            break;
        }
        if (fds[1].revents != 0) break;  // stop()
        const short revents = fds[0].revents;
        if (revents == 0) continue;
        auto taken = stream->takeNewest();
        if (!taken) {
            if (endsStream(taken.error().code) || ++failuresInARow >= kMaxFailuresInARow) {
                ended = taken.error();
                break;
            }
            continue;
        }
        failuresInARow = 0;
        if (taken.value()) {
            if (handlers_.onFrame) handlers_.onFrame(taken.value());
        } else if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            // The node reports trouble and has no frame: nothing more will come.
            ended = pollFailure(revents);
            break;
        }
    }
    // Streaming off and the buffers released before anyone hears of the end.
    stream.reset();
    running_ = false;
    if (ended && handlers_.onEnd) handlers_.onEnd(*ended);
}

// V4l2VideoDeviceSource

V4l2VideoDeviceSource::V4l2VideoDeviceSource(V4l2Io& io, UsbSysfsLayout layout, const Clock& clock)
    : io_(io), layout_(std::move(layout)), clock_(clock) {}

std::vector<VideoDeviceInfo> V4l2VideoDeviceSource::devices() {
    std::vector<VideoDeviceInfo> devices;
    for (const UsbVideoNode& node : listUsbVideoNodes(layout_)) {
        VideoDeviceInfo info;
        info.id = node.devicePath.string();
        info.name = node.name.empty() ? node.device.product : node.name;
        info.usbVendorId = node.device.vendorId;
        const int fd = io_.open(info.id, O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            info.probeError = -fd;
            devices.push_back(std::move(info));
            continue;
        }
        const auto captures = v4l2NodeCapturesVideo(io_, fd);
        io_.close(fd);
        if (!captures) {
            info.probeError = -captures.error();
        } else if (!*captures) {
            continue;  // a metadata node
        }
        devices.push_back(std::move(info));
    }
    return devices;
}

Result<std::unique_ptr<VideoCaptureDevice>, VideoDeviceError> V4l2VideoDeviceSource::open(
    const VideoDeviceInfo& device) {
    auto opened = V4l2CaptureDevice::open(io_, device, clock_);
    if (!opened) return unexpected(opened.error());
    return std::unique_ptr<VideoCaptureDevice>(std::move(opened).value());
}

}  // namespace hollowkit
