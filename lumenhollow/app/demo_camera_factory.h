#pragma once

// DemoCameraFactory: the demonstration's cameras. Both routes are the
// scene-seeing simulator looking at one shared panorama: the USB route with
// exact positions, two formats and a microphone sounding a tone (listed in
// the USB microphone menu, moving the level meter, heard in movies), the
// wireless route steered by speed only. The camera counts as plugged in, so
// the demonstration starts on USB. For the states before a picture, the
// options can make quiet cameras instead (DemoQuietCamera), a camera that
// is not plugged in, or one filming upright.
// Main executor only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/simulation/scene_camera.h"
#include "lumenhollow/app/demo_quiet_camera.h"
#include "lumenhollow/model/camera_factory.h"

namespace lumenhollow {

class DemoCameraFactory final : public CameraFactory {
public:
    struct Options {
        hollowkit::ScenePanorama::Options scene;
        // Off: cameras that never finish stopping.
        bool stopCompletes = true;
        // Off: the microphone's tone holds one loudness.
        bool swellingTone = true;
        // Set: every camera is a DemoQuietCamera answering so; none shows a
        // picture.
        std::optional<DemoQuietCamera::Answer> quiet;
        // Off: no camera on the USB cable; the model starts on Wi-Fi.
        bool pluggedIn = true;
        // On: the camera stands upright and films 1080 x 1920.
        bool upright = false;
    };

    DemoCameraFactory(hollowkit::MainExecutor& main, Options options);

    // The photographs the panorama should show but could not read.
    const std::vector<std::string>& missingPictures() const { return missing_; }
    // The camera made last; null before the first.
    std::shared_ptr<hollowkit::SceneCamera> latest() const { return latest_.lock(); }

    bool isPocketConnected() override { return pluggedIn_; }
    std::shared_ptr<hollowkit::PocketCamera> makeCamera(
        ConnectionMode mode, const std::string& pairingIdentifier,
        const std::optional<hollowkit::HomeNetwork>& homeNetwork) override;

private:
    hollowkit::MainExecutor& main_;
    const bool stopCompletes_;
    const bool swellingTone_;
    const std::optional<DemoQuietCamera::Answer> quiet_;
    const bool pluggedIn_;
    const bool upright_;
    std::shared_ptr<const hollowkit::ScenePanorama> scene_;
    std::vector<std::string> missing_;
    std::weak_ptr<hollowkit::SceneCamera> latest_;
};

}  // namespace lumenhollow
