#pragma once

// X11PointerService: the pointer through xcb_query_pointer on the root
// window of an X11 server: root position, the first button, and whether the
// top-level window under it (the root's child there, which a window
// manager's frame may be) is the owning process's, by x11::WindowOwner's
// rule, the one the screen capture leaves that process's windows out by.
// One connection of its own, opened on first use and again after it broke.
// One thread at a time (the main executor).

#include <cstdint>
#include <memory>
#include <string>

#include "hollowkit/recording/pointer_service.h"

namespace hollowkit {

namespace x11 {
struct Connection;
class WindowOwner;
}  // namespace x11

class X11PointerService final : public PointerService {
public:
    // `ownerPid`: the process whose windows count as its own; 0 for this one.
    explicit X11PointerService(std::string displayName = {}, uint32_t ownerPid = 0);
    ~X11PointerService() override;

    X11PointerService(const X11PointerService&) = delete;
    X11PointerService& operator=(const X11PointerService&) = delete;

    std::optional<PointerState> query() override;

private:
    const std::string displayName_;
    const uint32_t ownerPid_;
    std::unique_ptr<x11::Connection> connection_;
    std::unique_ptr<x11::WindowOwner> owner_;  // on connection_
};

}  // namespace hollowkit
