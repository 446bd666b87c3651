#include "hollowkit/usb/uvc_camera_controls.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "hollowkit/base/pocket_log.h"

namespace hollowkit {

namespace {

constexpr uint16_t kZoomLength = 2;
constexpr uint16_t kPanTiltLength = 8;

uint8_t directionByte(int value) {
    if (value > 0) return 0x01;
    if (value < 0) return 0xFF;
    return 0x00;
}

void putI32(uint8_t* out, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    out[0] = static_cast<uint8_t>(u);
    out[1] = static_cast<uint8_t>(u >> 8);
    out[2] = static_cast<uint8_t>(u >> 16);
    out[3] = static_cast<uint8_t>(u >> 24);
}

// The shortest text that reads back as the same double, with ".0" for whole
// numbers, as the log has always shown ranges.
std::string degreesText(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value);
    std::string text = ec == std::errc() ? std::string(buffer, end) : std::string("?");
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) {
        text += ".0";
    }
    return text;
}

}  // namespace

std::array<uint8_t, 4> uvcPanTiltRelativePayload(int pan, int tilt) {
    return {directionByte(pan), pan != 0 ? kUvcRelativeSpeed : uint8_t{0}, directionByte(tilt),
            tilt != 0 ? kUvcRelativeSpeed : uint8_t{0}};
}

std::array<uint8_t, 8> uvcPanTiltAbsolutePayload(PanTiltArcseconds angles) {
    std::array<uint8_t, 8> out{};
    putI32(out.data(), angles.pan);
    putI32(out.data() + 4, angles.tilt);
    return out;
}

std::array<uint8_t, 2> uvcZoomAbsolutePayload(uint16_t zoom) {
    return {static_cast<uint8_t>(zoom), static_cast<uint8_t>(zoom >> 8)};
}

std::optional<PanTiltArcseconds> uvcReadPanTilt(ByteView payload) {
    ByteReader reader(payload);
    const auto pan = reader.i32();
    const auto tilt = reader.i32();
    if (!pan || !tilt) {
        return std::nullopt;
    }
    return PanTiltArcseconds{*pan, *tilt};
}

std::optional<uint16_t> uvcReadZoom(ByteView payload) {
    return ByteReader(payload).u16();
}

std::optional<int32_t> arcsecondsFromDegrees(double degrees) {
    const double arcseconds = std::round(degrees * kArcsecondsPerDegree);
    if (!std::isfinite(arcseconds)) {
        return std::nullopt;
    }
    constexpr double kMin = std::numeric_limits<int32_t>::min();
    constexpr double kMax = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(arcseconds, kMin, kMax));
}

double UVCCameraControls::DegreeRange::clamp(double degrees) const {
    if (degrees < lower) return lower;
    if (degrees > upper) return upper;
    return degrees;
}

int UVCCameraControls::ZoomUnitRange::clamp(int zoom) const {
    return std::clamp(zoom, lower, upper);
}

std::string UVCCameraControls::Ranges::description() const {
    return "Ranges(pan: " + degreesText(pan.lower) + "..." + degreesText(pan.upper) +
           ", tilt: " + degreesText(tilt.lower) + "..." + degreesText(tilt.upper) +
           ", zoom: " + std::to_string(zoom.lower) + "..." + std::to_string(zoom.upper) + ")";
}

std::unique_ptr<UVCCameraControls> UVCCameraControls::open(UsbBus& bus) {
    auto handle = openUSBDevice(bus, vendorID, 0);
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<UVCCameraControls>(std::move(handle));
}

UVCCameraControls::UVCCameraControls(std::unique_ptr<USBDeviceHandle> device) : device_(std::move(device)) {
    ranges_ = readRanges();
    PocketLog::logf("UVC controls open: product 0x%x terminal %u ranges %s",
                    static_cast<unsigned>(device_->productId()),
                    static_cast<unsigned>(device_->cameraTerminalId()),
                    ranges_ ? ranges_->description().c_str() : "nil");
}

UVCCameraControls::~UVCCameraControls() {
    closeUSBDevice(std::move(device_));
}

std::optional<UVCCameraControls::Ranges> UVCCameraControls::readRanges() {
    const auto minimum = readPanTilt(kUvcGetMin);
    if (!minimum) return std::nullopt;
    const auto maximum = readPanTilt(kUvcGetMax);
    if (!maximum) return std::nullopt;
    const auto zoomMinBytes = get(kUvcGetMin, kUvcCtZoomAbsolute, kZoomLength);
    if (!zoomMinBytes) return std::nullopt;
    const auto zoomMaxBytes = get(kUvcGetMax, kUvcCtZoomAbsolute, kZoomLength);
    if (!zoomMaxBytes) return std::nullopt;
    const auto zoomMin = uvcReadZoom(*zoomMinBytes);
    const auto zoomMax = uvcReadZoom(*zoomMaxBytes);

    // A closed range cannot be formed from a maximum below its minimum; such
    // a device is treated as one whose limits could not be read.
    const char* unusable = nullptr;
    if (maximum->pan < minimum->pan) {
        unusable = "pan";
    } else if (maximum->tilt < minimum->tilt) {
        unusable = "tilt";
    } else if (*zoomMax < *zoomMin) {
        unusable = "zoom";
    }
    if (unusable) {
        PocketLog::logf("UVC limits unusable: %s maximum below minimum", unusable);
        return std::nullopt;
    }
    return Ranges{
        .pan = {minimum->pan / kArcsecondsPerDegree, maximum->pan / kArcsecondsPerDegree},
        .tilt = {minimum->tilt / kArcsecondsPerDegree, maximum->tilt / kArcsecondsPerDegree},
        .zoom = {*zoomMin, *zoomMax},
    };
}

bool UVCCameraControls::move(int pan, int tilt) {
    const auto payload = uvcPanTiltRelativePayload(pan, tilt);
    return set(kUvcCtPanTiltRelative, payload);
}

bool UVCCameraControls::setAngles(double pan, double tilt) {
    const auto panArcseconds = arcsecondsFromDegrees(pan);
    const auto tiltArcseconds = arcsecondsFromDegrees(tilt);
    if (!panArcseconds || !tiltArcseconds) {
        PocketLog::log("UVC angles refused: not a finite number");
        return false;
    }
    const auto payload = uvcPanTiltAbsolutePayload({*panArcseconds, *tiltArcseconds});
    return set(kUvcCtPanTiltAbsolute, payload);
}

bool UVCCameraControls::setZoom(int zoom) {
    // Without limits the value is still kept to what the 16-bit control can
    // say, so -1 is not sent as the largest zoom.
    const int clamped = ranges_ ? ranges_->zoom.clamp(zoom) : std::clamp(zoom, 0, 0xFFFF);
    const auto payload = uvcZoomAbsolutePayload(static_cast<uint16_t>(clamped));
    return set(kUvcCtZoomAbsolute, payload);
}

std::optional<GimbalAngles> UVCCameraControls::angles() {
    const auto current = readPanTilt(kUvcGetCur);
    if (!current) {
        return std::nullopt;
    }
    return GimbalAngles{current->pan / kArcsecondsPerDegree, current->tilt / kArcsecondsPerDegree};
}

std::optional<int> UVCCameraControls::zoom() {
    const auto bytes = get(kUvcGetCur, kUvcCtZoomAbsolute, kZoomLength);
    if (!bytes) {
        return std::nullopt;
    }
    return uvcReadZoom(*bytes);
}

std::optional<PanTiltArcseconds> UVCCameraControls::readPanTilt(uint8_t request) {
    const auto bytes = get(request, kUvcCtPanTiltAbsolute, kPanTiltLength);
    if (!bytes) {
        return std::nullopt;
    }
    return uvcReadPanTilt(*bytes);
}

bool UVCCameraControls::set(uint8_t selector, ByteView data) {
    // The transport takes a writable span for both directions; a SET only
    // reads it, but a copy keeps the caller's bytes out of its reach.
    Bytes buffer(data.begin(), data.end());
    int status;
    {
        MutexLock guard(lock_);
        status = usbControlRequest(*device_, kUvcSetCur, selector, buffer);
    }
    if (status != 0) {
        PocketLog::logf("UVC set 0x%02X failed: 0x%08X", static_cast<unsigned>(selector),
                        static_cast<unsigned>(static_cast<uint32_t>(status)));
        return false;
    }
    return true;
}

std::optional<Bytes> UVCCameraControls::get(uint8_t request, uint8_t selector, uint16_t length) {
    Bytes buffer(length, 0);
    int status;
    {
        MutexLock guard(lock_);
        status = usbControlRequest(*device_, request, selector, buffer);
    }
    if (status != 0) {
        return std::nullopt;
    }
    return buffer;
}

}  // namespace hollowkit
