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
    V4l2VideoDeviceSource devices(V4l2Io::system());
    return isPocketConnected(devices);
}

}  // namespace hollowkit
