#pragma once

// CameraEvent: everything a camera reports to its owner, one case at a time.
// A camera never returns failures from its operations; it emits `failed`
// events. Events are delivered on the main executor in emission order. A
// plain value, any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/camera/card_recording_state.h"

namespace hollowkit {

class CameraEvent {
public:
    // In case order; the index of each payload type in Payload below.
    enum class Kind : uint8_t {
        status,          // a progress line for the status display
        stats,           // a periodic statistics sample
        battery,         // battery level changed or was reported
        cardStorage,     // free and total space of the camera's card
        cardRecording,   // state of the camera's own recording to its card
        commandResult,   // the answer to a camera command, under its label
        failed,          // a failure, as a user-facing sentence
        devicesChanged,  // the set of capture devices changed
        cameraOff,       // the camera turned off or went out of reach
        stopped,         // the camera finished stopping
    };

    struct Status {
        std::string text;
    };
    struct CommandResult {
        std::string label;
        CommandOutcome outcome;
    };
    struct Failed {
        std::string message;
        // The failure lies with this computer, not with the camera (no
        // Bluetooth adapter, a tool that cannot run or did not answer): the
        // camera is not reported off for it and tries again by itself.
        bool onComputer = false;
    };
    struct DevicesChanged {};
    struct CameraOff {};
    struct Stopped {};

    using Payload = std::variant<Status, CameraStats, BatteryStatus, CardStorage, CardRecordingState,
                                 CommandResult, Failed, DevicesChanged, CameraOff, Stopped>;

    static CameraEvent status(std::string text) { return CameraEvent(Status{std::move(text)}); }
    static CameraEvent stats(CameraStats value) { return CameraEvent(std::move(value)); }
    static CameraEvent battery(BatteryStatus value) { return CameraEvent(value); }
    static CameraEvent cardStorage(CardStorage value) { return CameraEvent(value); }
    static CameraEvent cardRecording(CardRecordingState value) { return CameraEvent(std::move(value)); }
    static CameraEvent commandResult(std::string label, CommandOutcome outcome) {
        return CameraEvent(CommandResult{std::move(label), outcome});
    }
    static CameraEvent failed(std::string message) { return CameraEvent(Failed{std::move(message)}); }
    static CameraEvent computerFailed(std::string message) { return CameraEvent(Failed{std::move(message), true}); }
    static CameraEvent devicesChanged() { return CameraEvent(DevicesChanged{}); }
    static CameraEvent cameraOff() { return CameraEvent(CameraOff{}); }
    static CameraEvent stopped() { return CameraEvent(Stopped{}); }

    Kind kind() const { return static_cast<Kind>(payload_.index()); }
    const Payload& payload() const { return payload_; }

    // The payload when it is a T, else null: `event.get<BatteryStatus>()`.
    template <typename T>
    const T* get() const {
        return std::get_if<T>(&payload_);
    }

private:
    explicit CameraEvent(Payload payload) : payload_(std::move(payload)) {}

    Payload payload_;
};

// Each Kind is the index of its payload type.
template <CameraEvent::Kind kind, typename T>
inline constexpr bool kCameraEventKindHolds =
    std::is_same_v<std::variant_alternative_t<static_cast<size_t>(kind), CameraEvent::Payload>, T>;
static_assert(std::variant_size_v<CameraEvent::Payload> == static_cast<size_t>(CameraEvent::Kind::stopped) + 1);
static_assert(kCameraEventKindHolds<CameraEvent::Kind::status, CameraEvent::Status> &&
              kCameraEventKindHolds<CameraEvent::Kind::stats, CameraStats> &&
              kCameraEventKindHolds<CameraEvent::Kind::battery, BatteryStatus> &&
              kCameraEventKindHolds<CameraEvent::Kind::cardStorage, CardStorage> &&
              kCameraEventKindHolds<CameraEvent::Kind::cardRecording, CardRecordingState> &&
              kCameraEventKindHolds<CameraEvent::Kind::commandResult, CameraEvent::CommandResult> &&
              kCameraEventKindHolds<CameraEvent::Kind::failed, CameraEvent::Failed> &&
              kCameraEventKindHolds<CameraEvent::Kind::devicesChanged, CameraEvent::DevicesChanged> &&
              kCameraEventKindHolds<CameraEvent::Kind::cameraOff, CameraEvent::CameraOff> &&
              kCameraEventKindHolds<CameraEvent::Kind::stopped, CameraEvent::Stopped>);

}  // namespace hollowkit
