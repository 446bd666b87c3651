#pragma once

// Plain X11 windows for the screen capture's tests and benchmarks: one
// connection stands for one program, its windows marked with the process id
// it is given (_NET_WM_PID), so a test plays both this application and
// others on one server. Windows are filled with one colour by the server;
// they go when the connection closes.
//
// Thread: the owner's.

#include <time.h>
#include <unistd.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/recording/x11/x11_window_stack.h"
#include "hollowkit/x11/xcb_connection.h"
#include "hollowkit/testing/xvfb_server.h"
#include "test_compositor.h"

namespace hollowkit::testsupport {

class X11TestWindows {
public:
    struct Look {
        RgbColor color;
        uint8_t alpha = 255;            // below 255: a 32-bit window with alpha
        bool overrideRedirect = false;  // a popover or panel: no window manager
        bool managed = false;           // carries WM_STATE, as a client window does
        uint32_t parent = 0;            // 0: a top-level window
        bool withAlpha = false;         // a 32-bit window even when opaque
    };

    // `pid` is written as _NET_WM_PID on every window; none writes none.
    X11TestWindows(const std::string& display, std::optional<uint32_t> pid) : pid_(pid) {
        int screenNumber = 0;
        c_ = xcb_connect(display.c_str(), &screenNumber);
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(c_));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
        screen_ = screens.data;
        pidAtom_ = atom("_NET_WM_PID");
        wmStateAtom_ = atom("WM_STATE");
    }
    ~X11TestWindows() { xcb_disconnect(c_); }
    X11TestWindows(const X11TestWindows&) = delete;
    X11TestWindows& operator=(const X11TestWindows&) = delete;

    bool ok() const { return screen_ != nullptr && xcb_connection_has_error(c_) == 0; }

    // Creates and maps a window of `area` (relative to its parent), shown
    // only within `shape` (relative to the window) when one is given.
    uint32_t open(const x11::PixelRect& area, const Look& look, const std::vector<x11::PixelRect>& shape = {}) {
        const uint32_t window = xcb_generate_id(c_);
        const uint32_t parent = look.parent != 0 ? look.parent : screen_->root;
        const uint32_t overrideRedirect = look.overrideRedirect ? 1 : 0;
        if (look.alpha == 255 && !look.withAlpha) {
            const uint32_t values[] = {pixel(look.color, 255), overrideRedirect};
            xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, parent, static_cast<int16_t>(area.x),
                              static_cast<int16_t>(area.y), static_cast<uint16_t>(area.width),
                              static_cast<uint16_t>(area.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                              XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        } else {
            const uint32_t visual = argbVisual();
            const uint32_t colormap = xcb_generate_id(c_);
            xcb_create_colormap(c_, XCB_COLORMAP_ALLOC_NONE, colormap, screen_->root, visual);
            const uint32_t values[] = {pixel(look.color, look.alpha), 0, overrideRedirect, colormap};
            xcb_create_window(c_, 32, window, parent, static_cast<int16_t>(area.x), static_cast<int16_t>(area.y),
                              static_cast<uint16_t>(area.width), static_cast<uint16_t>(area.height), 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                              XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_COLORMAP,
                              values);
        }
        if (pid_) {
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, pidAtom_, XCB_ATOM_CARDINAL, 32, 1, &*pid_);
        }
        if (look.managed) {
            const uint32_t normalState[] = {1, 0};
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, wmStateAtom_, wmStateAtom_, 32, 2, normalState);
        }
        if (!shape.empty()) setShape(window, shape);
        xcb_map_window(c_, window);
        sync();
        return window;
    }

    // Only `rects` (relative to the window) of it show from now on.
    void setShape(uint32_t window, const std::vector<x11::PixelRect>& rects) {
        std::vector<xcb_rectangle_t> shape;
        for (const auto& r : rects) {
            shape.push_back({static_cast<int16_t>(r.x), static_cast<int16_t>(r.y), static_cast<uint16_t>(r.width),
                             static_cast<uint16_t>(r.height)});
        }
        xcb_shape_rectangles(c_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, window, 0, 0,
                             static_cast<uint32_t>(shape.size()), shape.data());
        sync();
    }

    // `alpha` below 255 only for a window with alpha.
    void recolor(uint32_t window, RgbColor color, uint8_t alpha = 255) {
        const uint32_t value = pixel(color, alpha);
        xcb_change_window_attributes(c_, window, XCB_CW_BACK_PIXEL, &value);
        xcb_clear_area(c_, 0, window, 0, 0, 0, 0);
        sync();
    }

    void move(uint32_t window, int x, int y) {
        const uint32_t values[] = {static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
        xcb_configure_window(c_, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        sync();
    }

    void close(uint32_t window) {
        xcb_destroy_window(c_, window);
        sync();
    }

    // A desktop background of one colour: the root's background and its
    // _XROOTPMAP_ID, as wallpaper setters leave them.
    void setWallpaper(RgbColor color) {
        const uint32_t pixmap = xcb_generate_id(c_);
        xcb_create_pixmap(c_, screen_->root_depth, pixmap, screen_->root, screen_->width_in_pixels,
                          screen_->height_in_pixels);
        const uint32_t gc = xcb_generate_id(c_);
        const uint32_t foreground = pixel(color, 255);
        xcb_create_gc(c_, gc, pixmap, XCB_GC_FOREGROUND, &foreground);
        const xcb_rectangle_t all{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
        xcb_poly_fill_rectangle(c_, pixmap, gc, 1, &all);
        xcb_free_gc(c_, gc);
        xcb_change_window_attributes(c_, screen_->root, XCB_CW_BACK_PIXMAP, &pixmap);
        xcb_clear_area(c_, 0, screen_->root, 0, 0, 0, 0);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, screen_->root, atom("_XROOTPMAP_ID"), XCB_ATOM_PIXMAP, 32, 1,
                            &pixmap);
        sync();
    }

    // What the screen shows at (x, y), a compositing manager's work included.
    std::optional<RgbColor> colorOnScreen(int x, int y) {
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            c_,
            xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root, static_cast<int16_t>(x),
                          static_cast<int16_t>(y), 1, 1, ~0U),
            nullptr);
        std::optional<RgbColor> color;
        if (image != nullptr && xcb_get_image_data_length(image) >= 4) {
            const uint8_t* bgrx = xcb_get_image_data(image);
            color = RgbColor{bgrx[2], bgrx[1], bgrx[0]};
        }
        std::free(image);
        return color;
    }

    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    uint32_t atom(std::string_view name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr);
        const uint32_t result = reply != nullptr ? reply->atom : 0;
        std::free(reply);
        return result;
    }

    // Premultiplied, as 32-bit windows hold their pixels.
    static uint32_t pixel(RgbColor color, uint8_t alpha) {
        const auto scale = [alpha](uint8_t v) { return static_cast<uint32_t>((v * alpha + 127) / 255); };
        return (uint32_t{alpha} << 24) | (scale(color.r) << 16) | (scale(color.g) << 8) | scale(color.b);
    }

    uint32_t argbVisual() const {
        for (auto depth = xcb_screen_allowed_depths_iterator(screen_); depth.rem > 0; xcb_depth_next(&depth)) {
            if (depth.data->depth != 32) continue;
            for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem > 0; xcb_visualtype_next(&visual)) {
                if (visual.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) return visual.data->visual_id;
            }
        }
        return 0;
    }

    xcb_connection_t* c_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    std::optional<uint32_t> pid_;
    uint32_t pidAtom_ = 0;
    uint32_t wmStateAtom_ = 0;
};

}  // namespace hollowkit::testsupport
