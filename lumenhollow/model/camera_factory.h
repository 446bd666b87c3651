#pragma once

// CameraFactory: how the camera model finds out whether the camera is on
// USB and builds the camera of a route. The application's factory builds
// USBCamera and WirelessCamera over the system's services; tests build fake
// cameras. Building starts nothing. Main executor only.

#include <memory>
#include <optional>
#include <string>

#include "hollowkit/camera/pocket_camera.h"
#include "hollowkit/wireless/home_network.h"
#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

class CameraFactory {
public:
    virtual ~CameraFactory() = default;

    // Whether the camera is plugged in by USB at this moment.
    virtual bool isPocketConnected() = 0;

    // A new, unstarted camera for `mode`. The model shares it only with
    // helpers that hold it weakly.
    virtual std::shared_ptr<hollowkit::PocketCamera> makeCamera(
        ConnectionMode mode, const std::string& pairingIdentifier,
        const std::optional<hollowkit::HomeNetwork>& homeNetwork) = 0;
};

}  // namespace lumenhollow
