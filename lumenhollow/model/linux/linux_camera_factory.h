#pragma once

// LinuxCameraFactory: the application's CameraFactory. It builds USBCamera
// over one UsbCameraSystem (V4L2, sysfs, the sound server, udev) kept for
// every USB connection, and WirelessCamera over one NetworkEnvironment
// (BlueZ, nmcli, sockets, the camera's own addresses). The battery link of
// the USB route and the wireless route share that environment's Bluetooth
// central. Each system service can be replaced through Seams, so tests run
// the real cameras against the fake V4L2 device and sysfs tree, and against
// the simulated camera on loopback; left alone, every seam is the system's
// and the environment's addresses are the camera's own.
//
// Main executor only (as CameraFactory); the seams must outlive the factory
// and every camera it builds, and the factory outlives its cameras.

#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/executor.h"
#include "hollowkit/usb/linux/usb_camera_system.h"
#include "hollowkit/wireless/network_environment.h"
#include "lumenhollow/model/camera_factory.h"

namespace lumenhollow {

class LinuxCameraFactory final : public CameraFactory {
public:
    struct Seams {
        hollowkit::UsbCameraSystem::Seams usb;
        // Services left empty are the Linux backends (withDefaults()).
        hollowkit::NetworkEnvironment network;
    };

    explicit LinuxCameraFactory(hollowkit::MainExecutor& main, Seams seams = {});
    LinuxCameraFactory(const LinuxCameraFactory&) = delete;
    LinuxCameraFactory& operator=(const LinuxCameraFactory&) = delete;

    bool isPocketConnected() override;
    std::shared_ptr<hollowkit::PocketCamera> makeCamera(
        ConnectionMode mode, const std::string& pairingIdentifier,
        const std::optional<hollowkit::HomeNetwork>& homeNetwork) override;

    // The environment the wireless cameras get, its services filled in.
    const hollowkit::NetworkEnvironment& network() const { return network_; }

private:
    hollowkit::MainExecutor& main_;
    hollowkit::UsbCameraSystem usb_;
    const hollowkit::NetworkEnvironment network_;
};

}  // namespace lumenhollow
