// The readers of nmcli's terse output on arbitrary text: the device list
// and the access-point list. What they return is one field of one line, so
// it never holds a line break, and a device name is never empty.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hollowkit/wireless/camera_wifi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using hollowkit::CameraWiFi;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto device = CameraWiFi::parseWifiDevice(text)) {
        if (device->empty() || device->find('\n') != std::string::npos || device->size() > size) std::abort();
    }
    if (const auto ssid = CameraWiFi::parseActiveSsid(text)) {
        if (ssid->find('\n') != std::string::npos || ssid->size() > size) std::abort();
    }
    return 0;
}
