#include "lumenhollow/model/linux/linux_camera_factory.h"

#include <utility>

#include "hollowkit/usb/usb_camera.h"
#include "hollowkit/wireless/wireless_camera.h"

namespace lumenhollow {

LinuxCameraFactory::LinuxCameraFactory(hollowkit::MainExecutor& main, Seams seams)
    : main_(main), usb_(seams.usb), network_(seams.network.withDefaults()) {}

bool LinuxCameraFactory::isPocketConnected() {
    return usb_.isPocketConnected();
}

std::shared_ptr<hollowkit::PocketCamera> LinuxCameraFactory::makeCamera(
    ConnectionMode mode, const std::string& pairingIdentifier,
    const std::optional<hollowkit::HomeNetwork>& homeNetwork) {
    switch (mode) {
        case ConnectionMode::usb:
            return std::make_shared<hollowkit::USBCamera>(usb_.services(main_, network_.bleCentrals),
                                                          pairingIdentifier);
        case ConnectionMode::wireless:
            break;
    }
    return std::make_shared<hollowkit::WirelessCamera>(main_, pairingIdentifier, homeNetwork, network_);
}

}  // namespace lumenhollow
