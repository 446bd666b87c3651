#include "hollowkit/testing/fake_v4l2_device.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

namespace {

constexpr uint32_t kPatternColumns = 16;
constexpr uint8_t kBitOn = 200;
constexpr uint8_t kBitOff = 40;

bool isCameraClass(uint32_t which) {
    return which == V4L2_CTRL_WHICH_CUR_VAL || which == V4L2_CTRL_CLASS_CAMERA;
}

}  // namespace

FakeV4l2Device::FakeV4l2Device(const Clock& clock, std::string path) : clock_(clock), path_(std::move(path)) {
    motionUpdated_ = clock_.now();
    for (auto& control : pocketControls()) controls_[control.id] = control;
    formats_ = pocketFormats();
    resetFormatLocked();
}

FakeV4l2Device::~FakeV4l2Device() {
    for (auto& [fd, node] : nodes_) {
        ::close(node.readFd);
        if (node.writeFd >= 0) ::close(node.writeFd);
    }
}

std::vector<FakeV4l2Device::Control> FakeV4l2Device::pocketControls() {
    constexpr int64_t kPanLimit = 170 * 3600;
    constexpr int64_t kTiltLimit = 90 * 3600;
    return {
        {V4L2_CID_PAN_ABSOLUTE, "Pan, Absolute", -kPanLimit, kPanLimit, 1, 0, 0, 0},
        {V4L2_CID_TILT_ABSOLUTE, "Tilt, Absolute", -kTiltLimit, kTiltLimit, 1, 0, 0, 0},
        {V4L2_CID_ZOOM_ABSOLUTE, "Zoom, Absolute", 100, 400, 1, 100, 100, 0},
        {V4L2_CID_PAN_SPEED, "Pan, Speed", -35, 35, 1, 0, 0, 0},
        {V4L2_CID_TILT_SPEED, "Tilt, Speed", -35, 35, 1, 0, 0, 0},
    };
}

std::vector<FakeV4l2Device::Format> FakeV4l2Device::pocketFormats() {
    const Fraction fps60{1, 60};
    const Fraction fps30{1, 30};
    return {
        {V4L2_PIX_FMT_NV12, "Y/UV 4:2:0", {{1920, 1080, {fps60, fps30}, {}}, {1280, 720, {fps60, fps30}, {}}}},
        {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", {{640, 480, {fps30}, {}}}},
        {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{3840, 2160, {fps30}, {}}, {1920, 1080, {fps60, fps30}, {}}}},
    };
}

void FakeV4l2Device::setCardName(std::string name) {
    MutexLock lock(mutex_);
    cardName_ = std::move(name);
}

void FakeV4l2Device::setFormats(std::vector<Format> formats) {
    MutexLock lock(mutex_);
    formats_ = std::move(formats);
    resetFormatLocked();
}

void FakeV4l2Device::setControl(Control control) {
    MutexLock lock(mutex_);
    integrateMotion();
    if (control.id == V4L2_CID_PAN_ABSOLUTE) panPosition_ = static_cast<double>(control.value);
    if (control.id == V4L2_CID_TILT_ABSOLUTE) tiltPosition_ = static_cast<double>(control.value);
    controls_[control.id] = std::move(control);
}

void FakeV4l2Device::removeControl(uint32_t id) {
    MutexLock lock(mutex_);
    controls_.erase(id);
}

void FakeV4l2Device::setControlRange(uint32_t id, int64_t minimum, int64_t maximum) {
    MutexLock lock(mutex_);
    if (auto* control = findControl(id)) {
        control->minimum = minimum;
        control->maximum = maximum;
    }
}

void FakeV4l2Device::setMotionRate(double arcsecondsPerSecondPerUnit) {
    MutexLock lock(mutex_);
    integrateMotion();
    motionRate_ = arcsecondsPerSecondPerUnit;
}

void FakeV4l2Device::setLinePadding(uint32_t bytes) {
    MutexLock lock(mutex_);
    linePadding_ = bytes;
    format_ = formatFor(format_.pixelFormat, format_.width, format_.height);
}

void FakeV4l2Device::addMetadataNode(std::string path) {
    MutexLock lock(mutex_);
    metadataPaths_.push_back(std::move(path));
}

void FakeV4l2Device::failIoctl(unsigned long request, int error, int times) {
    MutexLock lock(mutex_);
    failures_[request] = Failure{error, times};
}

void FakeV4l2Device::failEveryIoctl(int error) {
    MutexLock lock(mutex_);
    failEvery_ = error;
}

void FakeV4l2Device::failOpen(int error) {
    MutexLock lock(mutex_);
    failOpen_ = error;
}

void FakeV4l2Device::clearFailures() {
    MutexLock lock(mutex_);
    failures_.clear();
    failEvery_.reset();
    failOpen_.reset();
}

void FakeV4l2Device::vanish() {
    MutexLock lock(mutex_);
    vanished_ = true;
    streaming_ = false;
    queued_.clear();
    done_.clear();
    // Closing the write ends makes every open node report POLLHUP.
    for (auto& [fd, node] : nodes_) {
        if (node.writeFd >= 0) {
            ::close(node.writeFd);
            node.writeFd = -1;
        }
    }
    frameReady_.notify_all();
}

bool FakeV4l2Device::vanished() const {
    MutexLock lock(mutex_);
    return vanished_;
}

bool FakeV4l2Device::produceFrame() {
    MutexLock lock(mutex_);
    if (!streaming_ || vanished_) {
        return false;
    }
    const uint32_t sequence = sequence_++;
    if (queued_.empty()) {
        ++dropped_;
        return false;
    }
    const uint32_t index = queued_.front();
    queued_.pop_front();
    Buffer& buffer = buffers_[index];
    fillBuffer(buffer, sequence);
    buffer.state = BufferState::done;
    done_.push_back(index);
    const auto owner = nodes_.find(queueOwner_);
    if (owner != nodes_.end() && owner->second.writeFd >= 0) {
        const char ready = 1;
        [[maybe_unused]] const ssize_t written = ::write(owner->second.writeFd, &ready, 1);
    }
    ++delivered_;
    frameReady_.notify_all();
    return true;
}

int FakeV4l2Device::produceFrames(int count) {
    int delivered = 0;
    for (int i = 0; i < count; ++i) {
        if (produceFrame()) ++delivered;
    }
    return delivered;
}

uint32_t FakeV4l2Device::framesDelivered() const {
    MutexLock lock(mutex_);
    return delivered_;
}

uint32_t FakeV4l2Device::framesDropped() const {
    MutexLock lock(mutex_);
    return dropped_;
}

std::vector<FakeV4l2Device::Call> FakeV4l2Device::calls() const {
    MutexLock lock(mutex_);
    return calls_;
}

void FakeV4l2Device::clearCalls() {
    MutexLock lock(mutex_);
    calls_.clear();
}

std::optional<int64_t> FakeV4l2Device::controlValue(uint32_t id) const {
    MutexLock lock(mutex_);
    integrateMotion();
    const auto it = controls_.find(id);
    if (it == controls_.end()) return std::nullopt;
    return it->second.value;
}

int FakeV4l2Device::openNodeCount() const {
    MutexLock lock(mutex_);
    return static_cast<int>(nodes_.size());
}

int FakeV4l2Device::openAttempts() const {
    MutexLock lock(mutex_);
    return openAttempts_;
}

int FakeV4l2Device::mappedBufferCount() const {
    MutexLock lock(mutex_);
    return static_cast<int>(mappings_.size());
}

int FakeV4l2Device::bufferCount() const {
    MutexLock lock(mutex_);
    return static_cast<int>(buffers_.size());
}

bool FakeV4l2Device::isStreaming() const {
    MutexLock lock(mutex_);
    return streaming_;
}

FakeV4l2Device::CurrentFormat FakeV4l2Device::currentFormat() const {
    MutexLock lock(mutex_);
    return format_;
}

FakeV4l2Device::Fraction FakeV4l2Device::currentInterval() const {
    MutexLock lock(mutex_);
    return interval_;
}

uint8_t FakeV4l2Device::patternLuma(uint32_t frameIndex, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    if (y < height / 4) {
        const uint32_t column = x * kPatternColumns / std::max(width, 1U);
        return ((frameIndex >> column) & 1U) != 0 ? kBitOn : kBitOff;
    }
    return static_cast<uint8_t>(60 + x * 100 / std::max(width, 1U));
}

std::optional<uint32_t> FakeV4l2Device::readFrameIndex(const uint8_t* luma, size_t stride, uint32_t width,
                                                       uint32_t height) {
    if (luma == nullptr || width < 2 * kPatternColumns || height < 8) return std::nullopt;
    const size_t row = height / 8;
    uint32_t index = 0;
    for (uint32_t column = 0; column < kPatternColumns; ++column) {
        const size_t x = (2 * column + 1) * width / (2 * kPatternColumns);
        if (luma[row * stride + x] > (kBitOn + kBitOff) / 2) index |= 1U << column;
    }
    return index;
}

void FakeV4l2Device::copyName(char* out, size_t size, const std::string& text) {
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min(size - 1, text.size()));
}

// ---- V4l2Io ----

int FakeV4l2Device::open(const std::string& path, int flags) {
    MutexLock lock(mutex_);
    ++openAttempts_;
    const bool metadata = std::find(metadataPaths_.begin(), metadataPaths_.end(), path) != metadataPaths_.end();
    if (vanished_ || (path != path_ && !metadata)) return -ENOENT;
    if (failOpen_) return -*failOpen_;
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return -errno;
    nodes_[fds[0]] = OpenNode{fds[0], fds[1], (flags & O_NONBLOCK) != 0, metadata};
    return fds[0];
}

int FakeV4l2Device::close(int fd) {
    MutexLock lock(mutex_);
    const auto it = nodes_.find(fd);
    if (it == nodes_.end()) return -EBADF;
    if (queueOwner_ == fd) {
        stopStreamingLocked();
        freeBuffersLocked();
        queueOwner_ = -1;
    }
    ::close(it->second.readFd);
    if (it->second.writeFd >= 0) ::close(it->second.writeFd);
    nodes_.erase(it);
    frameReady_.notify_all();
    return 0;
}

int FakeV4l2Device::ioctl(int fd, unsigned long request, void* arg) {
    MutexLock lock(mutex_);
    const auto it = nodes_.find(fd);
    if (it == nodes_.end()) return -EBADF;
    Call call{request, 0, {}};
    int result = 0;
    if (failEvery_) {
        result = -*failEvery_;
    } else if (auto failure = failures_.find(request); failure != failures_.end()) {
        result = -failure->second.error;
        if (failure->second.remaining > 0 && --failure->second.remaining == 0) failures_.erase(failure);
    } else if (vanished_) {
        result = -ENODEV;
    }
    if (result != 0) {
        // The failed call is still logged, with what it asked for.
        if (request == VIDIOC_S_EXT_CTRLS || request == VIDIOC_G_EXT_CTRLS) {
            auto* ext = static_cast<v4l2_ext_controls*>(arg);
            call.which = ext->which;
            for (uint32_t i = 0; i < ext->count; ++i) {
                call.controls.push_back({ext->controls[i].id,
                                         request == VIDIOC_S_EXT_CTRLS ? ext->controls[i].value : 0});
            }
        } else if (request == VIDIOC_QUERY_EXT_CTRL) {
            call.controls.push_back({static_cast<v4l2_query_ext_ctrl*>(arg)->id, 0});
        }
        calls_.push_back(std::move(call));
        return result;
    }

    OpenNode& node = it->second;
    if (request == VIDIOC_QUERYCAP) {
        auto* caps = static_cast<v4l2_capability*>(arg);
        std::memset(caps, 0, sizeof(*caps));
        copyName(reinterpret_cast<char*>(caps->driver), sizeof(caps->driver), "uvcvideo");
        copyName(reinterpret_cast<char*>(caps->card), sizeof(caps->card), cardName_);
        copyName(reinterpret_cast<char*>(caps->bus_info), sizeof(caps->bus_info), "usb-0000:00:14.0-2");
        caps->version = 0x060100;
        caps->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                             V4L2_CAP_EXT_PIX_FORMAT | V4L2_CAP_DEVICE_CAPS;
        caps->device_caps = node.metadata ? V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
                                          : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
        calls_.push_back(std::move(call));
        return 0;
    }
    if (node.metadata) {
        calls_.push_back(std::move(call));
        return -ENOTTY;
    }
    switch (request) {
        case VIDIOC_QUERY_EXT_CTRL:
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
            result = controlIoctl(request, arg, call);
            break;
        default:
            result = captureIoctl(fd, node, request, arg, lock);
            break;
    }
    calls_.push_back(std::move(call));
    return result;
}

Result<void*, int> FakeV4l2Device::mmap(int fd, size_t length, off_t offset) {
    MutexLock lock(mutex_);
    const auto it = nodes_.find(fd);
    if (it == nodes_.end()) return unexpected(EBADF);
    if (vanished_) return unexpected(ENODEV);
    if (it->second.metadata) return unexpected(EINVAL);
    for (Buffer& buffer : buffers_) {
        if (buffer.offset == static_cast<uint32_t>(offset) && length <= buffer.memory->size()) {
            void* address = buffer.memory->data();
            mappings_.emplace(address, buffer.memory);
            return address;
        }
    }
    return unexpected(EINVAL);
}

int FakeV4l2Device::munmap(void* address, size_t /*length*/) {
    MutexLock lock(mutex_);
    const auto it = mappings_.find(address);
    if (it == mappings_.end()) return -EINVAL;
    mappings_.erase(it);
    return 0;
}

int FakeV4l2Device::poll(std::span<pollfd> fds, int timeoutMs) {
    // Open nodes are real pipe ends, so the system's poll serves both them
    // and any other fds in the set.
    const int result = ::poll(fds.data(), fds.size(), timeoutMs);
    return result >= 0 ? result : -errno;
}

// ---- controls ----

void FakeV4l2Device::integrateMotion() const {
    const TimePoint now = clock_.now();
    const double seconds = std::chrono::duration<double>(now - motionUpdated_).count();
    motionUpdated_ = now;
    if (seconds <= 0) return;
    const auto speedOf = [&](uint32_t id) HK_REQUIRES(mutex_) {
        const auto it = controls_.find(id);
        return it == controls_.end() ? 0.0 : static_cast<double>(it->second.value);
    };
    const auto advance = [&](uint32_t id, double& position, double speed) HK_REQUIRES(mutex_) {
        const auto it = controls_.find(id);
        if (it == controls_.end() || speed == 0) return;
        position += speed * motionRate_ * seconds;
        const Control& c = it->second;
        if (c.minimum <= c.maximum) {
            position = std::clamp(position, static_cast<double>(c.minimum), static_cast<double>(c.maximum));
        }
        it->second.value = std::llround(position);
    };
    advance(V4L2_CID_PAN_ABSOLUTE, panPosition_, speedOf(V4L2_CID_PAN_SPEED));
    advance(V4L2_CID_TILT_ABSOLUTE, tiltPosition_, speedOf(V4L2_CID_TILT_SPEED));
}

FakeV4l2Device::Control* FakeV4l2Device::findControl(uint32_t id) {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

void FakeV4l2Device::applyControl(Control& control, int64_t value) {
    // As uvcvideo: round to the step from the minimum, then clamp.
    if (control.minimum <= control.maximum) {
        value = std::clamp(value, control.minimum, control.maximum);
        if (control.step > 1) {
            const auto step = static_cast<int64_t>(control.step);
            value = control.minimum + (value - control.minimum + step / 2) / step * step;
            value = std::min(value, control.maximum);
        }
    }
    control.value = value;
    if (control.id == V4L2_CID_PAN_ABSOLUTE) panPosition_ = static_cast<double>(value);
    if (control.id == V4L2_CID_TILT_ABSOLUTE) tiltPosition_ = static_cast<double>(value);
}

int FakeV4l2Device::controlIoctl(unsigned long request, void* arg, Call& call) {
    integrateMotion();
    switch (request) {
        case VIDIOC_QUERY_EXT_CTRL: {
            auto* query = static_cast<v4l2_query_ext_ctrl*>(arg);
            constexpr uint32_t kNext = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
            const uint32_t asked = query->id;
            call.controls.push_back({asked, 0});
            const Control* control = nullptr;
            if ((asked & kNext) != 0) {
                const auto it = controls_.upper_bound(asked & ~kNext);
                if (it != controls_.end()) control = &it->second;
            } else if (const auto it = controls_.find(asked); it != controls_.end()) {
                control = &it->second;
            }
            if (control == nullptr) return -EINVAL;
            std::memset(query, 0, sizeof(*query));
            query->id = control->id;
            query->type = V4L2_CTRL_TYPE_INTEGER;
            copyName(query->name, sizeof(query->name), control->name);
            query->minimum = control->minimum;
            query->maximum = control->maximum;
            query->step = control->step;
            query->default_value = control->defaultValue;
            query->flags = control->flags;
            query->elem_size = sizeof(int32_t);
            query->elems = 1;
            return 0;
        }
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS: {
            auto* ext = static_cast<v4l2_ext_controls*>(arg);
            call.which = ext->which;
            const bool setting = request == VIDIOC_S_EXT_CTRLS;
            for (uint32_t i = 0; i < ext->count; ++i) {
                call.controls.push_back({ext->controls[i].id, setting ? ext->controls[i].value : 0});
            }
            if (!isCameraClass(ext->which)) return -EINVAL;
            // Validate every control before touching any, as the kernel does.
            for (uint32_t i = 0; i < ext->count; ++i) {
                const Control* control = findControl(ext->controls[i].id);
                if (control == nullptr) {
                    ext->error_idx = ext->count;
                    return -EINVAL;
                }
                const uint32_t forbidden = setting ? V4L2_CTRL_FLAG_READ_ONLY : V4L2_CTRL_FLAG_WRITE_ONLY;
                if ((control->flags & forbidden) != 0) {
                    ext->error_idx = i;
                    return -EACCES;
                }
            }
            for (uint32_t i = 0; i < ext->count; ++i) {
                Control& control = *findControl(ext->controls[i].id);
                if (setting) applyControl(control, ext->controls[i].value);
                ext->controls[i].value = static_cast<int32_t>(control.value);
                call.controls[i].value = setting ? call.controls[i].value : control.value;
            }
            return 0;
        }
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL: {
            auto* single = static_cast<v4l2_control*>(arg);
            call.controls.push_back({single->id, request == VIDIOC_S_CTRL ? single->value : 0});
            Control* control = findControl(single->id);
            if (control == nullptr) return -EINVAL;
            if (request == VIDIOC_S_CTRL) {
                if ((control->flags & V4L2_CTRL_FLAG_READ_ONLY) != 0) return -EACCES;
                applyControl(*control, single->value);
            } else if ((control->flags & V4L2_CTRL_FLAG_WRITE_ONLY) != 0) {
                return -EACCES;
            }
            single->value = static_cast<int32_t>(control->value);
            return 0;
        }
        default:
            return -ENOTTY;
    }
}

}  // namespace hollowkit
