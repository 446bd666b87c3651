#include "hollowkit/usb/pocket_device_tests.h"

#include <algorithm>

namespace hollowkit {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
    const auto found = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                                   [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
    return found != text.end() || needle.empty();
}

bool isPocketVideoDevice(const VideoDeviceInfo& device) {
    return device.usbVendorId == kPocketUsbVendorId || containsIgnoringCase(device.name, "pocket");
}

std::optional<VideoDeviceInfo> findPocketDevice(const std::vector<VideoDeviceInfo>& devices) {
    const auto found = std::find_if(devices.begin(), devices.end(), isPocketVideoDevice);
    if (found == devices.end()) return std::nullopt;
    return *found;
}

bool isPocketOnBus(UsbBus& bus) {
    for (const UsbDeviceRecord& device : bus.devices()) {
        for (const std::string& nodeName : bus.videoNodeNames(device)) {
            VideoDeviceInfo info;
            info.name = nodeName.empty() ? device.product : nodeName;
            info.usbVendorId = device.vendorId;
            if (isPocketVideoDevice(info)) return true;
        }
    }
    return false;
}

bool isDJIMic(const AudioSourceInfo& source) {
    return containsIgnoringCase(source.name, "dji") && containsIgnoringCase(source.name, "mic");
}

bool isCameraAudio(const AudioSourceInfo& source) {
    if (isDJIMic(source)) return false;
    return containsIgnoringCase(source.name, "pocket") || source.usbVendorId == kPocketUsbVendorId;
}

std::optional<AudioSourceInfo> automaticMicrophone(
    const std::vector<AudioSourceInfo>& sources,
    const std::function<std::optional<AudioSourceInfo>()>& systemDefault) {
    if (auto mic = std::find_if(sources.begin(), sources.end(), isDJIMic); mic != sources.end()) return *mic;
    if (auto camera = std::find_if(sources.begin(), sources.end(), isCameraAudio); camera != sources.end()) {
        return *camera;
    }
    return systemDefault ? systemDefault() : std::nullopt;
}

}  // namespace hollowkit
