#include "hollowkit/usb/linux/v4l2_stream.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace hollowkit {

namespace {

VideoDeviceError failure(int negativeErrno, const char* operation) {
    return VideoDeviceError{-negativeErrno, operation};
}

v4l2_buffer captureBuffer() {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    return buffer;
}

}  // namespace

V4l2Stream::V4l2Stream(V4l2Io& io, int fd, const V4l2StreamFormat& format, const Clock& clock)
    : io_(io), fd_(fd), format_(format), clock_(clock) {}

Result<std::unique_ptr<V4l2Stream>, VideoDeviceError> V4l2Stream::start(V4l2Io& io, int fd,
                                                                        const V4l2StreamFormat& format,
                                                                        const Clock& clock) {
    if (!CaptureFrameConverter::supports(format.pixelFormat)) {
        return unexpected(VideoDeviceError{EINVAL, "pixel format"});
    }
    std::unique_ptr<V4l2Stream> stream(new V4l2Stream(io, fd, format, clock));
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (const int result = io.ioctl(fd, VIDIOC_REQBUFS, &request); result < 0) {
        return unexpected(failure(result, "VIDIOC_REQBUFS"));
    }
    if (request.count == 0) return unexpected(VideoDeviceError{ENOMEM, "VIDIOC_REQBUFS"});
    for (uint32_t index = 0; index < request.count; ++index) {
        v4l2_buffer buffer = captureBuffer();
        buffer.index = index;
        if (const int result = io.ioctl(fd, VIDIOC_QUERYBUF, &buffer); result < 0) {
            return unexpected(failure(result, "VIDIOC_QUERYBUF"));
        }
        auto address = io.mmap(fd, buffer.length, static_cast<off_t>(buffer.m.offset));
        if (!address) return unexpected(VideoDeviceError{address.error(), "mmap"});
        stream->buffers_.emplace_back(io, address.value(), buffer.length);
    }
    for (uint32_t index = 0; index < stream->buffers_.size(); ++index) {
        if (const int result = stream->queue(index); result < 0) return unexpected(failure(result, "VIDIOC_QBUF"));
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (const int result = io.ioctl(fd, VIDIOC_STREAMON, &type); result < 0) {
        return unexpected(failure(result, "VIDIOC_STREAMON"));
    }
    stream->streaming_ = true;
    return stream;
}

V4l2Stream::~V4l2Stream() {
    // Each step may fail once the device is gone; the buffers are released
    // all the same.
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        io_.ioctl(fd_, VIDIOC_STREAMOFF, &type);
    }
    const bool hadBuffers = !buffers_.empty();
    buffers_.clear();
    if (hadBuffers) {
        v4l2_requestbuffers release{};
        release.count = 0;
        release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        release.memory = V4L2_MEMORY_MMAP;
        io_.ioctl(fd_, VIDIOC_REQBUFS, &release);
    }
}

int V4l2Stream::queue(uint32_t index) {
    v4l2_buffer buffer = captureBuffer();
    buffer.index = index;
    return io_.ioctl(fd_, VIDIOC_QBUF, &buffer);
}

Result<VideoFrame, VideoDeviceError> V4l2Stream::takeNewest() {
    v4l2_buffer newest = captureBuffer();
    bool haveNewest = false;
    for (;;) {
        v4l2_buffer buffer = captureBuffer();
        const int result = io_.ioctl(fd_, VIDIOC_DQBUF, &buffer);
        if (result == -EAGAIN) break;
        if (result < 0) {
            if (haveNewest) queue(newest.index);
            return unexpected(failure(result, "VIDIOC_DQBUF"));
        }
        if (haveNewest) {
            // Late: a newer picture is already here.
            ++dropped_;
            if (const int requeued = queue(newest.index); requeued < 0) {
                return unexpected(failure(requeued, "VIDIOC_QBUF"));
            }
        }
        newest = buffer;
        haveNewest = true;
    }
    if (!haveNewest) return VideoFrame{};

    VideoFrame frame;
    const bool damaged = (newest.flags & V4L2_BUF_FLAG_ERROR) != 0;
    if (newest.index < buffers_.size() && !damaged) {
        const V4l2Mapping& mapping = buffers_[newest.index];
        const size_t used = std::min<size_t>(newest.bytesused, mapping.size());
        TimePoint pts = clock_.now();
        const bool monotonic =
            (newest.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        if (monotonic && (newest.timestamp.tv_sec != 0 || newest.timestamp.tv_usec != 0)) {
            pts = TimePoint(std::chrono::duration_cast<Duration>(std::chrono::seconds(newest.timestamp.tv_sec) +
                                                                 std::chrono::microseconds(newest.timestamp.tv_usec)));
        }
        const RawPicture picture{format_.pixelFormat, format_.width, format_.height, format_.bytesPerLine,
                                 ByteView(mapping.data(), used)};
        frame = converter_.convert(picture, pts);
    }
    if (const int requeued = queue(newest.index); requeued < 0) return unexpected(failure(requeued, "VIDIOC_QBUF"));
    if (frame) {
        ++delivered_;
    } else {
        ++dropped_;
    }
    return frame;
}

}  // namespace hollowkit
