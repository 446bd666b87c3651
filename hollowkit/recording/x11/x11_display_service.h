#pragma once

// X11DisplayService: the displays of an X11 server as RandR 1.5 monitors
// (one per screen, or several when a screen is split into logical
// monitors). A display's id is its monitor's name atom, stable while the
// server runs; a server without RandR 1.5 shows its whole screen as one
// display. Product names come from the monitors' EDID; a connector named
// eDP, LVDS or DSI is a laptop's built-in panel.
//
// Thread-safe: one connection, opened on first use and again after it
// broke, guarded by a lock.

#include <memory>
#include <string>

#include "hollowkit/base/mutex.h"
#include "hollowkit/recording/display_service.h"

namespace hollowkit {

namespace x11 {
struct Connection;
}

class X11DisplayService final : public DisplayService {
public:
    // `displayName` as in DISPLAY (":0"); empty for $DISPLAY.
    explicit X11DisplayService(std::string displayName = {});
    ~X11DisplayService() override;

    X11DisplayService(const X11DisplayService&) = delete;
    X11DisplayService& operator=(const X11DisplayService&) = delete;

    Result<std::vector<DisplayInfo>, std::string> displays() override;
    std::map<uint32_t, std::string> screenNames() override;
    bool canCapture() override;

private:
    // The open connection, or why there is none.
    Result<x11::Connection*, std::string> connectionLocked() HK_REQUIRES(mutex_);

    const std::string displayName_;
    Mutex mutex_;
    std::unique_ptr<x11::Connection> connection_ HK_GUARDED_BY(mutex_);
};

}  // namespace hollowkit
