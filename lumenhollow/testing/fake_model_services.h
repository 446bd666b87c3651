#pragma once

// The camera model's outside services, every one faked, on one
// ManualExecutor, for tests, the screenshot tool and the benchmarks. What
// each of them adds on top (its preview sinks, its output folder, its face
// detector) it passes to services(). GUI or test thread, like the model.

#include <filesystem>
#include <functional>
#include <memory>

#include "hollowkit/testing/manual_executor.h"
#include "lumenhollow/model/camera_model_services.h"
#include "lumenhollow/testing/fake_app_shell.h"
#include "lumenhollow/testing/fake_camera_factory.h"
#include "lumenhollow/testing/fake_desktop.h"
#include "lumenhollow/testing/fake_disk_space.h"
#include "lumenhollow/testing/fake_secret_store.h"
#include "lumenhollow/testing/fake_secure_random.h"
#include "lumenhollow/testing/memory_settings_store.h"

namespace hollowkit {
class FaceDetectorBackend;
class FakeSegmentationBackend;
}  // namespace hollowkit

namespace lumenhollow {

// Makes the face detector's backend; null: the detector's own (the real one).
using FaceBackendMaker = std::function<std::unique_ptr<hollowkit::FaceDetectorBackend>()>;
// Told of each segmentation backend made, for tests that drive it.
using SegmentationSeen = std::function<void(hollowkit::FakeSegmentationBackend&)>;

// Imaging that runs on `main`: one processor thread, a fake segmentation
// backend, a face detector over `faceBackend` (without one, a fake that finds
// what it is told to), the follower, and the reading of imported looks.
ImagingFactory fakeImaging(hollowkit::MainExecutor& main, FaceBackendMaker faceBackend = {},
                           SegmentationSeen segmentationSeen = {});

struct FakeModelServices {
    hollowkit::ManualExecutor main;
    MemorySettingsStore settings;
    FakeSecretStore secrets;
    FakeSecureRandom random;
    FakeDiskSpace disk;
    FakeCameraFactory cameras{main};
    FakeAppShell shell;
    FakeDesktop desktop;

    CameraModelServices services(std::shared_ptr<VideoSink> displayLayer, std::shared_ptr<VideoSink> notchLayer,
                                 std::filesystem::path outputFolder, ImagingFactory imaging) {
        return CameraModelServices{main,         settings,   secrets,      random, disk, cameras, shell, desktop,
                                   displayLayer, notchLayer, outputFolder, std::move(imaging)};
    }
};

}  // namespace lumenhollow
