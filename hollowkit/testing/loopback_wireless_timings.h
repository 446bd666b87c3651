#pragma once

// The wireless route's times shortened for runs against the simulated
// camera on loopback: the camera answers within milliseconds there, so
// waits sized for a real Wi-Fi link would only make tests slow. Counts stay
// large enough that one lost handshake datagram is still retried.

#include "hollowkit/wireless/network_environment.h"

namespace hollowkit {

WirelessTimings loopbackWirelessTimings();

}  // namespace hollowkit
