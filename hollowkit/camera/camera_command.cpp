#include "hollowkit/camera/camera_command.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <type_traits>

namespace hollowkit {
namespace {

constexpr int kCommandType = 2;
constexpr int kCameraType = 1;
constexpr int kGimbalType = 4;
constexpr uint8_t kCameraSet = 0x02;

constexpr int kMinZoomPercent = 100;
constexpr int kMaxZoomPercent = 1200;
constexpr int kMaxThirdStops = 9;
constexpr uint8_t kCompensationZero = 0x10;
constexpr int kMinKelvin = 2000;
constexpr int kMaxKelvin = 10000;
constexpr uint8_t kWhiteBalanceManual = 0x06;

[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...) {
    char text[64];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

CameraCommand command(uint8_t cmdSet, uint8_t cmdId, int receiverType, Bytes payload,
                      bool reportsSuccess, std::string label) {
    CameraCommand c;
    c.cmdSet = cmdSet;
    c.cmdId = cmdId;
    c.payload = std::move(payload);
    c.receiverType = receiverType;
    c.receiverId = 0;
    c.cmdType = kCommandType;
    c.reportsSuccess = reportsSuccess;
    c.label = std::move(label);
    return c;
}

CameraCommand cameraSetting(uint8_t cmdId, Bytes payload, std::string label) {
    return command(kCameraSet, cmdId, kCameraType, std::move(payload), true, std::move(label));
}

std::string concat(std::string_view a, std::string_view b) {
    std::string s;
    s.reserve(a.size() + b.size());
    s.append(a).append(b);
    return s;
}

}  // namespace

const CameraCommand& CameraCommand::flipGimbal() {
    static const CameraCommand flip = command(0x04, 0x4C, kGimbalType, {0xFE, 0x09}, true, "Flip gimbal");
    return flip;
}

CameraCommand CameraCommand::cardRecording(bool start) {
    return command(kCameraSet, 0x02, kCameraType, {static_cast<uint8_t>(start ? 1 : 0)}, true,
                   start ? "Start recording to the microSD card" : "Stop recording to the microSD card");
}

CameraCommand CameraCommand::zoom(int percent) {
    const int clamped = std::clamp(percent, kMinZoomPercent, kMaxZoomPercent);
    const auto value = static_cast<uint16_t>(clamped * zoomScale / 100);
    Bytes payload{0x0A, 0x4E, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
    return command(kCameraSet, 0xB8, kCameraType, std::move(payload), false,
                   format("Zoom %.1fx", percent / 100.0));
}

CameraCommand CameraCommand::setting(const CameraSetting& request) {
    return std::visit(
        [](const auto& s) -> CameraCommand {
            using S = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<S, CameraSetting::VideoFormat>) {
                return cameraSetting(0x18, {rawValue(s.resolution), rawValue(s.frameRate), 0, 0, 0},
                                     concat(concat("Video ", title(s.resolution)),
                                            concat(" ", title(s.frameRate))));
            } else if constexpr (std::is_same_v<S, CameraSetting::Compression>) {
                const bool hevc = s.codec == VideoCodec::hevc;
                return cameraSetting(0xAB, {static_cast<uint8_t>(hevc ? 1 : 0), 0},
                                     hevc ? "Codec HEVC" : "Codec H.264");
            } else if constexpr (std::is_same_v<S, CameraSetting::Color>) {
                return cameraSetting(0x42, {rawValue(s.profile)}, concat("Color ", title(s.profile)));
            } else if constexpr (std::is_same_v<S, CameraSetting::Exposure>) {
                return cameraSetting(0x1E, {rawValue(s.mode), 0}, concat("Exposure ", title(s.mode)));
            } else if constexpr (std::is_same_v<S, CameraSetting::Iso>) {
                return cameraSetting(0x2A, {rawValue(s.iso)}, concat("ISO ", title(s.iso)));
            } else if constexpr (std::is_same_v<S, CameraSetting::ExposureCompensation>) {
                const int c = std::clamp(s.thirdStops, -kMaxThirdStops, kMaxThirdStops);
                return cameraSetting(0x2E, {static_cast<uint8_t>(c + kCompensationZero)},
                                     format("EV %+.1f", c / 3.0));
            } else {
                static_assert(std::is_same_v<S, CameraSetting::WhiteBalance>);
                if (!s.kelvin) {
                    return cameraSetting(0x2C, {0, 0, 0, 0, 0}, "White balance Auto");
                }
                // Whole hundreds towards zero, then into the camera's range.
                const int kelvin = std::clamp(*s.kelvin / 100 * 100, kMinKelvin, kMaxKelvin);
                return cameraSetting(0x2C, {kWhiteBalanceManual, static_cast<uint8_t>(kelvin / 100), 0, 0, 0},
                                     format("White balance %dK", kelvin));
            }
        },
        request.value);
}

}  // namespace hollowkit
