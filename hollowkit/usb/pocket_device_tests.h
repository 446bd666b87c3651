#pragma once

// How the USB camera recognises its devices among the computer's: the
// camera's video device (its name contains "pocket", or it is a USB device
// of the maker's vendor id 2ca3), a DJI Mic receiver plugged into the
// computer (its name contains "dji" and "mic"), and the camera's own sound
// device (not a DJI Mic; "pocket" in its name or the maker's vendor id).
// Names are compared without regard to case. Pure functions; any thread.

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "hollowkit/usb/audio_source_backend.h"
#include "hollowkit/usb/usb_device.h"
#include "hollowkit/usb/video_device.h"

namespace hollowkit {

// The camera maker's USB vendor id (11427).
inline constexpr uint16_t kPocketUsbVendorId = 0x2CA3;

// Whether `text` contains `needle`, ASCII letters compared without case.
bool containsIgnoringCase(std::string_view text, std::string_view needle);

bool isPocketVideoDevice(const VideoDeviceInfo& device);
// The first device of the list that is the camera.
std::optional<VideoDeviceInfo> findPocketDevice(const std::vector<VideoDeviceInfo>& devices);

// Whether the camera's video device is on `bus` now: a USB device with at
// least one video node that passes isPocketVideoDevice, named by its node
// (by its product string when the node gives no name). A device without a
// video node is not a capture device (a camera plugged in for its card or
// for charging). Reads the bus's listing only; opens no device.
bool isPocketOnBus(UsbBus& bus);

bool isDJIMic(const AudioSourceInfo& source);
bool isCameraAudio(const AudioSourceInfo& source);

// The automatic microphone: the first DJI Mic of the list, else the first
// camera sound device, else the system's default (asked only then).
std::optional<AudioSourceInfo> automaticMicrophone(
    const std::vector<AudioSourceInfo>& sources,
    const std::function<std::optional<AudioSourceInfo>()>& systemDefault);

}  // namespace hollowkit
