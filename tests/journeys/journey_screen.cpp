#include "tests/journeys/journey_screen.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <sstream>

namespace lumenhollow::journey {

bool xdotool(JourneyDesktop& desktop, const std::vector<std::string>& arguments, std::string* output) {
    const hollowkit::CommandResult result = desktop.x().xdotool(arguments);
    if (output) *output = result.output;
    return result.status == 0;
}

std::optional<ScreenRect> windowGeometry(JourneyDesktop& desktop, const std::string& id) {
    std::string output;
    if (!xdotool(desktop, {"getwindowgeometry", "--shell", id}, &output)) return std::nullopt;
    ScreenRect rect;
    int found = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        for (const auto& [prefix, field] : {std::pair{"X=", &rect.x}, std::pair{"Y=", &rect.y},
                                            std::pair{"WIDTH=", &rect.width}, std::pair{"HEIGHT=", &rect.height}}) {
            if (line.rfind(prefix, 0) == 0) *field = std::atoi(line.c_str() + std::strlen(prefix)), ++found;
        }
    }
    if (found != 4) return std::nullopt;
    return rect;
}

std::vector<ScreenWindow> visibleWindows(JourneyDesktop& desktop, pid_t pid) {
    std::vector<ScreenWindow> windows;
    std::string output;
    // Any name, class or class name: popups may have none of their own.
    if (!xdotool(desktop, {"search", "--onlyvisible", "--pid", std::to_string(pid), ".*"}, &output)) return windows;
    std::istringstream ids(output);
    for (std::string id; std::getline(ids, id);) {
        if (id.empty()) continue;
        if (const std::optional<ScreenRect> rect = windowGeometry(desktop, id)) windows.push_back({id, *rect});
    }
    return windows;
}

std::optional<ScreenRect> visibleWindowOfWidth(JourneyDesktop& desktop, pid_t pid, int width) {
    for (const ScreenWindow& window : visibleWindows(desktop, pid)) {
        if (window.rect.width == width) return window.rect;
    }
    return std::nullopt;
}

bool chooseFromMenu(JourneyDesktop& desktop, JourneyApp& app, ScreenPoint click, std::optional<ScreenPoint> rest,
                    const std::vector<std::string>& keys) {
    const size_t before = visibleWindows(desktop, app.pid()).size();
    if (!app.clickOnScreen(click.x, click.y)) return false;
    if (rest && !app.moveOnScreen(rest->x, rest->y)) return false;
    if (!waitFor([&] { return visibleWindows(desktop, app.pid()).size() > before; })) {
        std::fprintf(stderr, "the menu at %d,%d never showed\n", click.x, click.y);
        return false;
    }
    for (const std::string& key : keys) {
        if (!app.key(key)) return false;
    }
    if (!waitFor([&] { return visibleWindows(desktop, app.pid()).size() <= before; })) {
        std::fprintf(stderr, "the menu at %d,%d never went\n", click.x, click.y);
        return false;
    }
    return true;
}

std::optional<ScreenRect> clientArea(JourneyDesktop& desktop, const std::string& id) {
    xcb_connection_t* connection = xcb_connect(desktop.x().displayName().c_str(), nullptr);
    std::optional<ScreenRect> area;
    if (!xcb_connection_has_error(connection)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const auto window = static_cast<xcb_window_t>(std::strtoul(id.c_str(), nullptr, 10));
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
        xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, window, screen->root, 0, 0), nullptr);
        if (geometry && origin) area = ScreenRect{origin->dst_x, origin->dst_y, geometry->width, geometry->height};
        std::free(geometry);
        std::free(origin);
    }
    xcb_disconnect(connection);
    return area;
}

std::optional<FrameExtents> frameExtents(JourneyDesktop& desktop, const std::string& id) {
    xcb_connection_t* connection = xcb_connect(desktop.x().displayName().c_str(), nullptr);
    std::optional<FrameExtents> extents;
    if (!xcb_connection_has_error(connection)) {
        const char name[] = "_NET_FRAME_EXTENTS";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
        const auto window = static_cast<xcb_window_t>(std::strtoul(id.c_str(), nullptr, 10));
        xcb_get_property_reply_t* property =
            atom && atom->atom != XCB_ATOM_NONE
                ? xcb_get_property_reply(
                      connection, xcb_get_property(connection, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr)
                : nullptr;
        if (property && property->format == 32 && xcb_get_property_value_length(property) == 16) {
            const auto* value = static_cast<const uint32_t*>(xcb_get_property_value(property));
            extents = FrameExtents{static_cast<int>(value[0]), static_cast<int>(value[1]), static_cast<int>(value[2]),
                                   static_cast<int>(value[3])};
        }
        std::free(property);
        std::free(atom);
    }
    xcb_disconnect(connection);
    return extents;
}

std::optional<ScreenPicture> readScreen(const std::string& display, const ScreenRect& rect) {
    if (rect.width <= 0 || rect.height <= 0) return std::nullopt;
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return std::nullopt;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    std::optional<ScreenPicture> picture;
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<int16_t>(rect.x),
                      static_cast<int16_t>(rect.y), static_cast<uint16_t>(rect.width),
                      static_cast<uint16_t>(rect.height), ~0U),
        nullptr);
    // A 24-bit screen keeps each pixel in 32 bits, blue first.
    const size_t count = static_cast<size_t>(rect.width) * static_cast<size_t>(rect.height);
    if (image && image->depth == 24 && static_cast<size_t>(xcb_get_image_data_length(image)) >= count * 4) {
        const uint8_t* bytes = xcb_get_image_data(image);
        picture.emplace();
        picture->width = rect.width;
        picture->height = rect.height;
        picture->pixels.resize(count);
        for (size_t i = 0; i < count; ++i) {
            picture->pixels[i] = (uint32_t{bytes[4 * i + 2]} << 16) | (uint32_t{bytes[4 * i + 1]} << 8) | bytes[4 * i];
        }
    }
    std::free(image);
    xcb_disconnect(connection);
    return picture;
}

std::vector<uint8_t> captureBrightness(JourneyDesktop& desktop, const ScreenRect& rect) {
    std::vector<uint8_t> brightness;
    const std::optional<ScreenPicture> picture = readScreen(desktop.x().displayName(), rect);
    if (!picture) return brightness;
    brightness.reserve(picture->pixels.size());
    for (const uint32_t pixel : picture->pixels) {
        brightness.push_back(lumaOf((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF));
    }
    return brightness;
}

double shareAtLeast(const std::vector<uint8_t>& brightness, uint8_t threshold) {
    if (brightness.empty()) return 0;
    const auto count =
        std::count_if(brightness.begin(), brightness.end(), [threshold](uint8_t b) { return b >= threshold; });
    return static_cast<double>(count) / static_cast<double>(brightness.size());
}

double meanOf(const std::vector<uint8_t>& brightness) {
    if (brightness.empty()) return 0;
    return std::accumulate(brightness.begin(), brightness.end(), 0.0) / static_cast<double>(brightness.size());
}

}  // namespace lumenhollow::journey
