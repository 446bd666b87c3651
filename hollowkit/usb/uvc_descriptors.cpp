#include "hollowkit/usb/uvc_descriptors.h"

#include <algorithm>

namespace hollowkit {

namespace {

// Interface descriptor fields (USB 2.0, 9.6.5).
constexpr size_t kInterfaceDescriptorLength = 9;
constexpr size_t kInterfaceNumberAt = 2;
constexpr size_t kInterfaceClassAt = 5;
constexpr size_t kInterfaceSubclassAt = 6;

// Video-control header and input terminal fields (UVC 1.5, 3.7.2).
constexpr size_t kHeaderMinLength = 7;
constexpr size_t kHeaderMinTotalLength = 8;
// The walk looks at a descriptor only when this many of its bytes are inside
// the span; it reads no further than byte 5 of one.
constexpr size_t kExaminedLength = 8;

}  // namespace

std::optional<VideoControlInterface> findVideoControlInterface(ByteView descriptors) {
    const size_t size = descriptors.size();
    std::optional<VideoControlInterface> found;
    size_t pos = 0;
    while (pos + 2 <= size) {
        const size_t length = descriptors[pos];
        if (length < 2 || length > size - pos) {
            break;
        }
        const uint8_t type = descriptors[pos + 1];
        if (found) {
            // Descriptors belong to the interface until the next interface
            // (or configuration) begins.
            if (type == kUsbDescriptorInterface || type == kUsbDescriptorConfiguration) {
                break;
            }
            if (type == kUsbDescriptorCsInterface) {
                found->classSpecificOffset = pos;
                break;
            }
        } else if (type == kUsbDescriptorInterface && length >= kInterfaceDescriptorLength &&
                   descriptors[pos + kInterfaceClassAt] == kUsbClassVideo &&
                   descriptors[pos + kInterfaceSubclassAt] == kUvcSubclassVideoControl) {
            found = VideoControlInterface{descriptors[pos + kInterfaceNumberAt], std::nullopt};
        }
        pos += length;
    }
    return found;
}

uint8_t cameraTerminalId(ByteView fromHeader) {
    const ByteView& d = fromHeader;
    if (d.size() < kHeaderMinLength) {
        return kDefaultCameraTerminalId;
    }
    if (d[1] != kUsbDescriptorCsInterface || d[2] != kUvcVcHeader || d[0] < kHeaderMinLength) {
        return kDefaultCameraTerminalId;
    }
    const size_t totalLength = static_cast<size_t>(uint16LE(d, 5));
    if (totalLength < kHeaderMinTotalLength) {
        return kDefaultCameraTerminalId;
    }
    // wTotalLength is the device's claim; the bytes actually read bound it.
    const size_t end = std::min(totalLength, d.size());
    if (end < kExaminedLength) {
        return kDefaultCameraTerminalId;
    }
    size_t pos = 0;
    for (;;) {
        const size_t length = d[pos];
        if (length == 0) {
            return kDefaultCameraTerminalId;
        }
        if (d[pos + 1] == kUsbDescriptorCsInterface && d[pos + 2] == kUvcVcInputTerminal &&
            uint16LE(d, pos + 4) == kUvcTerminalTypeCamera) {
            return d[pos + 3];
        }
        pos += length;
        if (pos + kExaminedLength > end) {
            return kDefaultCameraTerminalId;
        }
    }
}

std::optional<VideoControlAddress> videoControlAddress(ByteView descriptors) {
    const auto vc = findVideoControlInterface(descriptors);
    if (!vc) {
        return std::nullopt;
    }
    VideoControlAddress address{vc->interfaceNumber, kDefaultCameraTerminalId};
    if (vc->classSpecificOffset) {
        address.cameraTerminalId = cameraTerminalId(descriptors.subspan(*vc->classSpecificOffset));
    }
    return address;
}

}  // namespace hollowkit
