#pragma once

// CameraCommand: one request for the camera over the Wi-Fi route (zoom,
// gimbal flip, card recording, a setting), as the live-view session sends
// it: DUML command set and command, payload, addressee, whether the answer
// is reported, and a label for the log and the answer's notice. Plain value;
// the builders are pure and safe on any thread.

#include <cstdint>
#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/camera_setting.h"

namespace hollowkit {

struct CameraCommand {
    // The camera's zoom units per percent, times 100.
    static constexpr int zoomScale = 217;

    uint8_t cmdSet = 0;
    uint8_t cmdId = 0;
    Bytes payload;
    int receiverType = 0;  // device type of the addressee (bits 0-4 of its address)
    int receiverId = 0;    // device index of the addressee (bits 5-7)
    int cmdType = 0;       // command type placed in the frame's flags
    bool reportsSuccess = false;
    std::string label;

    bool operator==(const CameraCommand&) const = default;

    // 04/4C FE 09 to the gimbal, "Flip gimbal". Made once.
    static const CameraCommand& flipGimbal();

    // 02/02 with 01 (start) or 00 (stop).
    static CameraCommand cardRecording(bool start);

    // 02/B8 with 0A 4E and the zoom value as u16 LE: `percent` clamped to
    // 100...1200, times zoomScale / 100. The label names the requested
    // percent, before clamping ("Zoom 2.5x").
    static CameraCommand zoom(int percent);

    // The 02/xx command that applies `request`.
    static CameraCommand setting(const CameraSetting& request);
};

}  // namespace hollowkit
