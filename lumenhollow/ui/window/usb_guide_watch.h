#pragma once

// UsbGuideWatch: the USB guide's look-out for the camera. It asks whether
// the camera is on USB at once and then once a second; the first time it
// is, it reports the find, waits a moment so the user can read it, and
// asks for the switch. Owned by the guide sheet; main executor only.
//
// Once the camera was found, the switch happens even if the user closes the
// sheet in the pause: closed() makes it at once. stop() ends the watch for
// good, also in the pause: a sheet closed by the quit request (or by the
// model) must not start a camera.

#include <functional>

#include "hollowkit/base/executor.h"

namespace lumenhollow {

class UsbGuideWatch {
public:
    static constexpr hollowkit::Duration kPollInterval = std::chrono::seconds(1);
    static constexpr hollowkit::Duration kSwitchDelay = std::chrono::milliseconds(800);

    struct Hooks {
        std::function<bool()> isPocketConnected;
        std::function<void()> found;        // the footer changes now
        std::function<void()> switchToUSB;  // kSwitchDelay after found
    };

    UsbGuideWatch(hollowkit::MainExecutor& main, Hooks hooks);
    ~UsbGuideWatch();
    UsbGuideWatch(const UsbGuideWatch&) = delete;
    UsbGuideWatch& operator=(const UsbGuideWatch&) = delete;

    // The first check runs before this returns. Once only.
    void start();
    // The user closed the sheet: in the pause after the find the switch is
    // made now; otherwise as stop().
    void closed();
    void stop();
    bool isDetected() const { return detected_; }
    bool isWatching() const { return task_ != 0; }
    // Found, the switch not made yet.
    bool isPausing() const { return detected_ && !stopped_; }

private:
    void check();

    hollowkit::MainExecutor& main_;
    Hooks hooks_;
    bool started_ = false;
    bool stopped_ = false;
    bool detected_ = false;
    hollowkit::TaskId task_ = 0;  // the next check or the switch
};

}  // namespace lumenhollow
