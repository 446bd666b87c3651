#pragma once

// SharedSegment: a System V shared-memory segment attached to this process
// and to an X server (MIT-SHM), so the server writes images straight into
// it. Marked for removal as soon as it is attached: it goes when both sides
// detach, even if this process dies. Used by the thread that owns the
// connection.

#include <cstddef>
#include <cstdint>
#include <string>

#include "hollowkit/base/result.h"

struct xcb_connection_t;

namespace hollowkit::x11 {

class SharedSegment {
public:
    SharedSegment() = default;
    ~SharedSegment() { release(); }
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    // Attaches a new segment of `size` bytes, replacing any held before.
    Result<void, std::string> attach(xcb_connection_t* c, size_t size);

    uint8_t* data() const { return address_; }
    size_t size() const { return size_; }
    // The server's name for it; 0 when none is attached.
    uint32_t segment() const { return segment_; }

private:
    void release();

    xcb_connection_t* connection_ = nullptr;
    uint8_t* address_ = nullptr;
    size_t size_ = 0;
    uint32_t segment_ = 0;
};

}  // namespace hollowkit::x11
