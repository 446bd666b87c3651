#include "hollowkit/testing/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/uio.h>

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/x11/xcb_connection.h"

extern char** environ;

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

// Xvfb announces its display or ends (its end of the pipe closing): both
// are waited for as long as they take on a loaded machine; only a server
// that hangs meets this bound.
constexpr auto kXvfbStartTimeout = 120s;
// The descriptor number Xvfb is told to announce its display on.
constexpr int kDisplayFd = 100;

std::optional<std::string> findProgram(const char* name) {
    for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
        const std::string path = std::string(folder) + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return std::nullopt;
}

uint32_t pixelOf(RgbColor color) {
    return (static_cast<uint32_t>(color.r) << 16) | (static_cast<uint32_t>(color.g) << 8) | color.b;
}

}  // namespace

struct XvfbServer::Painter {
    xcb_connection_t* connection = nullptr;
    xcb_screen_t* screen = nullptr;
    // The wallpaper named in _XROOTPMAP_ID, kept while it is named there.
    xcb_pixmap_t wallpaper = XCB_NONE;

    ~Painter() {
        if (connection != nullptr) xcb_disconnect(connection);
    }

    // Waits until the server has handled everything sent so far.
    bool sync() { return x11::ask(xcb_get_input_focus_reply, connection, xcb_get_input_focus(connection)) != nullptr; }

    Result<void, std::string> check(xcb_void_cookie_t cookie, const char* what) {
        if (const x11::Reply<xcb_generic_error_t> error{xcb_request_check(connection, cookie)}) {
            const int code = error->error_code;
            return unexpected(std::string(what) + " failed with X error " + std::to_string(code));
        }
        return {};
    }
};

XvfbServer::XvfbServer() = default;

XvfbServer::~XvfbServer() {
    stop();
}

std::optional<std::string> XvfbServer::program() {
    return findProgram("Xvfb");
}

std::optional<std::string> XvfbServer::xdotoolProgram() {
    return findProgram("xdotool");
}

Result<void, std::string> XvfbServer::start(int width, int height) {
    const auto xvfb = program();
    if (!xvfb) return unexpected(std::string("Xvfb is not installed"));
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return unexpected(std::string("pipe: ") + std::strerror(errno));
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    if (writeEnd.get() == kDisplayFd) return unexpected(std::string("descriptor clash"));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto another number clears close-on-exec for the copy only.
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), kDisplayFd);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(kDisplayFd);
    std::vector<std::string> arguments{*xvfb,   "-displayfd", fd,         "-screen", "0",      screen,
                                       "+extension", "MIT-SHM", "-nolisten", "tcp",  "-terminate"};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, xvfb->c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (rc != 0) {
        pid_ = -1;
        return unexpected(std::string("Xvfb could not start: ") + std::strerror(rc));
    }

    // Xvfb writes its display number once it takes clients.
    const auto deadline = std::chrono::steady_clock::now() + kXvfbStartTimeout;
    std::string number;
    while (number.empty() || number.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            stop();
            return unexpected(std::string("Xvfb did not announce a display in time"));
        }
        pollfd wait{readEnd.get(), POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[16];
        const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n <= 0) {
            stop();
            return unexpected(std::string("Xvfb ended before it announced a display"));
        }
        number.append(buffer, static_cast<size_t>(n));
    }
    number.pop_back();
    displayName_ = ":" + number;
    // The socket is there by now; checked so a test fails clearly if not.
    const std::string socket = "/tmp/.X11-unix/X" + number;
    while (!std::filesystem::exists(socket)) {
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            return unexpected("Xvfb made no socket " + socket);
        }
        std::this_thread::sleep_for(5ms);
    }
    // Held for the server's life: with -terminate the server ends when its
    // last client goes, so it does not outlive a test process that dies.
    if (auto connected = painter(); !connected) {
        stop();
        return unexpected(connected.error());
    }
    return {};
}

void XvfbServer::stop() {
    end(SIGTERM);
}

void XvfbServer::end(int signal) {
    painter_.reset();
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
}

Result<XvfbServer::Painter*, std::string> XvfbServer::painter() {
    if (painter_) return painter_.get();
    if (displayName_.empty()) return unexpected(std::string("the server is not running"));
    auto made = std::make_unique<Painter>();
    made->connection = xcb_connect(displayName_.c_str(), nullptr);
    if (xcb_connection_has_error(made->connection) != 0) {
        return unexpected("cannot connect to " + displayName_);
    }
    made->screen = xcb_setup_roots_iterator(xcb_get_setup(made->connection)).data;
    painter_ = std::move(made);
    return painter_.get();
}

Result<void, std::string> XvfbServer::paint(RgbColor background, const std::vector<ColorBlock>& blocks,
                                           bool advertised) {
    auto p = painter();
    if (!p) return unexpected(p.error());
    Painter& painter = *p.value();
    xcb_connection_t* c = painter.connection;
    xcb_screen_t* screen = painter.screen;
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    auto created = painter.check(xcb_create_pixmap_checked(c, screen->root_depth, pixmap, screen->root,
                                                           screen->width_in_pixels, screen->height_in_pixels),
                                 "CreatePixmap");
    if (!created) return created;
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    const auto fill = [&](int x, int y, int w, int h, RgbColor color) {
        const uint32_t value = pixelOf(color);
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &value);
        const xcb_rectangle_t rect{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(w),
                                   static_cast<uint16_t>(h)};
        xcb_poly_fill_rectangle(c, pixmap, gc, 1, &rect);
    };
    fill(0, 0, screen->width_in_pixels, screen->height_in_pixels, background);
    for (const auto& block : blocks) fill(block.x, block.y, block.width, block.height, block.color);
    // The root keeps its background pixmap after the names are freed.
    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    xcb_free_gc(c, gc);
    const uint32_t named = x11::internAtom(c, "_XROOTPMAP_ID");
    if (advertised) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, named, XCB_ATOM_PIXMAP, 32, 1, &pixmap);
    } else if (painter.wallpaper != XCB_NONE) {
        xcb_delete_property(c, screen->root, named);
    }
    if (painter.wallpaper != XCB_NONE) xcb_free_pixmap(c, painter.wallpaper);
    painter.wallpaper = XCB_NONE;
    if (advertised) {
        painter.wallpaper = pixmap;
    } else {
        xcb_free_pixmap(c, pixmap);
    }
    if (!painter.sync()) return unexpected(std::string("the server went away while painting"));
    return {};
}

Result<void, std::string> XvfbServer::setSquareCursor(int size, RgbColor color) {
    auto p = painter();
    if (!p) return unexpected(p.error());
    Painter& painter = *p.value();
    xcb_connection_t* c = painter.connection;
    xcb_screen_t* screen = painter.screen;
    const xcb_pixmap_t bits = xcb_generate_id(c);
    xcb_create_pixmap(c, 1, bits, screen->root, static_cast<uint16_t>(size), static_cast<uint16_t>(size));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    const uint32_t one = 1;
    xcb_create_gc(c, gc, bits, XCB_GC_FOREGROUND, &one);
    const xcb_rectangle_t rect{0, 0, static_cast<uint16_t>(size), static_cast<uint16_t>(size)};
    xcb_poly_fill_rectangle(c, bits, gc, 1, &rect);
    const xcb_cursor_t cursor = xcb_generate_id(c);
    const auto wide = [](uint8_t v) { return static_cast<uint16_t>(v * 257); };
    auto made = painter.check(xcb_create_cursor_checked(c, cursor, bits, bits, wide(color.r), wide(color.g),
                                                        wide(color.b), 0, 0, 0, 0, 0),
                              "CreateCursor");
    if (!made) return made;
    xcb_change_window_attributes(c, screen->root, XCB_CW_CURSOR, &cursor);
    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, bits);
    if (!painter.sync()) return unexpected(std::string("the server went away"));
    return {};
}

Result<void, std::string> XvfbServer::addMonitors(const std::vector<LogicalMonitor>& monitors) {
    auto p = painter();
    if (!p) return unexpected(p.error());
    Painter& painter = *p.value();
    xcb_connection_t* c = painter.connection;
    const auto version = x11::ask(xcb_randr_query_version_reply, c, xcb_randr_query_version(c, 1, 5));
    if (!version || (version->major_version == 1 && version->minor_version < 5)) {
        return unexpected(std::string("the server has no RandR 1.5 monitors"));
    }
    for (const auto& monitor : monitors) {
        const uint32_t name = x11::internAtom(c, monitor.name);
        if (name == XCB_ATOM_NONE) return unexpected(std::string("InternAtom failed"));
        // Sent by hand: libxcb's own SetMonitor wrapper miscounts the length
        // of a second request on a connection (it asserts in xcb_out.c).
        struct {
            xcb_randr_set_monitor_request_t header;
            xcb_randr_monitor_info_t info;
        } request{};
        static_assert(sizeof request == 32);
        request.header.window = painter.screen->root;
        xcb_randr_monitor_info_t& info = request.info;
        info.name = name;
        info.primary = monitor.primary ? 1 : 0;
        info.automatic = 0;
        info.nOutput = 0;
        info.x = static_cast<int16_t>(monitor.x);
        info.y = static_cast<int16_t>(monitor.y);
        info.width = static_cast<uint16_t>(monitor.width);
        info.height = static_cast<uint16_t>(monitor.height);
        info.width_in_millimeters = static_cast<uint32_t>(monitor.width / 4);
        info.height_in_millimeters = static_cast<uint32_t>(monitor.height / 4);
        iovec parts[3] = {{nullptr, 0}, {nullptr, 0}, {&request, sizeof request}};
        xcb_protocol_request_t protocol{1, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        const unsigned sequence = xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &protocol);
        auto set = painter.check(xcb_void_cookie_t{sequence}, "SetMonitor");
        if (!set) return set;
    }
    return {};
}

Result<void, std::string> XvfbServer::resizeScreen(int width, int height) {
    auto p = painter();
    if (!p) return unexpected(p.error());
    Painter& painter = *p.value();
    xcb_connection_t* c = painter.connection;
    const xcb_window_t root = painter.screen->root;
    const auto version = x11::ask(xcb_randr_query_version_reply, c, xcb_randr_query_version(c, 1, 2));
    if (!version || (version->major_version == 1 && version->minor_version < 2)) {
        return unexpected(std::string("the server has no RandR 1.2"));
    }
    const auto resources =
        x11::ask(xcb_randr_get_screen_resources_reply, c, xcb_randr_get_screen_resources(c, root));
    if (!resources || resources->num_crtcs < 1 || resources->num_outputs < 1) {
        return unexpected(std::string("the server has no output to resize"));
    }
    const xcb_randr_crtc_t crtc = xcb_randr_get_screen_resources_crtcs(resources.get())[0];
    xcb_randr_output_t output = xcb_randr_get_screen_resources_outputs(resources.get())[0];
    // A mode of the new size (the server's own, or one made: Xvfb takes
    // any), on the output, then on its crtc; the screen is made smaller only
    // once nothing shows past it.
    xcb_randr_mode_t modeId = XCB_NONE;
    const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_modes(resources.get());
    for (int i = 0; i < resources->num_modes; ++i) {
        if (modes[i].width == width && modes[i].height == height) modeId = modes[i].id;
    }
    if (modeId == XCB_NONE) {
        const std::string name = std::to_string(width) + "x" + std::to_string(height);
        xcb_randr_mode_info_t mode{};
        mode.width = static_cast<uint16_t>(width);
        mode.height = static_cast<uint16_t>(height);
        mode.htotal = static_cast<uint16_t>(width);
        mode.vtotal = static_cast<uint16_t>(height);
        mode.dot_clock = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 60;
        mode.name_len = static_cast<uint16_t>(name.size());
        const auto created = x11::ask(xcb_randr_create_mode_reply, c,
                                      xcb_randr_create_mode(c, root, mode, mode.name_len, name.c_str()));
        if (!created) return unexpected(std::string("CreateMode failed"));
        modeId = created->mode;
        auto added = painter.check(xcb_randr_add_output_mode_checked(c, output, modeId), "AddOutputMode");
        if (!added) return added;
    }
    // Growing, the screen comes first, so the mode fits on it.
    const auto size = [&] {
        return painter.check(
            xcb_randr_set_screen_size_checked(c, root, static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                                              static_cast<uint32_t>(width / 4), static_cast<uint32_t>(height / 4)),
            "SetScreenSize");
    };
    const auto geometry = x11::ask(xcb_get_geometry_reply, c, xcb_get_geometry(c, root));
    if (!geometry) return unexpected(std::string("the server went away"));
    const bool grows = width > geometry->width || height > geometry->height;
    if (grows) {
        auto sized = size();
        if (!sized) return sized;
    }
    const auto set = x11::ask(xcb_randr_set_crtc_config_reply, c,
                              xcb_randr_set_crtc_config(c, crtc, XCB_CURRENT_TIME, resources->config_timestamp, 0, 0,
                                                        modeId, XCB_RANDR_ROTATION_ROTATE_0, 1, &output));
    if (!set || set->status != XCB_RANDR_SET_CONFIG_SUCCESS) return unexpected(std::string("SetCrtcConfig failed"));
    if (!grows) {
        auto sized = size();
        if (!sized) return sized;
    }
    if (!painter.sync()) return unexpected(std::string("the server went away"));
    return {};
}

std::optional<uint32_t> XvfbServer::monitorId(const std::string& name) {
    auto p = painter();
    if (!p) return std::nullopt;
    xcb_connection_t* c = p.value()->connection;
    const auto atom =
        x11::ask(xcb_intern_atom_reply, c, xcb_intern_atom(c, 1, static_cast<uint16_t>(name.size()), name.c_str()));
    if (!atom || atom->atom == XCB_ATOM_NONE) return std::nullopt;
    return atom->atom;
}

Result<uint32_t, std::string> XvfbServer::createWindow(int x, int y, int width, int height) {
    auto p = painter();
    if (!p) return unexpected(p.error());
    Painter& painter = *p.value();
    xcb_connection_t* c = painter.connection;
    xcb_screen_t* screen = painter.screen;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel, 1};  // background, override-redirect
    auto made = painter.check(
        xcb_create_window_checked(c, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<int16_t>(x),
                                  static_cast<int16_t>(y), static_cast<uint16_t>(width),
                                  static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                                  screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values),
        "CreateWindow");
    if (!made) return unexpected(made.error());
    // A child inside it, as a toolkit's window would have.
    const xcb_window_t child = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, child, window, 0, 0, static_cast<uint16_t>(width),
                      static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0,
                      nullptr);
    xcb_map_window(c, child);
    xcb_map_window(c, window);
    if (!painter.sync()) return unexpected(std::string("the server went away"));
    return window;
}

CommandResult XvfbServer::xdotool(const std::vector<std::string>& arguments) const {
    const auto path = xdotoolProgram();
    if (!path) return CommandResult{-1, "xdotool is not installed", false};
    // env sets DISPLAY for the child alone.
    std::vector<std::string> full{"DISPLAY=" + displayName_, *path};
    full.insert(full.end(), arguments.begin(), arguments.end());
    return CommandRunner::run("/usr/bin/env", full, {}, /*logged=*/false);
}

}  // namespace hollowkit
