#include "hollowkit/camera/camera_types.h"

#include <climits>
#include <cmath>
#include <type_traits>

#include <nlohmann/json.hpp>

namespace hollowkit {

namespace {

constexpr size_t kBatteryPayloadMinimum = 33;
constexpr size_t kBatteryPercentOffset = 20;
constexpr size_t kBatteryChargingOffset = 32;

constexpr size_t kCardPayloadMinimum = 13;
constexpr size_t kCardTotalOffset = 5;
constexpr size_t kCardFreeOffset = 9;

// A JSON number that is a whole number in int range (150 and 150.0 both are).
std::optional<int> wholeInt(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        const auto v = value.get<uint64_t>();
        return v <= static_cast<uint64_t>(INT_MAX) ? std::optional<int>(static_cast<int>(v)) : std::nullopt;
    }
    if (value.is_number_integer()) {
        const auto v = value.get<int64_t>();
        return v >= INT_MIN && v <= INT_MAX ? std::optional<int>(static_cast<int>(v)) : std::nullopt;
    }
    if (value.is_number_float()) {
        const auto v = value.get<double>();
        if (std::isfinite(v) && std::trunc(v) == v && v >= INT_MIN && v <= INT_MAX) {
            return static_cast<int>(v);
        }
    }
    return std::nullopt;
}

}  // namespace

int ZoomRange::clamp(int zoomPercent) const {
    if (zoomPercent < minPercent) {
        return minPercent;
    }
    return zoomPercent > maxPercent ? maxPercent : zoomPercent;
}

// Battery

std::optional<BatteryStatus> BatteryStatus::fromFrame(const DumlFrame& frame) {
    if (frame.cmdSet != kPushCmdSet || frame.cmdId != kPushCmdId) {
        return std::nullopt;
    }
    return fromPayload(frame.payload);
}

std::optional<BatteryStatus> BatteryStatus::fromPayload(ByteView payload) {
    if (payload.size() < kBatteryPayloadMinimum) {
        return std::nullopt;
    }
    const int percent = payload[kBatteryPercentOffset];
    if (percent > 100) {
        return std::nullopt;
    }
    return BatteryStatus{percent, payload[kBatteryChargingOffset] == 1};
}

// Card storage

std::optional<CardStorage> CardStorage::fromFrame(const DumlFrame& frame) {
    if (frame.cmdSet != kPushCmdSet || frame.cmdId != kPushCmdId) {
        return std::nullopt;
    }
    return fromPayload(frame.payload);
}

std::optional<CardStorage> CardStorage::fromPayload(ByteView payload) {
    if (payload.size() < kCardPayloadMinimum) {
        return std::nullopt;
    }
    const int64_t total = uint32LE(payload, kCardTotalOffset);
    const int64_t available = uint32LE(payload, kCardFreeOffset);
    if (total == 0 || available > total) {
        return std::nullopt;
    }
    return CardStorage{available, total};
}

// Position

std::optional<std::string> CameraPosition::toJson() const {
    // A whole-number zoom is always finite; a zoom of another type would
    // need the same check as the angles.
    static_assert(std::is_integral_v<decltype(zoom)::value_type>);
    if (!std::isfinite(pan) || !std::isfinite(tilt)) {
        return std::nullopt;
    }
    nlohmann::json object = {{"pan", pan}, {"tilt", tilt}};
    if (zoom) {
        object["zoom"] = *zoom;
    }
    return object.dump();
}

std::optional<CameraPosition> CameraPosition::fromJson(std::string_view json) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    } catch (const std::exception&) {
        return std::nullopt;  // only allocation failures get here
    }
    if (!document.is_object()) {
        return std::nullopt;  // also the discarded value of a parse error
    }
    const auto panValue = document.find("pan");
    const auto tiltValue = document.find("tilt");
    if (panValue == document.end() || tiltValue == document.end() || !panValue->is_number() ||
        !tiltValue->is_number()) {
        return std::nullopt;
    }
    CameraPosition position;
    position.pan = panValue->get<double>();
    position.tilt = tiltValue->get<double>();
    const auto zoomValue = document.find("zoom");
    if (zoomValue != document.end() && !zoomValue->is_null()) {
        position.zoom = wholeInt(*zoomValue);
        if (!position.zoom) {
            return std::nullopt;
        }
    }
    return position;
}

// Microphone and format options

std::string MicrophoneOption::displayName() const {
    return via ? name + " via " + *via : name;
}

std::string VideoFormatOption::id() const {
    return std::to_string(width) + "x" + std::to_string(height) + "@" + std::to_string(framesPerSecond);
}

std::string VideoFormatOption::description() const {
    const int shorter = width < height ? width : height;
    std::string label;
    if (shorter >= 2160) {
        label = "4K";
    } else if (shorter >= 1600) {
        label = "3K";
    } else if (shorter >= 1080) {
        label = "1080p";
    } else if (shorter >= 720) {
        label = "720p";
    } else {
        label = std::to_string(width) + "x" + std::to_string(height);
    }
    if (width < height) {
        label += " Vertical";
    }
    return label + " " + std::to_string(framesPerSecond) + " FPS";
}

}  // namespace hollowkit

namespace {

size_t combineHash(size_t seed, size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

}  // namespace

size_t std::hash<hollowkit::MicrophoneOption>::operator()(const hollowkit::MicrophoneOption& option) const noexcept {
    size_t seed = std::hash<std::string>{}(option.id);
    seed = combineHash(seed, std::hash<std::string>{}(option.name));
    return combineHash(seed, std::hash<std::optional<std::string>>{}(option.via));
}

size_t std::hash<hollowkit::VideoFormatOption>::operator()(const hollowkit::VideoFormatOption& option) const noexcept {
    size_t seed = std::hash<int>{}(option.width);
    seed = combineHash(seed, std::hash<int>{}(option.height));
    return combineHash(seed, std::hash<int>{}(option.framesPerSecond));
}
