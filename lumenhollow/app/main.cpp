// lumenhollow: the application, directing a Pocket on USB-C or over Wi-Fi.
// It takes no command-line options.

#include "hollowkit/base/standard_streams.h"
#include "lumenhollow/app/application.h"
#include "lumenhollow/model/linux/linux_camera_factory.h"

int main(int argc, char** argv) {
    // First: nothing opened from here on may take a standard stream's number.
    hollowkit::openClosedStandardStreams();
    lumenhollow::ApplicationOptions options;
    options.makeCameras = [](hollowkit::MainExecutor& main) -> std::unique_ptr<lumenhollow::CameraFactory> {
        return std::make_unique<lumenhollow::LinuxCameraFactory>(main);
    };
    return lumenhollow::runApplication(argc, argv, std::move(options));
}
