#include "tests/journeys/usb_journey_rig.h"

#include <linux/videodev2.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lumenhollow::journey {
namespace {

constexpr const char* kUsbDeviceName = "1-2";
constexpr const char* kCameraName = "Osmo Pocket 3";
constexpr double kArcsecondsPerDegree = 3600.0;

}  // namespace

UsbJourneyRig::UsbJourneyRig() {
    hollowkit::FakeUsbSysfs::Device pocket;
    pocket.name = kUsbDeviceName;
    pocket.product = kCameraName;
    sysfs_.addDevice(pocket);
    sysfs_.addVideoNode(pocket.name, 0, 0, kCameraName);
    using F = hollowkit::FakeV4l2Device::Fraction;
    device_.setFormats({{V4L2_PIX_FMT_NV12, "Y/UV 4:2:0", {{kWidth, kHeight, {F{1, 30}}, {}}}}});
}

UsbJourneyRig::~UsbJourneyRig() = default;

std::unique_ptr<CameraFactory> UsbJourneyRig::makeCameras(hollowkit::MainExecutor& main) {
    sensor_ = std::jthread([this](std::stop_token stop) {
        // A camera's pace; a picture with no buffer queued (no stream yet,
        // or the camera gone) is simply not made.
        std::mutex mutex;
        std::condition_variable_any wake;
        while (!stop.stop_requested()) {
            device_.produceFrame();
            std::unique_lock lock(mutex);
            wake.wait_for(lock, stop, std::chrono::milliseconds(33), [] { return false; });
        }
    });
    LinuxCameraFactory::Seams seams;
    seams.usb.io = &device_;
    seams.usb.layout = sysfs_.layout();
    seams.usb.deviceMonitor = &monitor_;
    // The USB route only: the wireless one's network tool is kept off the machine's.
    seams.network.nmcliPath = "/nonexistent/nmcli";
    return std::make_unique<LinuxCameraFactory>(main, std::move(seams));
}

hollowkit::LensPose UsbJourneyRig::pose() const {
    hollowkit::LensPose pose;
    pose.panDegrees = static_cast<double>(device_.controlValue(V4L2_CID_PAN_ABSOLUTE).value_or(0)) / kArcsecondsPerDegree;
    pose.tiltDegrees =
        static_cast<double>(device_.controlValue(V4L2_CID_TILT_ABSOLUTE).value_or(0)) / kArcsecondsPerDegree;
    pose.zoomPercent = static_cast<int>(device_.controlValue(V4L2_CID_ZOOM_ABSOLUTE).value_or(0));
    return pose;
}

void UsbJourneyRig::unplug() {
    // The node fails first, as the kernel's does the moment the cable goes;
    // the bus listing and udev's word follow.
    device_.vanish();
    sysfs_.removeDevice(kUsbDeviceName);
    monitor_.announce({hollowkit::DeviceChange::Kind::video, false, kCameraName});
    monitor_.announce({hollowkit::DeviceChange::Kind::audio, false, kCameraName});
}

}  // namespace lumenhollow::journey
