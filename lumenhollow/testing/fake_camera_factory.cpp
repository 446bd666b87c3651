#include "lumenhollow/testing/fake_camera_factory.h"

namespace lumenhollow {

FakeCameraFactory::FakeCameraFactory(hollowkit::MainExecutor& main) : main_(main) {
    usbOptions_.traits = FakeCamera::Traits::usbLike;
    wirelessOptions_.traits = FakeCamera::Traits::wirelessLike;
}

void FakeCameraFactory::setOptions(ConnectionMode mode, FakeCamera::Options options) {
    if (mode == ConnectionMode::usb) {
        options.traits = FakeCamera::Traits::usbLike;
        usbOptions_ = std::move(options);
    } else {
        options.traits = FakeCamera::Traits::wirelessLike;
        wirelessOptions_ = std::move(options);
    }
}

std::shared_ptr<hollowkit::PocketCamera> FakeCameraFactory::makeCamera(
    ConnectionMode mode, const std::string& pairingIdentifier,
    const std::optional<hollowkit::HomeNetwork>& homeNetwork) {
    builds_.push_back({mode, pairingIdentifier, homeNetwork});
    const std::string name = std::string(mode == ConnectionMode::usb ? "usb" : "wireless") + "#" +
                             std::to_string(builds_.size());
    journal_->add(name + " built");
    auto camera = std::make_shared<FakeCamera>(
        main_, mode == ConnectionMode::usb ? usbOptions_ : wirelessOptions_, name, journal_);
    cameras_.push_back(camera);
    return camera;
}

}  // namespace lumenhollow
