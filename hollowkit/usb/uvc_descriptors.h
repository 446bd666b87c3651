#pragma once

// Readers for a USB device's raw descriptors as the kernel exposes them
// (the device descriptor followed by its configuration descriptors): where
// the USB video-class video-control interface is, and which id its camera
// terminal has. Pure functions over bytes that may come from a broken or
// hostile device: every read stays inside the bytes given, and every walk
// ends (a zero length ends it). Any thread.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "hollowkit/base/bytes.h"

namespace hollowkit {

// The id a camera terminal is assumed to have when the descriptors do not
// name one.
inline constexpr uint8_t kDefaultCameraTerminalId = 1;

// Descriptor types and subtypes used by the walks.
inline constexpr uint8_t kUsbDescriptorConfiguration = 0x02;
inline constexpr uint8_t kUsbDescriptorInterface = 0x04;
inline constexpr uint8_t kUsbDescriptorCsInterface = 0x24;
inline constexpr uint8_t kUsbClassVideo = 0x0E;
inline constexpr uint8_t kUvcSubclassVideoControl = 0x01;
inline constexpr uint8_t kUvcVcHeader = 0x01;
inline constexpr uint8_t kUvcVcInputTerminal = 0x02;
inline constexpr uint16_t kUvcTerminalTypeCamera = 0x0201;

struct VideoControlInterface {
    uint8_t interfaceNumber = 0;
    // Offset of the interface's first class-specific descriptor (the
    // video-control header when the device is sound), when it has one.
    std::optional<size_t> classSpecificOffset;

    bool operator==(const VideoControlInterface&) const = default;
};

// The first interface descriptor of class video, subclass video control (any
// alternate setting), and the first class-specific interface descriptor that
// follows it before the next interface or configuration. Nothing when no such
// interface lies in the bytes; a descriptor shorter than 2 bytes or one that
// runs past the end stops the walk.
std::optional<VideoControlInterface> findVideoControlInterface(ByteView descriptors);

// The camera terminal's bTerminalID, walked from the video-control header at
// the start of `fromHeader`: the header must be subtype VC_HEADER with
// bLength >= 7 and wTotalLength >= 8; the walk covers wTotalLength bytes from
// the header's first byte, but never more than `fromHeader` holds. A zero
// bLength ends the walk; a descriptor is examined only when its first 8 bytes
// lie inside the span. The first input terminal of type camera (0x0201) gives
// the id; anything else gives kDefaultCameraTerminalId.
uint8_t cameraTerminalId(ByteView fromHeader);

// Both steps over a whole descriptor blob: the interface number and the
// camera terminal id, or nothing when there is no video-control interface.
struct VideoControlAddress {
    uint8_t interfaceNumber = 0;
    uint8_t cameraTerminalId = kDefaultCameraTerminalId;

    bool operator==(const VideoControlAddress&) const = default;
};
std::optional<VideoControlAddress> videoControlAddress(ByteView descriptors);

}  // namespace hollowkit
