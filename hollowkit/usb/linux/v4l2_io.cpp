#include "hollowkit/usb/linux/v4l2_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace hollowkit {

namespace {

class SystemV4l2Io final : public V4l2Io {
public:
    int open(const std::string& path, int flags) override {
        for (;;) {
            const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
            if (fd >= 0) return fd;
            if (errno != EINTR) return -errno;
        }
    }

    int close(int fd) override {
        // Not retried on EINTR: on Linux the fd is gone by then.
        return ::close(fd) == 0 ? 0 : -errno;
    }

    int ioctl(int fd, unsigned long request, void* arg) override {
        for (;;) {
            const int result = ::ioctl(fd, request, arg);
            if (result >= 0) return result;
            if (errno != EINTR) return -errno;
        }
    }

    Result<void*, int> mmap(int fd, size_t length, off_t offset) override {
        void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        if (address == MAP_FAILED) return unexpected(errno);
        return address;
    }

    int munmap(void* address, size_t length) override {
        return ::munmap(address, length) == 0 ? 0 : -errno;
    }

    int poll(std::span<pollfd> fds, int timeoutMs) override {
        const int result = ::poll(fds.data(), fds.size(), timeoutMs);
        return result >= 0 ? result : -errno;
    }
};

}  // namespace

V4l2Io& V4l2Io::system() {
    static SystemV4l2Io io;
    return io;
}

}  // namespace hollowkit
