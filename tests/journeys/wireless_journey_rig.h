#pragma once

// WirelessJourneyRig: the world outside the application on its wireless
// route, for the journey host program: a private D-Bus bus with a fake BlueZ
// serving the simulated Pocket's Bluetooth side, a fake nmcli, the simulated
// Pocket's network side on loopback streaming a real HEVC picture, and an
// empty USB bus (no Pocket plugged in). The application's own
// LinuxCameraFactory runs over it through its seams, so everything from the
// BlueZ client to the decoder is the product's code.
//
// prepare() runs before the application (it may start a child process and
// writes files only); makeCameras() runs on the main executor and builds the
// threads' part. The factory it returns owns what the cameras use and tears
// it down after them, on the main executor. The camera's own record is a
// JSON object (record()), read on the main executor.

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/result.h"
#include "lumenhollow/model/camera_factory.h"

namespace lumenhollow::journey {

class WirelessJourneyRig {
public:
    ~WirelessJourneyRig();
    WirelessJourneyRig(const WirelessJourneyRig&) = delete;
    WirelessJourneyRig& operator=(const WirelessJourneyRig&) = delete;

    // The fake nmcli, the HEVC stream and the bus: the one at `busAddress`
    // (a test's own, which outlives this program whatever its end), else
    // one started here. With `bluezLater` the bus has no BlueZ until
    // startBluez(). The error says what failed.
    static hollowkit::Result<std::unique_ptr<WirelessJourneyRig>, std::string> prepare(
        const std::optional<std::string>& busAddress, bool bluezLater = false);

    // The fake BlueZ, the simulated camera and the application's factory
    // over them. Main executor; once.
    std::unique_ptr<CameraFactory> makeCameras(hollowkit::MainExecutor& main);

    // The user approves the pairing on the camera's screen.
    void approvePairing();
    // The fake BlueZ starts on the bus (prepared with `bluezLater`).
    void startBluez();
    // The camera stops answering and streaming on its Wi-Fi: not a datagram
    // more (its Bluetooth side still answers, as a camera whose Wi-Fi hung);
    // or, silent already, it answers again.
    void toggleSilence();
    // The camera is left on another Wi-Fi network and refuses to go back to
    // its own when asked, so the application's connection fails there; or,
    // left there already, it is turned off and on and is back on its own.
    void toggleOnAnotherNetwork();
    // What the simulated camera and the fake tools saw (main executor):
    // "paired", "pairingRequests", "bluetoothConnected", "wifiJoined" (the
    // network nmcli associated, or null), "wifiActivations",
    // "passwordFilesOk", "liveView", "picturesSent", "settingsFrames"
    // (["02/XX aa bb ..."] for every setting the camera received),
    // "cardFrames", "cardRecording", "silent", "bluetoothConnections" (every
    // connection the camera's Bluetooth side took), "onAnotherNetwork".
    nlohmann::json record() const;

private:
    WirelessJourneyRig();
    struct Outside;
    class Factory;

    std::unique_ptr<Outside> outside_;
    Factory* factory_ = nullptr;  // owned by the application
};

}  // namespace lumenhollow::journey
