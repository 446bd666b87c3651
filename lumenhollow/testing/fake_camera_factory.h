#pragma once

// FakeCameraFactory: a CameraFactory that builds FakeCameras, USB-like for
// the USB route and wireless-like for the wireless one, with the options
// the test sets per route. It records every build (route, pairing
// identifier, home network) and writes "<route>#<n> built" to the journal
// that its cameras share, so a test can read one ordered story of builds,
// commands and destructions. It keeps the cameras only weakly. Main
// executor only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumenhollow/model/camera_factory.h"
#include "lumenhollow/testing/fake_camera.h"

namespace lumenhollow {

class FakeCameraFactory final : public CameraFactory {
public:
    struct Build {
        ConnectionMode mode = ConnectionMode::wireless;
        std::string pairingIdentifier;
        std::optional<hollowkit::HomeNetwork> homeNetwork;
    };

    explicit FakeCameraFactory(hollowkit::MainExecutor& main);

    void setPocketConnected(bool connected) { pocketConnected_ = connected; }
    // Options for the next cameras of `mode` (the traits follow the route).
    void setOptions(ConnectionMode mode, FakeCamera::Options options);

    bool isPocketConnected() override { return pocketConnected_; }
    std::shared_ptr<hollowkit::PocketCamera> makeCamera(
        ConnectionMode mode, const std::string& pairingIdentifier,
        const std::optional<hollowkit::HomeNetwork>& homeNetwork) override;

    const std::vector<Build>& builds() const { return builds_; }
    // The newest camera built, while it lives.
    std::shared_ptr<FakeCamera> latest() const { return cameras_.empty() ? nullptr : cameras_.back().lock(); }
    // The camera built `index`th (0 first), while it lives.
    std::shared_ptr<FakeCamera> camera(size_t index) const {
        return index < cameras_.size() ? cameras_[index].lock() : nullptr;
    }
    const std::shared_ptr<CameraJournal>& journal() const { return journal_; }

private:
    hollowkit::MainExecutor& main_;
    bool pocketConnected_ = false;
    FakeCamera::Options usbOptions_;
    FakeCamera::Options wirelessOptions_;
    std::vector<Build> builds_;
    std::vector<std::weak_ptr<FakeCamera>> cameras_;
    const std::shared_ptr<CameraJournal> journal_ = std::make_shared<CameraJournal>();
};

}  // namespace lumenhollow
