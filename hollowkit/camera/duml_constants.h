#pragma once

// DumlConstants: the fixed frames and payloads that the camera links send.
// Each value is made once, on first use, in a thread-safe way, and never
// changes; the references stay valid for the life of the process.

#include <array>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/duml_frame.h"

namespace hollowkit {

struct DumlConstants {
    DumlConstants() = delete;

    // 62 bytes answering an 00/81 information request; also part of the
    // live-view start.
    static const Bytes& infoReplyPayload();
    // The live-view start command's tag (14 bytes).
    static const Bytes& appTagPayload();
    // The gimbal start-up command.
    static const Bytes& gimbalInitPayload();
    // Gimbal start-up and live-view gimbal heartbeat.
    static const Bytes& payload010405();
    // The recentre command (04/4C).
    static const Bytes& payloadFE08();
    // The three payloads of the live-view burst.
    static const Bytes& liveViewPayloadA();
    static const Bytes& liveViewPayloadB();
    static const Bytes& liveViewPayloadC();
    // A, B, C in this order.
    static const std::array<Bytes, 3>& liveViewPayloads();
    // The UDP handshake template (40 bytes).
    static const Bytes& udpOpenPayload();

    // Bluetooth pairing, 00/2B with 04 00.
    static const DumlFrame& pairingFrame();
    // Bluetooth wake, 00/2B with 01 01.
    static const DumlFrame& wakeFrame();
    // Wi-Fi role query, 07/39.
    static const DumlFrame& wifiRoleQueryFrame();
    // Switch the camera to video mode, 02/E1.
    static const DumlFrame& videoModeFrame();
};

}  // namespace hollowkit
