#pragma once

// The camera model's small value types: its settings enumerations (each
// case has one stored string, which is also the text the menus show), the
// held gimbal directions, the camera-side recording settings being edited,
// and the picture size it publishes. Plain values, any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "hollowkit/camera/camera_setting.h"
#include "hollowkit/media/video_codec.h"

namespace lumenhollow {

// The active camera route; chosen anew at every launch, never stored.
enum class ConnectionMode : uint8_t { usb, wireless };
// Where Record goes; not stored.
enum class RecordTarget : uint8_t { camera, mac };
// What the open notch island shows.
enum class NotchContent : uint8_t { preview, controls };
// How the notch island opens.
enum class NotchTrigger : uint8_t { hover, click };
// What closing the main window does.
enum class CloseBehavior : uint8_t { keepInNotch, quit };
// Framing guides over the preview.
enum class GuideKind : uint8_t { grid, horizon, vertical };
// Arrow directions held on the keyboard or the joystick pad.
enum class GimbalDirection : uint8_t { up, down, left, right };

inline constexpr std::array kAllConnectionModes{ConnectionMode::usb, ConnectionMode::wireless};
inline constexpr std::array kAllRecordTargets{RecordTarget::camera, RecordTarget::mac};
inline constexpr std::array kAllNotchContents{NotchContent::preview, NotchContent::controls};
inline constexpr std::array kAllNotchTriggers{NotchTrigger::hover, NotchTrigger::click};
inline constexpr std::array kAllCloseBehaviors{CloseBehavior::keepInNotch, CloseBehavior::quit};
inline constexpr std::array kAllGuideKinds{GuideKind::grid, GuideKind::horizon, GuideKind::vertical};

// The stored and shown strings ("USB", "Camera microSD", "9:16 Frame", ...).
std::string_view toString(ConnectionMode mode);
std::string_view toString(RecordTarget target);
std::string_view toString(NotchContent content);
std::string_view toString(NotchTrigger trigger);
std::string_view toString(CloseBehavior behavior);
std::string_view toString(GuideKind kind);

// Exact, case-sensitive matches of the strings above; nothing otherwise.
std::optional<ConnectionMode> parseConnectionMode(std::string_view text);
std::optional<RecordTarget> parseRecordTarget(std::string_view text);
std::optional<NotchContent> parseNotchContent(std::string_view text);
std::optional<NotchTrigger> parseNotchTrigger(std::string_view text);
std::optional<CloseBehavior> parseCloseBehavior(std::string_view text);
std::optional<GuideKind> parseGuideKind(std::string_view text);

// A picture size in pixels, as the camera reports it.
struct PictureSize {
    double width = 0;
    double height = 0;

    bool operator==(const PictureSize&) const = default;

    // Square sizes count as portrait.
    bool isLandscape() const { return height < width; }
};

// What a quit under way still waits for before the program ends; all
// nothing once the quit waits only for the camera to stop.
struct QuitProgress {
    int movies = 0;          // recordings whose movie is still being completed
    int takes = 0;           // screen takes whose movies are still being completed
    bool composing = false;  // a take's combined movie is being made
    int photos = 0;          // photos still being saved
    bool askedAgain = false;  // quit was asked for again meanwhile

    bool operator==(const QuitProgress&) const = default;
};

// The camera's own recording settings as edited in the camera settings
// panel; an absent setting leaves the camera's value alone.
struct CameraSettingsState {
    std::optional<hollowkit::CameraResolution> resolution;
    std::optional<hollowkit::CameraFrameRate> frameRate;
    std::optional<hollowkit::VideoCodec> codec;
    std::optional<hollowkit::ColorProfile> colorProfile;
    std::optional<hollowkit::ExposureMode> exposureMode;
    std::optional<hollowkit::CameraISO> iso;
    int evThirdStops = 0;                    // exposure compensation, thirds of a stop
    std::optional<int> whiteBalanceKelvin;   // nothing: automatic

    bool operator==(const CameraSettingsState&) const = default;
};

}  // namespace lumenhollow
