#pragma once

// UniqueFd: sole owner of one file descriptor, closed when the owner goes.
// Move-only; not thread-safe (one owner at a time, like the fd itself).

#include <unistd.h>

#include <utility>

namespace hollowkit {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    // Gives up ownership without closing; the caller now owns the fd.
    [[nodiscard]] int release() { return std::exchange(fd_, -1); }

    // Closes the current fd (if any) and takes `fd`. close() is not retried
    // on EINTR: on Linux the fd is already gone by then.
    void reset(int fd = -1) {
        int old = std::exchange(fd_, fd);
        if (old >= 0) ::close(old);
    }

private:
    int fd_ = -1;
};

}  // namespace hollowkit
