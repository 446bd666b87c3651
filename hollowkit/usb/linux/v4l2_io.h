#pragma once

// V4l2Io: the few system calls the V4L2 code makes on a video node (open,
// close, ioctl, mmap, munmap, poll), behind one interface so tests can put a
// FakeV4l2Device (hollowkit/testing) in place of the kernel. Every call
// reports failure as a negative errno value instead of through errno, so the
// result survives other calls on the same thread. V4l2Io::system() is the
// real one (stateless, any thread, EINTR retried).
//
// V4l2Fd and V4l2Mapping own an open node and a mapped buffer, releasing
// them through the V4l2Io that made them.

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "hollowkit/base/result.h"

namespace hollowkit {

class V4l2Io {
public:
    virtual ~V4l2Io() = default;

    // `flags` as for open(2); O_CLOEXEC is always added. Returns the fd or
    // -errno.
    virtual int open(const std::string& path, int flags) = 0;
    // 0 or -errno.
    virtual int close(int fd) = 0;
    // The ioctl's non-negative result, or -errno.
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    // A shared read-write mapping of `length` bytes at `offset` (the
    // m.offset VIDIOC_QUERYBUF gave); the error is a positive errno value.
    virtual Result<void*, int> mmap(int fd, size_t length, off_t offset) = 0;
    // 0 or -errno.
    virtual int munmap(void* address, size_t length) = 0;
    // As poll(2): the number of ready entries, 0 on time-out, or -errno.
    // Entries may mix this V4l2Io's fds with ordinary ones (an eventfd that
    // wakes a capture thread, for example).
    virtual int poll(std::span<pollfd> fds, int timeoutMs) = 0;

    // The kernel's V4L2 interface.
    static V4l2Io& system();
};

// Sole owner of one open video node.
class V4l2Fd {
public:
    V4l2Fd() = default;
    V4l2Fd(V4l2Io& io, int fd) : io_(&io), fd_(fd) {}
    ~V4l2Fd() { reset(); }
    V4l2Fd(V4l2Fd&& other) noexcept : io_(other.io_), fd_(std::exchange(other.fd_, -1)) {}
    V4l2Fd& operator=(V4l2Fd&& other) noexcept {
        if (this != &other) {
            reset();
            io_ = other.io_;
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    V4l2Fd(const V4l2Fd&) = delete;
    V4l2Fd& operator=(const V4l2Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // 0 or -errno.
    int ioctl(unsigned long request, void* arg) const { return io_->ioctl(fd_, request, arg); }
    V4l2Io& io() const { return *io_; }

    void reset() {
        // An open descriptor always has its io; the check also tells the
        // optimiser so, which otherwise warns of a null call in moved-from paths.
        if (fd_ >= 0 && io_ != nullptr) io_->close(std::exchange(fd_, -1));
    }

private:
    V4l2Io* io_ = nullptr;
    int fd_ = -1;
};

// Sole owner of one mapped capture buffer.
class V4l2Mapping {
public:
    V4l2Mapping() = default;
    V4l2Mapping(V4l2Io& io, void* address, size_t length) : io_(&io), address_(address), length_(length) {}
    ~V4l2Mapping() { reset(); }
    V4l2Mapping(V4l2Mapping&& other) noexcept
        : io_(other.io_), address_(std::exchange(other.address_, nullptr)), length_(other.length_) {}
    V4l2Mapping& operator=(V4l2Mapping&& other) noexcept {
        if (this != &other) {
            reset();
            io_ = other.io_;
            address_ = std::exchange(other.address_, nullptr);
            length_ = other.length_;
        }
        return *this;
    }
    V4l2Mapping(const V4l2Mapping&) = delete;
    V4l2Mapping& operator=(const V4l2Mapping&) = delete;

    uint8_t* data() const { return static_cast<uint8_t*>(address_); }
    size_t size() const { return length_; }
    bool valid() const { return address_ != nullptr; }

    void reset() {
        if (address_) io_->munmap(std::exchange(address_, nullptr), length_);
    }

private:
    V4l2Io* io_ = nullptr;
    void* address_ = nullptr;
    size_t length_ = 0;
};

}  // namespace hollowkit
