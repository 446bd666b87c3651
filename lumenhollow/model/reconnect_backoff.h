#pragma once

// ReconnectBackoff: how long the camera model waits before rebuilding a
// camera that went off. A camera that really ran (it showed a picture, or it
// lasted kQuickFailure) is rebuilt at once, so a camera turned on again is
// found by itself; so is the first camera in a row that went off at once.
// Each further camera that goes off at once (Bluetooth turned off, a camera
// that drops the connection at once) waits kFirstDelay, doubling up to
// kLongestDelay: rebuilding it at once would be a busy loop.
//
// A plain value kept by the model; main executor only, on its clock.

#include <chrono>

#include "hollowkit/base/clock.h"

namespace lumenhollow {

class ReconnectBackoff {
public:
    static constexpr hollowkit::Duration kQuickFailure = std::chrono::seconds(10);
    static constexpr hollowkit::Duration kFirstDelay = std::chrono::seconds(3);
    static constexpr hollowkit::Duration kLongestDelay = std::chrono::seconds(30);

    // A new camera was attached at `now`.
    void cameraStarted(hollowkit::TimePoint now);
    // The current camera showed a picture.
    void cameraShowedPicture() { ran_ = true; }
    // The current camera went off at `now`: how long to wait before it is
    // rebuilt (zero: at once).
    hollowkit::Duration cameraWentOff(hollowkit::TimePoint now);

private:
    hollowkit::TimePoint startedAt_{};
    bool ran_ = false;
    int quickFailures_ = 0;  // cameras in a row that went off at once
};

}  // namespace lumenhollow
