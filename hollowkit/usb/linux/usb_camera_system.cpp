#include "hollowkit/usb/linux/usb_camera_system.h"

#include <utility>

#include "hollowkit/usb/linux/pulse_audio_source.h"
#include "hollowkit/usb/linux/udev_device_monitor.h"

namespace hollowkit {

namespace {

template <typename Interface, typename Backend>
std::unique_ptr<Interface> ownUnless(Interface* given) {
    return given ? nullptr : std::make_unique<Backend>();
}

}  // namespace

UsbCameraSystem::UsbCameraSystem() : UsbCameraSystem(Seams{}) {}

UsbCameraSystem::UsbCameraSystem(Seams seams)
    : clock_(seams.clock ? *seams.clock : Clock::system()),
      video_(seams.io ? *seams.io : V4l2Io::system(), seams.layout, clock_),
      bus_(seams.io ? *seams.io : V4l2Io::system(), seams.layout),
      ownAudio_(ownUnless<AudioSourceBackend, PulseAudioSourceBackend>(seams.audio)),
      audio_(seams.audio ? *seams.audio : *ownAudio_),
      ownMonitor_(ownUnless<DeviceMonitor, UdevDeviceMonitor>(seams.deviceMonitor)),
      monitor_(seams.deviceMonitor ? *seams.deviceMonitor : *ownMonitor_) {}

UsbCameraSystem::~UsbCameraSystem() = default;

USBCameraServices UsbCameraSystem::services(MainExecutor& main, BleCentralFactory bluetoothCentral) {
    return USBCameraServices{.main = main,
                             .video = video_,
                             .usb = bus_,
                             .audio = audio_,
                             .clock = clock_,
                             .deviceMonitor = &monitor_,
                             .bluetoothCentral = std::move(bluetoothCentral)};
}

bool UsbCameraSystem::isPocketConnected() {
    return USBCamera::isPocketConnected(bus_);
}

bool USBCamera::isPocketConnected() {
    // Opening the video nodes to ask them would wake the camera's capture
    // and can wait on a driver that is busy; the listing says enough.
    SysfsUsbBus bus(V4l2Io::system());
    return isPocketConnected(bus);
}

}  // namespace hollowkit
