#include "hollowkit/testing/fake_recording_system.h"

#include <cassert>
#include <utility>

namespace hollowkit {
namespace {

// Makes a T owned by `slot` and returns it as the fake it is.
template <typename T, typename Interface>
T* own(std::unique_ptr<Interface>& slot) {
    auto fake = std::make_unique<T>();
    T* raw = fake.get();
    slot = std::move(fake);
    return raw;
}

}  // namespace

FakeRecordingSystem::FakeRecordingSystem()
    : audioInputs_(own<FakeAudioInputBackend>(system_.audioInputs)),
      displays_(own<FakeDisplayService>(system_.displays)),
      pointer_(own<FakePointerService>(system_.pointer)),
      keys_(own<FakeKeyPressSource>(system_.keys)),
      buttons_(own<FakeButtonPressSource>(system_.buttons)),
      screenCapture_(own<FakeScreenCaptureBackend>(system_.screenCapture)) {
    displays_->setDisplays({DisplayInfo{kMainDisplayId, 0, 0, 1920, 1080, /*primary=*/true, /*builtIn=*/false}});
    audioInputs_->setInputs({kMicrophone});
    audioInputs_->setDefaultInputId(kMicrophone.id);
}

RecordingSystem FakeRecordingSystem::take() {
    assert(system_.displays && "the bundle is handed over once");
    return std::move(system_);
}

}  // namespace hollowkit
