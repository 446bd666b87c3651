#include "tests/journeys/journey_windows.h"

#include <sstream>
#include <thread>

#include "hollowkit/x11/xcb_connection.h"

namespace lumenhollow::journey {

using hollowkit::x11::internAtom;

CoverWindow::CoverWindow(const std::string& display, const ScreenRect& rect, uint32_t colour)
    : connection_(xcb_connect(display.c_str(), nullptr)) {
    if (xcb_connection_has_error(connection_)) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    const uint32_t background = colour;
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, static_cast<int16_t>(rect.x),
                      static_cast<int16_t>(rect.y), static_cast<uint16_t>(rect.width),
                      static_cast<uint16_t>(rect.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL, &background);
    // WM_NORMAL_HINTS with USPosition and USSize: the window stays where it is made.
    uint32_t hints[18] = {};
    hints[0] = 1 | 2;
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                        32, 18, hints);
    const char name[] = "Cover";
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        sizeof name - 1, name);
    xcb_map_window(connection_, window_);
    const hollowkit::x11::Reply<xcb_get_input_focus_reply_t> synced(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    made_ = synced != nullptr;
}

CoverWindow::~CoverWindow() {
    xcb_disconnect(connection_);
}

bool windowManagerRuns(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool runs = false;
    if (!xcb_connection_has_error(connection)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_atom_t check = internAtom(connection, "_NET_SUPPORTING_WM_CHECK");
        const hollowkit::x11::Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, screen->root, check, XCB_ATOM_WINDOW, 0, 1), nullptr));
        runs = reply && xcb_get_property_value_length(reply.get()) == 4;
    }
    xcb_disconnect(connection);
    return runs;
}

std::string activeWindow(JourneyDesktop& desktop) {
    std::string output;
    if (!xdotool(desktop, {"getactivewindow"}, &output)) return {};
    return output.substr(0, output.find('\n'));
}

std::optional<ScreenWindow> mainWindowOf(JourneyDesktop& desktop, pid_t pid, int minimumWidth) {
    std::optional<ScreenWindow> found;
    waitFor([&] {
        std::string output;
        if (!xdotool(desktop, {"search", "--onlyvisible", "--pid", std::to_string(pid), "--name", "^Lumenhollow$"},
                     &output)) {
            return false;
        }
        std::istringstream ids(output);
        for (std::string id; std::getline(ids, id);) {
            const std::optional<ScreenRect> rect = id.empty() ? std::nullopt : windowGeometry(desktop, id);
            if (rect && rect->width >= minimumWidth) found = ScreenWindow{id, *rect};
        }
        return found.has_value();
    });
    return found;
}

std::optional<ScreenRect> windowOnScreen(const std::string& display, const std::string& id) {
    auto connection = hollowkit::x11::openConnection(display);
    if (!connection) return std::nullopt;
    xcb_connection_t* c = connection->get();
    const auto window = static_cast<uint32_t>(std::stoul(id));
    const auto geometry = hollowkit::x11::ask(xcb_get_geometry_reply, c, xcb_get_geometry(c, window));
    const auto origin = hollowkit::x11::ask(xcb_translate_coordinates_reply, c,
                                            xcb_translate_coordinates(c, window, connection->root, 0, 0));
    if (!geometry || !origin) return std::nullopt;
    return ScreenRect{origin->dst_x, origin->dst_y, geometry->width, geometry->height};
}

std::optional<FramedWindow> settledFrame(JourneyDesktop& desktop, const std::string& id,
                                         const std::function<bool(const FramedWindow&)>& done,
                                         std::chrono::milliseconds limit) {
    std::optional<FramedWindow> last;
    std::optional<FramedWindow> settled;
    waitFor(
        [&] {
            const std::optional<ScreenRect> client = clientArea(desktop, id);
            const std::optional<FrameExtents> extents = frameExtents(desktop, id);
            if (!client || !extents) return false;
            const FramedWindow now{*client, *extents};
            const bool still = last && last->client.x == now.client.x && last->client.y == now.client.y &&
                               last->client.width == now.client.width && last->client.height == now.client.height;
            last = now;
            if (still && done(now)) {
                settled = now;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            return false;
        },
        limit);
    return settled ? settled : last;
}

}  // namespace lumenhollow::journey
