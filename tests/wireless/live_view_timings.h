#pragma once

// Timings shared by the live-view tests that run over loopback.

#include <chrono>

#include "hollowkit/wireless/duml_udp_link.h"
#include "hollowkit/wireless/wireless_video_session.h"

namespace hollowkit::testsupport {

// The link and session timings of the live-view tests over loopback: short
// pumps, a generous handshake.
inline constexpr UdpLinkTimings kLiveViewLinkTimings{.handshakeAttempts = 20,
                                                     .handshakeWindow = std::chrono::milliseconds(350),
                                                     .syncRounds = 2,
                                                     .syncPump = std::chrono::milliseconds(50),
                                                     .verifyPump = std::chrono::milliseconds(100)};

inline SessionTimings shortLiveViewSession() {
    SessionTimings timings;
    timings.startPump = std::chrono::milliseconds(50);
    timings.heartbeatInitPump = std::chrono::milliseconds(50);
    timings.statsInterval = std::chrono::milliseconds(200);
    return timings;
}

}  // namespace hollowkit::testsupport
