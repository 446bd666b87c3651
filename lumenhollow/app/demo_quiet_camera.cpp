#include "lumenhollow/app/demo_quiet_camera.h"

#include <utility>

namespace lumenhollow {

namespace {

// The model's own word while it connects: said by the camera, it also
// replaces what the model said of the camera before ("Disconnected" after
// the old camera's stop).
constexpr const char* kDemoConnectingStatus = "Connecting";

}  // namespace

DemoQuietCamera::DemoQuietCamera(hollowkit::Executor& main, ConnectionMode route, Answer answer)
    : main_(main), route_(route), answer_(answer), gimbal_(main.clock()) {}

void DemoQuietCamera::start() {
    switch (answer_) {
        case Answer::none: return;
        case Answer::connecting: postEvent(main_, hollowkit::CameraEvent::status(kDemoConnectingStatus)); return;
        case Answer::cameraOff: postEvent(main_, hollowkit::CameraEvent::cameraOff()); return;
    }
}

void DemoQuietCamera::stop(std::function<void()> completion) {
    postEvent(main_, hollowkit::CameraEvent::stopped());
    // After the event, as the routes do: the owner sees `stopped` first.
    if (completion) main_.post(std::move(completion));
}

}  // namespace lumenhollow
