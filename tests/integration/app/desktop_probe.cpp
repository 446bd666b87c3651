#include "desktop_probe.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <QElapsedTimer>

#include <cstdlib>
#include <vector>

#include "hollowkit/x11/xcb_connection.h"

extern char** environ;

namespace lumenhollow::test {
namespace {

template <typename T>
using ProbeReply = hollowkit::x11::Reply<T>;

}  // namespace

DesktopProbe::DesktopProbe(xcb_connection_t* connection) : connection_(connection) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    root_ = screen->root;
    // Screen 0: the test's server has only one.
    compositorAtom_ = hollowkit::x11::internAtom(connection_, hollowkit::x11::compositorSelectionName(0));
}

DesktopProbe::~DesktopProbe() {
    if (window_ != 0) xcb_destroy_window(connection_, window_);
    xcb_disconnect(connection_);
}

std::unique_ptr<DesktopProbe> DesktopProbe::connect(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<DesktopProbe>(new DesktopProbe(connection));
}

QRect DesktopProbe::blackBounds(const QRect& area) {
    const ProbeReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        connection_,
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<int16_t>(area.x()),
                      static_cast<int16_t>(area.y()), static_cast<uint16_t>(area.width()),
                      static_cast<uint16_t>(area.height()), ~0u),
        nullptr));
    if (!image) return {};
    const int length = xcb_get_image_data_length(image.get());
    // A 24-bit screen comes back as 32 bits a pixel: blue, green, red, unused.
    if (length != area.width() * area.height() * 4) return {};
    const uint8_t* data = xcb_get_image_data(image.get());
    QRect bounds;
    for (int y = 0; y < area.height(); ++y) {
        const uint8_t* row = data + static_cast<ptrdiff_t>(y) * area.width() * 4;
        for (int x = 0; x < area.width(); ++x) {
            const uint8_t* pixel = row + x * 4;
            if (pixel[0] < kBlackLevel && pixel[1] < kBlackLevel && pixel[2] < kBlackLevel) {
                bounds |= QRect(area.x() + x, area.y() + y, 1, 1);
            }
        }
    }
    return bounds;
}

bool DesktopProbe::openWindowBeneath(const QRect& frame, uint32_t above) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    const uint32_t values[] = {screen->white_pixel, 1, XCB_EVENT_MASK_BUTTON_PRESS};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, root_, static_cast<int16_t>(frame.x()),
                      static_cast<int16_t>(frame.y()), static_cast<uint16_t>(frame.width()),
                      static_cast<uint16_t>(frame.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(connection_, window_);
    const uint32_t stacking[] = {above, XCB_STACK_MODE_BELOW};
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, stacking);
    // A round trip: the window is up (or the request failed) when this returns.
    const ProbeReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window_), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

int DesktopProbe::presses() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const auto* press = reinterpret_cast<const xcb_button_press_event_t*>(event);
        if ((event->response_type & 0x7f) == XCB_BUTTON_PRESS && press->event == window_) ++presses_;
        std::free(event);
    }
    return presses_;
}

bool DesktopProbe::compositorRuns() {
    if (compositorAtom_ == 0) return false;
    const ProbeReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, compositorAtom_), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

bool DesktopProbe::waitForCompositor(std::chrono::milliseconds limit) {
    // Told when the selection changes hands, so the wait is on the server's word.
    const ProbeReply<xcb_xfixes_query_version_reply_t> version(
        xcb_xfixes_query_version_reply(connection_, xcb_xfixes_query_version(connection_, 5, 0), nullptr));
    if (!version || compositorAtom_ == 0) return false;
    xcb_xfixes_select_selection_input(connection_, root_, compositorAtom_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    QElapsedTimer elapsed;
    elapsed.start();
    while (!compositorRuns()) {
        const qint64 left = limit.count() - elapsed.elapsed();
        if (left <= 0) return false;
        pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left));
        presses();  // reads what came; the presses are kept
    }
    return true;
}

std::optional<std::string> CompositorProcess::program() {
    for (const char* path : {"/usr/bin/xcompmgr", "/usr/local/bin/xcompmgr"}) {
        if (::access(path, X_OK) == 0) return std::string(path);
    }
    return std::nullopt;
}

CompositorProcess::~CompositorProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

void CompositorProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string CompositorProcess::start(const std::string& display) {
    const auto path = program();
    if (!path) return "xcompmgr is not installed";
    std::string displayArgument = "DISPLAY=" + display;
    std::string xcompmgr = *path;
    std::string env = "/usr/bin/env";
    std::vector<char*> argv{env.data(), displayArgument.data(), xcompmgr.data(), nullptr};
    if (::posix_spawn(&pid_, env.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        return "xcompmgr did not start";
    }
    return {};
}

}  // namespace lumenhollow::test
