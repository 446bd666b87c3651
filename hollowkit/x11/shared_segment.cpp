#include "hollowkit/x11/shared_segment.h"

#include "hollowkit/x11/xcb_connection.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace hollowkit::x11 {

Result<void, std::string> SharedSegment::attach(xcb_connection_t* c, size_t size) {
    release();
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) return unexpected(std::string("shared memory: ") + std::strerror(errno));
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        const int error = errno;
        shmctl(id, IPC_RMID, nullptr);
        return unexpected(std::string("shared memory: ") + std::strerror(error));
    }
    address_ = static_cast<uint8_t*>(address);
    size_ = size;
    connection_ = c;
    segment_ = xcb_generate_id(c);
    const bool attached = requestSucceeded(c, xcb_shm_attach_checked(c, segment_, id, 0).sequence);
    // Marked for removal at once: it goes when both sides detach, even if
    // this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (!attached) {
        segment_ = 0;
        release();
        return unexpected(std::string("the display refused shared memory"));
    }
    return {};
}

void SharedSegment::release() {
    if (segment_ != 0 && connection_ != nullptr) {
        xcb_shm_detach(connection_, segment_);
        xcb_flush(connection_);
    }
    if (address_ != nullptr) shmdt(address_);
    segment_ = 0;
    address_ = nullptr;
    size_ = 0;
}

}  // namespace hollowkit::x11
