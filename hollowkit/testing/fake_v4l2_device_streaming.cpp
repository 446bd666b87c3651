#include "hollowkit/testing/fake_v4l2_device.h"

#include <linux/videodev2.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

namespace {

constexpr uint32_t kMaxBuffers = 32;
// Offsets handed out by QUERYBUF are only keys for mmap; page-sized steps
// keep them looking like the kernel's.
constexpr uint32_t kOffsetStep = 4096;

double intervalSeconds(FakeV4l2Device::Fraction f) {
    return f.denominator == 0 ? 0.0 : static_cast<double>(f.numerator) / f.denominator;
}

timeval toTimeval(TimePoint t) {
    const auto since = t.time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(micros / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    return tv;
}

}  // namespace

FakeV4l2Device::CurrentFormat FakeV4l2Device::formatFor(uint32_t pixelFormat, uint32_t width, uint32_t height) const {
    CurrentFormat f{pixelFormat, width, height, 0, 0};
    switch (pixelFormat) {
        case V4L2_PIX_FMT_NV12:
            f.bytesPerLine = width + linePadding_;
            f.sizeImage = f.bytesPerLine * height + f.bytesPerLine * ((height + 1) / 2);
            break;
        case V4L2_PIX_FMT_YUYV:
            f.bytesPerLine = width * 2 + linePadding_;
            f.sizeImage = f.bytesPerLine * height;
            break;
        default:  // compressed: the largest frame the device may send
            f.bytesPerLine = 0;
            f.sizeImage = width * height * 2 + 4096;
            break;
    }
    return f;
}

void FakeV4l2Device::resetFormatLocked() {
    if (formats_.empty() || formats_.front().sizes.empty()) {
        format_ = CurrentFormat{};
        interval_ = Fraction{};
        return;
    }
    const Format& first = formats_.front();
    const FrameSize& size = first.sizes.front();
    format_ = formatFor(first.pixelFormat, size.width, size.height);
    if (size.stepwiseIntervals) {
        interval_ = (*size.stepwiseIntervals)[0];
    } else if (!size.intervals.empty()) {
        interval_ = size.intervals.front();
    }
}

void FakeV4l2Device::drainReadyLocked() {
    const auto owner = nodes_.find(queueOwner_);
    if (owner == nodes_.end()) return;
    char scratch[256];
    while (::read(owner->second.readFd, scratch, sizeof(scratch)) > 0) {
    }
}

void FakeV4l2Device::stopStreamingLocked() {
    streaming_ = false;
    queued_.clear();
    done_.clear();
    for (Buffer& buffer : buffers_) buffer.state = BufferState::dequeued;
    drainReadyLocked();
    frameReady_.notify_all();
}

void FakeV4l2Device::freeBuffersLocked() {
    // Mapped memory stays alive through mappings_ until unmapped.
    buffers_.clear();
}

void FakeV4l2Device::fillBuffer(Buffer& buffer, uint32_t sequence) {
    std::vector<uint8_t>& memory = *buffer.memory;
    const uint32_t w = format_.width;
    const uint32_t h = format_.height;
    buffer.sequence = sequence;
    buffer.timestamp = clock_.now();
    switch (format_.pixelFormat) {
        case V4L2_PIX_FMT_NV12: {
            const uint32_t stride = format_.bytesPerLine;
            for (uint32_t y = 0; y < h; ++y) {
                uint8_t* row = memory.data() + size_t{y} * stride;
                for (uint32_t x = 0; x < w; ++x) row[x] = patternLuma(sequence, x, y, w, h);
            }
            std::fill(memory.begin() + size_t{stride} * h, memory.begin() + format_.sizeImage, uint8_t{128});
            buffer.bytesUsed = format_.sizeImage;
            break;
        }
        case V4L2_PIX_FMT_YUYV: {
            const uint32_t stride = format_.bytesPerLine;
            for (uint32_t y = 0; y < h; ++y) {
                uint8_t* row = memory.data() + size_t{y} * stride;
                for (uint32_t x = 0; x < w; ++x) {
                    row[2 * x] = patternLuma(sequence, x, y, w, h);
                    row[2 * x + 1] = 128;
                }
            }
            buffer.bytesUsed = format_.sizeImage;
            break;
        }
        case V4L2_PIX_FMT_MJPEG: {
            const uint32_t cw = (w + 1) / 2;
            const uint32_t ch = (h + 1) / 2;
            std::vector<uint8_t> luma(size_t{w} * h);
            for (uint32_t y = 0; y < h; ++y) {
                for (uint32_t x = 0; x < w; ++x) luma[size_t{y} * w + x] = patternLuma(sequence, x, y, w, h);
            }
            std::vector<uint8_t> chroma(size_t{cw} * ch, 128);
            const unsigned char* planes[3] = {luma.data(), chroma.data(), chroma.data()};
            const int strides[3] = {static_cast<int>(w), static_cast<int>(cw), static_cast<int>(cw)};
            tjhandle handle = tjInitCompress();
            unsigned char* jpeg = nullptr;
            unsigned long jpegSize = 0;
            const int status =
                handle == nullptr
                    ? -1
                    : tjCompressFromYUVPlanes(handle, planes, static_cast<int>(w), strides, static_cast<int>(h),
                                              TJSAMP_420, &jpeg, &jpegSize, 85, TJFLAG_FASTDCT);
            if (status == 0) {
                const size_t used = std::min<size_t>(jpegSize, memory.size());
                std::memcpy(memory.data(), jpeg, used);
                buffer.bytesUsed = static_cast<uint32_t>(used);
            } else {
                buffer.bytesUsed = 0;
            }
            if (jpeg != nullptr) tjFree(jpeg);
            if (handle != nullptr) tjDestroy(handle);
            break;
        }
        default:
            std::fill(memory.begin(), memory.end(), uint8_t{0});
            buffer.bytesUsed = format_.sizeImage;
            break;
    }
}

int FakeV4l2Device::captureIoctl(int fd, OpenNode& node, unsigned long request, void* arg,
                                 MutexLock& lock) {
    const auto findFormat = [&](uint32_t pixelFormat) HK_REQUIRES(mutex_) -> const Format* {
        for (const Format& format : formats_) {
            if (format.pixelFormat == pixelFormat) return &format;
        }
        return nullptr;
    };
    const auto findSize = [&](const Format& format, uint32_t width, uint32_t height) -> const FrameSize* {
        for (const FrameSize& size : format.sizes) {
            if (size.width == width && size.height == height) return &size;
        }
        return nullptr;
    };
    const bool ownsQueue = queueOwner_ < 0 || queueOwner_ == fd;

    switch (request) {
        case VIDIOC_ENUM_FMT: {
            auto* desc = static_cast<v4l2_fmtdesc*>(arg);
            if (desc->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc->index >= formats_.size()) return -EINVAL;
            const Format& format = formats_[desc->index];
            const uint32_t index = desc->index;
            std::memset(desc, 0, sizeof(*desc));
            desc->index = index;
            desc->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            desc->pixelformat = format.pixelFormat;
            desc->flags = format.pixelFormat == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
            copyName(reinterpret_cast<char*>(desc->description), sizeof(desc->description), format.description);
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* sizes = static_cast<v4l2_frmsizeenum*>(arg);
            const Format* format = findFormat(sizes->pixel_format);
            if (format == nullptr || sizes->index >= format->sizes.size()) return -EINVAL;
            sizes->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            sizes->discrete.width = format->sizes[sizes->index].width;
            sizes->discrete.height = format->sizes[sizes->index].height;
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* intervals = static_cast<v4l2_frmivalenum*>(arg);
            const Format* format = findFormat(intervals->pixel_format);
            const FrameSize* size = format ? findSize(*format, intervals->width, intervals->height) : nullptr;
            if (size == nullptr) return -EINVAL;
            if (size->stepwiseIntervals) {
                if (intervals->index != 0) return -EINVAL;
                const auto& [minimum, maximum, step] = *size->stepwiseIntervals;
                intervals->type = V4L2_FRMIVAL_TYPE_STEPWISE;
                intervals->stepwise.min = {minimum.numerator, minimum.denominator};
                intervals->stepwise.max = {maximum.numerator, maximum.denominator};
                intervals->stepwise.step = {step.numerator, step.denominator};
                return 0;
            }
            if (intervals->index >= size->intervals.size()) return -EINVAL;
            intervals->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            const Fraction f = size->intervals[intervals->index];
            intervals->discrete = {f.numerator, f.denominator};
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT:
        case VIDIOC_TRY_FMT: {
            auto* fmt = static_cast<v4l2_format*>(arg);
            if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            CurrentFormat chosen = format_;
            if (request != VIDIOC_G_FMT) {
                if (formats_.empty()) return -EINVAL;
                const Format* format = findFormat(fmt->fmt.pix.pixelformat);
                if (format == nullptr) format = &formats_.front();
                if (format->sizes.empty()) return -EINVAL;
                // The nearest size the format offers, as drivers adjust.
                const FrameSize* best = &format->sizes.front();
                const auto distance = [&](const FrameSize& s) {
                    return std::llabs(int64_t{s.width} - fmt->fmt.pix.width) +
                           std::llabs(int64_t{s.height} - fmt->fmt.pix.height);
                };
                for (const FrameSize& size : format->sizes) {
                    if (distance(size) < distance(*best)) best = &size;
                }
                chosen = formatFor(format->pixelFormat, best->width, best->height);
                if (request == VIDIOC_S_FMT) {
                    if (streaming_ || !buffers_.empty()) return -EBUSY;
                    format_ = chosen;
                    interval_ = best->stepwiseIntervals ? (*best->stepwiseIntervals)[0]
                                                        : (best->intervals.empty() ? Fraction{} : best->intervals[0]);
                }
            }
            std::memset(&fmt->fmt.pix, 0, sizeof(fmt->fmt.pix));
            fmt->fmt.pix.width = chosen.width;
            fmt->fmt.pix.height = chosen.height;
            fmt->fmt.pix.pixelformat = chosen.pixelFormat;
            fmt->fmt.pix.field = V4L2_FIELD_NONE;
            fmt->fmt.pix.bytesperline = chosen.bytesPerLine;
            fmt->fmt.pix.sizeimage = chosen.sizeImage;
            fmt->fmt.pix.colorspace = V4L2_COLORSPACE_REC709;
            return 0;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto* parm = static_cast<v4l2_streamparm*>(arg);
            if (parm->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (request == VIDIOC_S_PARM) {
                if (streaming_) return -EBUSY;
                const Format* format = findFormat(format_.pixelFormat);
                const FrameSize* size = format ? findSize(*format, format_.width, format_.height) : nullptr;
                const v4l2_fract asked = parm->parm.capture.timeperframe;
                if (size != nullptr && asked.denominator != 0 && asked.numerator != 0) {
                    const double wanted = static_cast<double>(asked.numerator) / asked.denominator;
                    if (size->stepwiseIntervals) {
                        const auto& [minimum, maximum, step] = *size->stepwiseIntervals;
                        if (wanted <= intervalSeconds(minimum)) {
                            interval_ = minimum;
                        } else if (wanted >= intervalSeconds(maximum)) {
                            interval_ = maximum;
                        } else {
                            interval_ = {asked.numerator, asked.denominator};
                        }
                    } else if (!size->intervals.empty()) {
                        Fraction best = size->intervals.front();
                        for (const Fraction& f : size->intervals) {
                            if (std::fabs(intervalSeconds(f) - wanted) < std::fabs(intervalSeconds(best) - wanted)) {
                                best = f;
                            }
                        }
                        interval_ = best;
                    }
                }
            }
            std::memset(&parm->parm, 0, sizeof(parm->parm));
            parm->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            parm->parm.capture.timeperframe = {interval_.numerator, interval_.denominator};
            parm->parm.capture.readbuffers = 0;
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* req = static_cast<v4l2_requestbuffers*>(arg);
            if (req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || req->memory != V4L2_MEMORY_MMAP) return -EINVAL;
            if (!ownsQueue || streaming_) return -EBUSY;
            for (const Buffer& buffer : buffers_) {
                if (mappings_.count(buffer.memory->data()) != 0) return -EBUSY;
            }
            freeBuffersLocked();
            queued_.clear();
            done_.clear();
            drainReadyLocked();
            req->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
            if (req->count == 0) {
                queueOwner_ = -1;
                return 0;
            }
            const uint32_t count = std::min(req->count, kMaxBuffers);
            for (uint32_t i = 0; i < count; ++i) {
                Buffer buffer;
                buffer.memory = std::make_shared<std::vector<uint8_t>>(format_.sizeImage);
                buffer.offset = i * kOffsetStep;
                buffers_.push_back(std::move(buffer));
            }
            req->count = count;
            queueOwner_ = fd;
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_DQBUF: {
            auto* buf = static_cast<v4l2_buffer*>(arg);
            if (buf->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (request != VIDIOC_QUERYBUF && !ownsQueue) return -EBUSY;
            const auto describe = [&](uint32_t index) HK_REQUIRES(mutex_) {
                const Buffer& buffer = buffers_[index];
                std::memset(buf, 0, sizeof(*buf));
                buf->index = index;
                buf->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
                buf->memory = V4L2_MEMORY_MMAP;
                buf->m.offset = buffer.offset;
                buf->length = static_cast<uint32_t>(buffer.memory->size());
                buf->field = V4L2_FIELD_NONE;
                buf->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE;
                if (mappings_.count(buffer.memory->data()) != 0) buf->flags |= V4L2_BUF_FLAG_MAPPED;
                if (buffer.state == BufferState::queued) buf->flags |= V4L2_BUF_FLAG_QUEUED;
                if (buffer.state == BufferState::done) buf->flags |= V4L2_BUF_FLAG_DONE;
                if (buffer.state == BufferState::done || request == VIDIOC_DQBUF) {
                    buf->bytesused = buffer.bytesUsed;
                    buf->sequence = buffer.sequence;
                    buf->timestamp = toTimeval(buffer.timestamp);
                }
            };
            if (request == VIDIOC_QUERYBUF) {
                if (buf->index >= buffers_.size()) return -EINVAL;
                describe(buf->index);
                return 0;
            }
            if (request == VIDIOC_QBUF) {
                if (buf->memory != V4L2_MEMORY_MMAP || buf->index >= buffers_.size()) return -EINVAL;
                Buffer& buffer = buffers_[buf->index];
                if (buffer.state != BufferState::dequeued) return -EINVAL;
                buffer.state = BufferState::queued;
                queued_.push_back(buf->index);
                describe(buf->index);
                return 0;
            }
            // DQBUF
            const bool nonBlocking = node.nonBlocking;
            for (;;) {
                // Looked up again after every wait: the node may have been
                // closed on another thread meanwhile.
                const auto self = nodes_.find(fd);
                if (self == nodes_.end()) return -EBADF;
                if (vanished_) return -ENODEV;
                if (!done_.empty()) {
                    const uint32_t index = done_.front();
                    done_.pop_front();
                    buffers_[index].state = BufferState::dequeued;
                    char ready;
                    [[maybe_unused]] const ssize_t got = ::read(self->second.readFd, &ready, 1);
                    describe(index);
                    return 0;
                }
                if (!streaming_) return -EINVAL;
                if (nonBlocking) return -EAGAIN;
                lock.wait(frameReady_);
            }
        }
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF: {
            const auto* type = static_cast<const int*>(arg);
            if (*type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (!ownsQueue) return -EBUSY;
            if (request == VIDIOC_STREAMON) {
                if (buffers_.empty()) return -EINVAL;
                if (!streaming_) {
                    streaming_ = true;
                    sequence_ = 0;
                }
                return 0;
            }
            stopStreamingLocked();
            return 0;
        }
        default:
            return -ENOTTY;
    }
}

}  // namespace hollowkit
