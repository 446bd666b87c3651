#pragma once

// X11PointerService: the pointer through xcb_query_pointer on the root
// window of an X11 server: root position, the first button, and, when
// asked, the chain of windows under it (from the root's child, which a
// window manager's frame may be, down to the deepest window). One
// connection of its own, opened on first use and again after it broke.
// One thread at a time (the main executor).

#include <memory>
#include <string>

#include "hollowkit/recording/pointer_service.h"

namespace hollowkit {

namespace x11 {
struct Connection;
}

class X11PointerService final : public PointerService {
public:
    // The deepest window chain followed; deeper nesting is cut off.
    static constexpr int kMaxWindowDepth = 32;

    explicit X11PointerService(std::string displayName = {});
    ~X11PointerService() override;

    X11PointerService(const X11PointerService&) = delete;
    X11PointerService& operator=(const X11PointerService&) = delete;

    std::optional<PointerState> query(bool withWindows) override;

private:
    const std::string displayName_;
    std::unique_ptr<x11::Connection> connection_;
};

}  // namespace hollowkit
