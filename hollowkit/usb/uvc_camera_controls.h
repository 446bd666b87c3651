#pragma once

// UVCCameraControls: the camera's gimbal and zoom on the USB route, through
// three camera-terminal controls of the USB Video Class: absolute pan-tilt
// (arc-seconds), relative pan-tilt (direction and speed) and absolute zoom
// (the camera's zoom units). It owns one USBDeviceHandle, reads the limits
// once at construction and offers small set and get operations in degrees
// and zoom units.
//
// Thread-safe: every request holds the lock for exactly one transfer, so
// requests from different threads never interleave on the device. The USB
// camera calls it from its control queue. A failed SET is logged and
// reported false, a failed GET gives nothing; nothing is retried here.
//
// The payload builders and readers below are pure and shared with the
// transport tests.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/usb/usb_device.h"

namespace hollowkit {

struct GimbalAngles {
    double pan = 0;   // degrees
    double tilt = 0;  // degrees

    bool operator==(const GimbalAngles&) const = default;
};

struct PanTiltArcseconds {
    int32_t pan = 0;
    int32_t tilt = 0;

    bool operator==(const PanTiltArcseconds&) const = default;
};

// The relative move's speed byte for a moving axis.
inline constexpr uint8_t kUvcRelativeSpeed = 0x23;
inline constexpr double kArcsecondsPerDegree = 3600.0;

// 0x0E, 4 bytes: pan direction (-1, 0, 1 by the sign of `pan`), pan speed
// (0x23 when moving, else 0), tilt direction, tilt speed.
std::array<uint8_t, 4> uvcPanTiltRelativePayload(int pan, int tilt);
// 0x0D, 8 bytes: pan then tilt, each signed 32-bit little-endian.
std::array<uint8_t, 8> uvcPanTiltAbsolutePayload(PanTiltArcseconds angles);
// 0x0B, 2 bytes: unsigned 16-bit little-endian.
std::array<uint8_t, 2> uvcZoomAbsolutePayload(uint16_t zoom);
// Nothing when fewer bytes than the control's length are given.
std::optional<PanTiltArcseconds> uvcReadPanTilt(ByteView payload);
std::optional<uint16_t> uvcReadZoom(ByteView payload);
// Degrees times 3600, rounded to nearest with halves away from zero. Nothing
// for a value that is not finite; values beyond the signed 32-bit range are
// clamped to it (they cannot be encoded otherwise).
std::optional<int32_t> arcsecondsFromDegrees(double degrees);

class UVCCameraControls {
public:
    // The camera maker's USB vendor id.
    static constexpr uint16_t vendorID = 0x2CA3;

    struct DegreeRange {
        double lower = 0;
        double upper = 0;

        bool operator==(const DegreeRange&) const = default;
        double clamp(double degrees) const;
    };

    struct ZoomUnitRange {
        int lower = 0;
        int upper = 0;

        bool operator==(const ZoomUnitRange&) const = default;
        int clamp(int zoom) const;
    };

    struct Ranges {
        DegreeRange pan;
        DegreeRange tilt;
        ZoomUnitRange zoom;  // the camera's zoom units; the route shows them as percent

        bool operator==(const Ranges&) const = default;

        // "Ranges(pan: -170.0...170.0, tilt: -90.0...90.0, zoom: 100...400)"
        std::string description() const;
    };

    // openUSBDevice(bus, vendorID, any product), then the constructor; null
    // when no camera with a usable video-control interface is on the bus.
    static std::unique_ptr<UVCCameraControls> open(UsbBus& bus);

    // Takes the handle, reads the ranges and logs one line:
    // "UVC controls open: product 0x<hex> terminal <id> ranges <ranges|nil>".
    explicit UVCCameraControls(std::unique_ptr<USBDeviceHandle> device);
    ~UVCCameraControls();
    UVCCameraControls(const UVCCameraControls&) = delete;
    UVCCameraControls& operator=(const UVCCameraControls&) = delete;

    // Written once by the constructor; empty when any limit could not be read
    // or a maximum lies below its minimum.
    const std::optional<Ranges>& ranges() const { return ranges_; }

    // Four GETs in order: pan-tilt minimum, pan-tilt maximum, zoom minimum,
    // zoom maximum; the first failure ends the reading with nothing.
    std::optional<Ranges> readRanges();

    // Only the signs count; (0, 0) stops both axes.
    bool move(int pan, int tilt);
    // Degrees; not clamped to `ranges`. A non-finite angle is refused
    // (false, logged) and nothing is sent.
    bool setAngles(double pan, double tilt);
    // Clamped to ranges.zoom when known, else to the 16 bits the control
    // carries.
    bool setZoom(int zoom);
    std::optional<GimbalAngles> angles();
    std::optional<int> zoom();

    // One GET of the absolute pan-tilt control (GET_CUR, GET_MIN or GET_MAX).
    std::optional<PanTiltArcseconds> readPanTilt(uint8_t request);
    // One SET_CUR; logs "UVC set 0x%02X failed: 0x%08X" on failure.
    bool set(uint8_t selector, ByteView data);
    // One GET into `length` zero bytes; failures are not logged.
    std::optional<Bytes> get(uint8_t request, uint8_t selector, uint16_t length);

    const USBDeviceHandle& device() const { return *device_; }

private:
    std::unique_ptr<USBDeviceHandle> device_;
    Mutex lock_;  // held around each single control request
    std::optional<Ranges> ranges_;
};

}  // namespace hollowkit
