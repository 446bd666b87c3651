#include "lumenhollow/app/demo_camera_factory.h"

#include <algorithm>
#include <utility>

namespace lumenhollow {

DemoCameraFactory::DemoCameraFactory(hollowkit::MainExecutor& main, Options options)
    : main_(main),
      stopCompletes_(options.stopCompletes),
      swellingTone_(options.swellingTone),
      quiet_(options.quiet),
      pluggedIn_(options.pluggedIn),
      upright_(options.upright),
      scene_(hollowkit::ScenePanorama::build(options.scene)) {
    // An unreadable photograph is left out of the scene; say which.
    const std::vector<std::string>& hung = scene_->hungPictures();
    for (const auto& picture : options.scene.pictures) {
        if (std::find(hung.begin(), hung.end(), picture.path) == hung.end()) missing_.push_back(picture.path);
    }
}

std::shared_ptr<hollowkit::PocketCamera> DemoCameraFactory::makeCamera(ConnectionMode mode, const std::string&,
                                                                       const std::optional<hollowkit::HomeNetwork>&) {
    if (quiet_) return std::make_shared<DemoQuietCamera>(main_, mode, *quiet_);
    hollowkit::SceneCamera::Options options;
    options.route = mode == ConnectionMode::usb ? hollowkit::SceneCamera::Route::usb
                                                : hollowkit::SceneCamera::Route::wireless;
    options.format = upright_ ? hollowkit::VideoFormatOption{1080, 1920, 30}
                              : hollowkit::VideoFormatOption{1920, 1080, 30};
    // Scenes and recentring turn visibly, as a gimbal does.
    options.moveDegreesPerSecond = 60;
    options.stopCompletes = stopCompletes_;
    options.swellingTone = swellingTone_;
    auto camera = std::make_shared<hollowkit::SceneCamera>(main_, scene_, options);
    latest_ = camera;
    return camera;
}

}  // namespace lumenhollow
