#include "hollowkit/x11/server_resource.h"

#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/xcb.h>

namespace hollowkit::x11 {

ServerResource& ServerResource::operator=(ServerResource&& other) noexcept {
    if (this == &other) return *this;
    reset();
    connection_ = other.connection_;
    kind_ = other.kind_;
    id_ = other.id_;
    other.id_ = 0;
    return *this;
}

void ServerResource::reset() {
    if (id_ == 0) return;
    switch (kind_) {
    case Kind::pixmap:
        xcb_free_pixmap(connection_, id_);
        break;
    case Kind::picture:
        xcb_render_free_picture(connection_, id_);
        break;
    case Kind::damage:
        xcb_damage_destroy(connection_, id_);
        break;
    case Kind::none:
        break;
    }
    id_ = 0;
}

}  // namespace hollowkit::x11
