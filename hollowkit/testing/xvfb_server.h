#pragma once

// XvfbServer: an X server of a test's own. Xvfb runs as a child process on
// a display number it picks itself (-displayfd), with MIT-SHM, and is ended
// (SIGTERM, then reaped) by the destructor; it also ends by itself when the
// test process dies and its connection goes. The test paints known colour
// blocks on the root window, sets a solid square pointer so recordings show
// where it is, splits the screen into RandR logical monitors, and drives
// pointer and keys with xdotool aimed at this server.
//
// Thread: one owner thread; nothing here is shared.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

struct RgbColor {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;

    bool operator==(const RgbColor&) const = default;
};

struct ColorBlock {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    RgbColor color;
};

struct LogicalMonitor {
    std::string name;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
};

class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // The Xvfb program, when the machine has one.
    static std::optional<std::string> program();
    // The xdotool program, when the machine has one.
    static std::optional<std::string> xdotoolProgram();

    // Starts a width x height x 24 screen and waits (a few seconds at most)
    // until it takes clients.
    Result<void, std::string> start(int width, int height);
    // ":N"; empty before start().
    const std::string& displayName() const { return displayName_; }
    // Ends the server at once with `signal`, as a crash (SIGKILL) or the
    // session's end (SIGTERM) ends it, and waits until it has gone: every
    // client's connection breaks.
    void end(int signal);

    // Makes the root window's background `background` with `blocks` drawn
    // over it, in order. It stays painted. `advertised` also names it in
    // _XROOTPMAP_ID, as wallpaper setters do, for compositing managers and
    // screen recorders that draw the desktop themselves.
    Result<void, std::string> paint(RgbColor background, const std::vector<ColorBlock>& blocks,
                                    bool advertised = false);
    // A solid square pointer of `size` pixels in `color`, its hot spot at the
    // top-left corner.
    Result<void, std::string> setSquareCursor(int size, RgbColor color);
    // Adds RandR logical monitors over parts of the screen.
    Result<void, std::string> addMonitors(const std::vector<LogicalMonitor>& monitors);
    // Makes the screen width x height, no larger than it started, as a
    // change of resolution does: its one output takes a mode of that size
    // and the screen follows; every client hears of it through RandR.
    Result<void, std::string> resizeScreen(int width, int height);
    // The RandR monitor id (name atom) of `name`; nothing when there is none.
    std::optional<uint32_t> monitorId(const std::string& name);
    // Maps a plain top-level window with a child window filling it; returns
    // the top-level window's id.
    Result<uint32_t, std::string> createWindow(int x, int y, int width, int height);
    // Runs xdotool against this server.
    CommandResult xdotool(const std::vector<std::string>& arguments) const;

private:
    struct Painter;
    Result<Painter*, std::string> painter();
    void stop();

    pid_t pid_ = -1;
    std::string displayName_;
    std::unique_ptr<Painter> painter_;
};

}  // namespace hollowkit
