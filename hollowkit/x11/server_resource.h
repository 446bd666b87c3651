#pragma once

// ServerResource: one object made on the X server (a pixmap, a Render
// picture, a Damage object), freed with its kind's request when its owner
// lets go of it. Move-only. The server drops some objects by itself (a
// destroyed window's damage): forget() lets go of such an id without
// freeing it, as freeing it again would be an error (BadDamage). The
// connection is borrowed and must outlive the resource; its thread only.

#include <cstdint>

struct xcb_connection_t;

namespace hollowkit::x11 {

class ServerResource {
public:
    enum class Kind : uint8_t {
        none = 0,
        pixmap,
        picture,  // Render
        damage,
    };

    ServerResource() = default;
    // Takes `id`, made already (or being made) on `connection`.
    ServerResource(xcb_connection_t* connection, Kind kind, uint32_t id)
        : connection_(connection), kind_(kind), id_(id) {}
    ~ServerResource() { reset(); }
    ServerResource(ServerResource&& other) noexcept { *this = static_cast<ServerResource&&>(other); }
    ServerResource& operator=(ServerResource&& other) noexcept;
    ServerResource(const ServerResource&) = delete;
    ServerResource& operator=(const ServerResource&) = delete;

    uint32_t id() const { return id_; }
    explicit operator bool() const { return id_ != 0; }
    // Frees it on the server (sent with the connection's next flush).
    void reset();
    // Lets go of an id the server already dropped.
    void forget() { id_ = 0; }

private:
    xcb_connection_t* connection_ = nullptr;
    Kind kind_ = Kind::none;
    uint32_t id_ = 0;
};

}  // namespace hollowkit::x11
