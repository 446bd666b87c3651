#pragma once

// UsbCameraSystem: the Linux services of the USB camera in one place, made
// once by the camera model and lent to every USBCamera it builds: capture
// devices through V4L2 and sysfs, the camera terminal's controls through
// the same video node, sound sources through the sound server, device
// arrival and removal through udev.
//
// Each service can be replaced through Seams (tests hand in the fake V4L2
// device, a fake sysfs tree, fake sound sources and device monitor); the
// ones not replaced are the system's own. Construction touches no device
// and starts no thread; the sound server connection and the udev monitor
// start on first use. Outlives its cameras and every seam outlives it.

#include <memory>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/usb/audio_source_backend.h"
#include "hollowkit/usb/device_monitor.h"
#include "hollowkit/usb/linux/sysfs_usb_bus.h"
#include "hollowkit/usb/linux/v4l2_io.h"
#include "hollowkit/usb/linux/v4l2_video_device.h"
#include "hollowkit/usb/usb_camera.h"

namespace hollowkit {

class UsbCameraSystem {
public:
    // Null or default: the system's own.
    struct Seams {
        V4l2Io* io = nullptr;  // the kernel's video nodes
        UsbSysfsLayout layout;  // /sys and /dev
        const Clock* clock = nullptr;
        AudioSourceBackend* audio = nullptr;     // the sound server
        DeviceMonitor* deviceMonitor = nullptr;  // udev
    };

    UsbCameraSystem();
    explicit UsbCameraSystem(Seams seams);
    ~UsbCameraSystem();
    UsbCameraSystem(const UsbCameraSystem&) = delete;
    UsbCameraSystem& operator=(const UsbCameraSystem&) = delete;

    // The services for one camera; `bluetoothCentral` makes the battery
    // link's central (BluezCentral in the app). Any thread.
    USBCameraServices services(MainExecutor& main, BleCentralFactory bluetoothCentral);

    // Whether the camera is on this system's USB bus now (the listing only). Any thread.
    bool isPocketConnected();

    VideoDeviceSource& video() { return video_; }

private:
    const Clock& clock_;
    V4l2VideoDeviceSource video_;
    SysfsUsbBus bus_;
    std::unique_ptr<AudioSourceBackend> ownAudio_;
    AudioSourceBackend& audio_;
    std::unique_ptr<DeviceMonitor> ownMonitor_;
    DeviceMonitor& monitor_;
};

}  // namespace hollowkit
