#pragma once

// FakeV4l2Device: a USB video-class camera as V4L2 shows it, behind the
// V4l2Io seam, so the control transport and the capture code run without
// hardware. It answers one video node (default "/dev/video0") and any
// metadata nodes added; other paths do not exist.
//
// What it models:
// - Controls with ranges and current values (pan, tilt and zoom absolute;
//   pan and tilt speed). A non-zero speed moves the absolute position over
//   time as read from the clock, stopping at the range's ends; set values
//   are clamped and rounded to the step as uvcvideo does.
// - Formats, frame sizes and intervals (VIDIOC_ENUM_FMT, ENUM_FRAMESIZES,
//   ENUM_FRAMEINTERVALS), G/S/TRY_FMT, G/S_PARM.
// - Streaming with memory it provides: REQBUFS (MMAP), QUERYBUF, mmap
//   through the seam, QBUF, DQBUF, STREAMON, STREAMOFF. produceFrame() fills
//   the oldest queued buffer with a synthetic NV12, YUYV or MJPEG picture
//   whose top band carries the frame's sequence number (readFrameIndex reads
//   it back, also after a JPEG round trip).
// - Faults: an errno for chosen ioctls (once, n times or always), for every
//   ioctl, for open; limits whose maximum lies below the minimum; and an
//   unplug (vanish): open gives ENOENT, every call on an open node ENODEV,
//   poll reports POLLHUP, a blocked DQBUF returns ENODEV.
//
// Each open node is a real pipe's read end, so poll() works on it together
// with ordinary fds (a capture thread's wake-up eventfd): it is readable
// while a filled buffer waits to be dequeued. Mappings stay valid until
// unmapped, also after close or vanish, as the kernel's do.
//
// Thread-safe: one lock around the model; a blocking DQBUF waits on it.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/usb/linux/v4l2_io.h"
#include "hollowkit/usb/linux/v4l2_uvc_transport.h"

namespace hollowkit {

class FakeV4l2Device final : public V4l2Io {
public:
    struct Fraction {
        uint32_t numerator = 1;
        uint32_t denominator = 30;

        bool operator==(const Fraction&) const = default;
    };

    struct FrameSize {
        uint32_t width = 0;
        uint32_t height = 0;
        // Discrete frame intervals, in the order they are listed.
        std::vector<Fraction> intervals;
        // When set, ENUM_FRAMEINTERVALS reports this stepwise range (min,
        // max, step) instead of the discrete list.
        std::optional<std::array<Fraction, 3>> stepwiseIntervals;

        bool operator==(const FrameSize&) const = default;
    };

    struct Format {
        uint32_t pixelFormat = 0;  // V4L2 fourcc (NV12, YUYV, MJPG, ...)
        std::string description;
        std::vector<FrameSize> sizes;

        bool operator==(const Format&) const = default;
    };

    struct Control {
        uint32_t id = 0;
        std::string name;
        int64_t minimum = 0;
        int64_t maximum = 0;
        uint64_t step = 1;
        int64_t defaultValue = 0;
        int64_t value = 0;
        uint32_t flags = 0;  // V4L2_CTRL_FLAG_*

        bool operator==(const Control&) const = default;
    };

    // One ioctl as the fake saw it (also those it failed). For the control
    // ioctls, the control ids with the values asked for (S_EXT_CTRLS) or
    // answered (G_EXT_CTRLS; 0 when failed); QUERY_EXT_CTRL lists its id.
    struct Call {
        unsigned long request = 0;
        uint32_t which = 0;
        std::vector<V4l2ControlValue> controls;

        bool operator==(const Call&) const = default;
    };

    struct CurrentFormat {
        uint32_t pixelFormat = 0;
        uint32_t width = 0;
        uint32_t height = 0;
        uint32_t bytesPerLine = 0;
        uint32_t sizeImage = 0;

        bool operator==(const CurrentFormat&) const = default;
    };

    // A Pocket-like camera: NV12, YUYV and MJPEG formats and the controls
    // below. `clock` drives motion and frame timestamps and must outlive the
    // fake.
    explicit FakeV4l2Device(const Clock& clock, std::string path = "/dev/video0");
    ~FakeV4l2Device() override;
    FakeV4l2Device(const FakeV4l2Device&) = delete;
    FakeV4l2Device& operator=(const FakeV4l2Device&) = delete;

    // Pan -170...170 and tilt -90...90 degrees in arc-seconds, zoom
    // 100...400, pan and tilt speed -35...35.
    static std::vector<Control> pocketControls();
    // NV12 1920x1080 and 1280x720 at 60 and 30; YUYV 640x480 at 30; MJPEG
    // 3840x2160 at 30 and 1920x1080 at 60 and 30.
    static std::vector<Format> pocketFormats();

    // Setup. Replacing the formats resets the current format to the first
    // format's first size and interval.
    void setCardName(std::string name);
    void setFormats(std::vector<Format> formats);
    void setControl(Control control);  // adds or replaces
    void removeControl(uint32_t id);
    // The limits as reported, also a maximum below the minimum.
    void setControlRange(uint32_t id, int64_t minimum, int64_t maximum);
    // Arc-seconds per second for each unit of pan or tilt speed (default
    // 1000, so speed 35 turns 9.7 degrees a second).
    void setMotionRate(double arcsecondsPerSecondPerUnit);
    // Extra bytes at the end of each picture line.
    void setLinePadding(uint32_t bytes);
    // A node that answers QUERYCAP as a metadata node and nothing else.
    void addMetadataNode(std::string path);

    // Faults. `times` < 0: until cleared.
    void failIoctl(unsigned long request, int error, int times = -1);
    void failEveryIoctl(int error);
    void failOpen(int error);
    void clearFailures();
    void vanish();
    bool vanished() const;

    // Frames. Fills the oldest queued buffer with the next picture, stamped
    // with the clock's now, and makes it ready to dequeue. False (the frame
    // is dropped and its sequence number used up, as a driver does) when not
    // streaming, vanished or no buffer is queued.
    bool produceFrame();
    int produceFrames(int count);
    uint32_t framesDelivered() const;
    uint32_t framesDropped() const;

    // Observation.
    std::vector<Call> calls() const;
    void clearCalls();
    // The control's current value; for pan and tilt absolute after the
    // motion up to the clock's now. Nothing for an unknown id.
    std::optional<int64_t> controlValue(uint32_t id) const;
    int openNodeCount() const;
    // Every open() asked of the fake, also those it refused.
    int openAttempts() const;
    int mappedBufferCount() const;
    int bufferCount() const;
    bool isStreaming() const;
    CurrentFormat currentFormat() const;
    Fraction currentInterval() const;
    const std::string& path() const { return path_; }

    // The picture pattern: the sequence number's 16 low bits as 16 columns
    // over the top quarter (bright for 1, dark for 0). Reads them from a
    // luma plane; nothing when the picture is too small to carry them.
    static std::optional<uint32_t> readFrameIndex(const uint8_t* luma, size_t stride, uint32_t width,
                                                  uint32_t height);
    // The luma value the pattern gives a pixel.
    static uint8_t patternLuma(uint32_t frameIndex, uint32_t x, uint32_t y, uint32_t width, uint32_t height);

    // V4l2Io
    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    Result<void*, int> mmap(int fd, size_t length, off_t offset) override;
    int munmap(void* address, size_t length) override;
    int poll(std::span<pollfd> fds, int timeoutMs) override;

private:
    // Copies `text` into a fixed-size, NUL-padded name field.
    static void copyName(char* out, size_t size, const std::string& text);

    struct OpenNode {
        int readFd = -1;
        int writeFd = -1;
        bool nonBlocking = false;
        bool metadata = false;
    };

    enum class BufferState : uint8_t { none = 0, dequeued, queued, done };

    struct Buffer {
        std::shared_ptr<std::vector<uint8_t>> memory;
        BufferState state = BufferState::dequeued;
        uint32_t bytesUsed = 0;
        uint32_t sequence = 0;
        TimePoint timestamp{};
        uint32_t offset = 0;
    };

    struct Failure {
        int error = 0;
        int remaining = -1;
    };

    int controlIoctl(unsigned long request, void* arg, Call& call) HK_REQUIRES(mutex_);
    int captureIoctl(int fd, OpenNode& node, unsigned long request, void* arg, MutexLock& lock) HK_REQUIRES(mutex_);
    void integrateMotion() const HK_REQUIRES(mutex_);
    Control* findControl(uint32_t id) HK_REQUIRES(mutex_);
    void applyControl(Control& control, int64_t value) HK_REQUIRES(mutex_);
    void resetFormatLocked() HK_REQUIRES(mutex_);
    void stopStreamingLocked() HK_REQUIRES(mutex_);
    void freeBuffersLocked() HK_REQUIRES(mutex_);
    void drainReadyLocked() HK_REQUIRES(mutex_);
    void fillBuffer(Buffer& buffer, uint32_t sequence) HK_REQUIRES(mutex_);
    CurrentFormat formatFor(uint32_t pixelFormat, uint32_t width, uint32_t height) const HK_REQUIRES(mutex_);

    const Clock& clock_;
    const std::string path_;

    mutable Mutex mutex_;
    std::condition_variable frameReady_;
    std::string cardName_ HK_GUARDED_BY(mutex_) = "Osmo Pocket 3";
    std::vector<Format> formats_ HK_GUARDED_BY(mutex_);
    mutable std::map<uint32_t, Control> controls_ HK_GUARDED_BY(mutex_);
    // Positions in arc-seconds, kept fractional so slow motion adds up.
    mutable double panPosition_ HK_GUARDED_BY(mutex_) = 0;
    mutable double tiltPosition_ HK_GUARDED_BY(mutex_) = 0;
    mutable TimePoint motionUpdated_ HK_GUARDED_BY(mutex_) {};
    double motionRate_ HK_GUARDED_BY(mutex_) = 1000.0;
    uint32_t linePadding_ HK_GUARDED_BY(mutex_) = 0;
    std::vector<std::string> metadataPaths_ HK_GUARDED_BY(mutex_);
    std::map<unsigned long, Failure> failures_ HK_GUARDED_BY(mutex_);
    std::optional<int> failEvery_ HK_GUARDED_BY(mutex_);
    std::optional<int> failOpen_ HK_GUARDED_BY(mutex_);
    bool vanished_ HK_GUARDED_BY(mutex_) = false;
    std::map<int, OpenNode> nodes_ HK_GUARDED_BY(mutex_);
    int openAttempts_ HK_GUARDED_BY(mutex_) = 0;
    std::vector<Call> calls_ HK_GUARDED_BY(mutex_);

    CurrentFormat format_ HK_GUARDED_BY(mutex_);
    Fraction interval_ HK_GUARDED_BY(mutex_);
    std::vector<Buffer> buffers_ HK_GUARDED_BY(mutex_);
    std::deque<uint32_t> queued_ HK_GUARDED_BY(mutex_);
    std::deque<uint32_t> done_ HK_GUARDED_BY(mutex_);
    std::map<void*, std::shared_ptr<std::vector<uint8_t>>> mappings_ HK_GUARDED_BY(mutex_);
    int queueOwner_ HK_GUARDED_BY(mutex_) = -1;
    bool streaming_ HK_GUARDED_BY(mutex_) = false;
    uint32_t sequence_ HK_GUARDED_BY(mutex_) = 0;
    uint32_t delivered_ HK_GUARDED_BY(mutex_) = 0;
    uint32_t dropped_ HK_GUARDED_BY(mutex_) = 0;
};

}  // namespace hollowkit
