#pragma once

// UsbCameraSystem: the Linux services of the USB camera in one place, made
// once by the camera model and lent to every USBCamera it builds: capture
// devices through V4L2 and sysfs, the camera terminal's controls through
// the same video node, sound sources through the sound server, device
// arrival and removal through udev.
//
// Construction touches no device and starts no thread; the sound server
// connection and the udev monitor start on first use. Outlives its cameras.

#include "hollowkit/base/executor.h"
#include "hollowkit/usb/linux/pulse_audio_source.h"
#include "hollowkit/usb/linux/sysfs_usb_bus.h"
#include "hollowkit/usb/linux/udev_device_monitor.h"
#include "hollowkit/usb/linux/v4l2_video_device.h"
#include "hollowkit/usb/usb_camera.h"

namespace hollowkit {

class UsbCameraSystem {
public:
    UsbCameraSystem();
    UsbCameraSystem(const UsbCameraSystem&) = delete;
    UsbCameraSystem& operator=(const UsbCameraSystem&) = delete;

    // The services for one camera; `bluetoothCentral` makes the battery
    // link's central (BluezCentral in the app).
    USBCameraServices services(MainExecutor& main, BleCentralFactory bluetoothCentral);

    VideoDeviceSource& video() { return video_; }

private:
    V4l2VideoDeviceSource video_;
    SysfsUsbBus bus_;
    PulseAudioSourceBackend audio_;
    UdevDeviceMonitor monitor_;
};

}  // namespace hollowkit
