#pragma once

// UsbJourneyRig: a Pocket on the USB bus for the real application in a
// process of its own. The kernel's side is faked: a V4L2 video node whose
// "sensor" thread fills NV12 pictures at a camera's pace, the sysfs tree
// that lists the camera, and the udev monitor that tells of it leaving. The
// sound stays the desktop's: the application's own PulseAudio backend on
// whatever server PULSE_SERVER names. The fake node's pan, tilt and zoom
// controls are the camera's own record of where it points.
//
// unplug() takes the camera away as pulling the cable does: the node's
// calls fail (ENODEV), its sysfs folder goes and the monitor says so.
//
// Threads: pose() and unplug() from any thread; the rig outlives the
// factory and every camera it builds.

#include <memory>
#include <thread>

#include "hollowkit/simulation/virtual_lens.h"
#include "hollowkit/testing/fake_device_monitor.h"
#include "hollowkit/testing/fake_usb_sysfs.h"
#include "hollowkit/testing/fake_v4l2_device.h"
#include "lumenhollow/model/linux/linux_camera_factory.h"

namespace lumenhollow::journey {

class UsbJourneyRig {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 360;

    UsbJourneyRig();
    ~UsbJourneyRig();
    UsbJourneyRig(const UsbJourneyRig&) = delete;
    UsbJourneyRig& operator=(const UsbJourneyRig&) = delete;

    // The application's camera factory over the fakes; starts the sensor.
    std::unique_ptr<CameraFactory> makeCameras(hollowkit::MainExecutor& main);

    // Where the fake camera points now, from its own controls.
    hollowkit::LensPose pose() const;

    void unplug();

private:
    hollowkit::FakeV4l2Device device_{hollowkit::Clock::system()};
    hollowkit::FakeUsbSysfs sysfs_;
    hollowkit::FakeDeviceMonitor monitor_;
    std::jthread sensor_;  // last: stopped and joined first
};

}  // namespace lumenhollow::journey
