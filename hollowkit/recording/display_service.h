#pragma once

// DisplayService: the displays of the window system, for the display picker,
// the screen recorder and the cursor recorder. One backend over X11 RandR
// monitors (x11/x11_display_service.h); tests use FakeDisplayService.
// Implementations are thread-safe: any call from any thread.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hollowkit/base/result.h"
#include "hollowkit/recording/screen_display.h"

namespace hollowkit {

class DisplayService {
public:
    virtual ~DisplayService() = default;

    // The displays in the window system's order. Fails, with the reason,
    // when the window system cannot be reached; an empty list is no error.
    virtual Result<std::vector<DisplayInfo>, std::string> displays() = 0;

    // The product names of displays that report one (a monitor's own name),
    // keyed by display id; displays without one are missing.
    virtual std::map<uint32_t, std::string> screenNames() = 0;

    // Whether this process may capture the screen now: the display server is
    // reachable and a grab of it works. Shows nothing to the user.
    virtual bool canCapture() = 0;
};

}  // namespace hollowkit
