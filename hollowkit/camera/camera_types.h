#pragma once

// The small values that cross the camera interface: what a camera reports
// (statistics, battery, card storage, command outcomes), what the application
// asks for (positions, microphones, formats) and the zoom range. Plain
// values, any thread. The two telemetry decoders turn a camera push into a
// BatteryStatus or a CardStorage; they check every length and yield nothing
// for anything else.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/camera/gimbal_commands.h"

namespace hollowkit {

// A closed range of zoom in percent (100 = 1.0x).
struct ZoomRange {
    int minPercent = 100;
    int maxPercent = 100;

    bool operator==(const ZoomRange&) const = default;

    bool contains(int zoomPercent) const { return zoomPercent >= minPercent && zoomPercent <= maxPercent; }
    int clamp(int zoomPercent) const;
};

// Pixel size of the pictures arriving.
struct VideoDimensions {
    int32_t width = 0;
    int32_t height = 0;

    bool operator==(const VideoDimensions&) const = default;
};

// A periodic statistics sample of a running camera.
struct CameraStats {
    bool hasPicture = false;  // pictures are arriving
    double framesPerSecond = 0;
    bool gimbalResponding = false;
    std::optional<GimbalAttitude> attitude;
    std::optional<VideoDimensions> resolution;
    // A lag figure of the transport, in the wireless route's units; the USB
    // route leaves it absent.
    std::optional<int> transportLag;

    bool operator==(const CameraStats&) const = default;
};

struct BatteryStatus {
    // The 0D/02 push.
    static constexpr uint8_t kPushCmdSet = 0x0D;
    static constexpr uint8_t kPushCmdId = 0x02;

    int percent = 0;  // 0...100
    bool isCharging = false;

    bool operator==(const BatteryStatus&) const = default;

    // Nothing unless the key is 0D/02 and the payload decodes.
    static std::optional<BatteryStatus> fromFrame(const DumlFrame& frame);
    // Percent at payload byte 20 (over 100 yields nothing), charging when
    // byte 32 is 1. Nothing for fewer than 33 bytes.
    static std::optional<BatteryStatus> fromPayload(ByteView payload);
};

struct CardStorage {
    // The 02/80 push, which also carries the card-recording state.
    static constexpr uint8_t kPushCmdSet = 0x02;
    static constexpr uint8_t kPushCmdId = 0x80;

    int64_t freeMegabytes = 0;
    int64_t totalMegabytes = 0;

    bool operator==(const CardStorage&) const = default;

    // Nothing unless the key is 02/80 and the payload decodes.
    static std::optional<CardStorage> fromFrame(const DumlFrame& frame);
    // Total at payload offset 5, free at 9, each unsigned 32-bit
    // little-endian. Nothing for fewer than 13 bytes, a total of 0, or more
    // free than total.
    static std::optional<CardStorage> fromPayload(ByteView payload);
};

// The camera's answer to a command.
struct CommandOutcome {
    enum class Kind : uint8_t { rejected, accepted, noReply };

    Kind kind = Kind::noReply;
    uint8_t code = 0;  // the camera's result code; only for `rejected`

    bool operator==(const CommandOutcome&) const = default;

    static CommandOutcome rejected(uint8_t resultCode) { return {Kind::rejected, resultCode}; }
    static CommandOutcome accepted() { return {Kind::accepted, 0}; }
    static CommandOutcome noReply() { return {Kind::noReply, 0}; }
};

// An absolute gimbal position. Stored inside the application's saved scenes
// as a JSON object with the keys "pan", "tilt" and, when present, "zoom".
struct CameraPosition {
    double pan = 0;   // degrees
    double tilt = 0;  // degrees
    std::optional<int> zoom;  // percent, 100 = 1.0x

    bool operator==(const CameraPosition&) const = default;

    // {"pan":..,"tilt":..[,"zoom":..]}. Nothing when an angle is not finite
    // (JSON cannot hold it).
    std::optional<std::string> toJson() const;
    // Needs numeric "pan" and "tilt"; "zoom" missing or null reads as absent,
    // and must otherwise be a whole number in int range. Other keys are
    // ignored. Anything else, including text that is not JSON, yields nothing.
    static std::optional<CameraPosition> fromJson(std::string_view json);
};

// A sound input the camera route can use.
struct MicrophoneOption {
    std::string id;  // unique identifier of the input
    std::string name;
    std::optional<std::string> via;  // what it reaches the computer through

    bool operator==(const MicrophoneOption&) const = default;

    // `name`, plus " via " and `via` when present.
    std::string displayName() const;
};

// A capture format offered by the USB route.
struct VideoFormatOption {
    int width = 0;
    int height = 0;
    int framesPerSecond = 0;

    bool operator==(const VideoFormatOption&) const = default;

    // "1920x1080@30".
    std::string id() const;
    // The display label, named by the shorter side: "4K 30 FPS",
    // "1080p Vertical 60 FPS", "640x480 30 FPS".
    std::string description() const;
};

}  // namespace hollowkit

template <>
struct std::hash<hollowkit::MicrophoneOption> {
    size_t operator()(const hollowkit::MicrophoneOption& option) const noexcept;
};

template <>
struct std::hash<hollowkit::VideoFormatOption> {
    size_t operator()(const hollowkit::VideoFormatOption& option) const noexcept;
};
