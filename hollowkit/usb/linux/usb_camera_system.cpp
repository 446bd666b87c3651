#include "hollowkit/usb/linux/usb_camera_system.h"

#include <utility>

namespace hollowkit {

UsbCameraSystem::UsbCameraSystem() : video_(V4l2Io::system()), bus_(V4l2Io::system()) {}

USBCameraServices UsbCameraSystem::services(MainExecutor& main, BleCentralFactory bluetoothCentral) {
    return USBCameraServices{.main = main,
                             .video = video_,
                             .usb = bus_,
                             .audio = audio_,
                             .deviceMonitor = &monitor_,
                             .bluetoothCentral = std::move(bluetoothCentral)};
}

bool USBCamera::isPocketConnected() {
    // Opening the video nodes to ask them would wake the camera's capture
    // and can wait on a driver that is busy; the listing says enough.
    SysfsUsbBus bus(V4l2Io::system());
    return isPocketConnected(bus);
}

}  // namespace hollowkit
