#pragma once

// PublishedState: everything the camera model shows to the views, one field
// per published property, in declaration order, with its initial value.
// `Field` names each one; the model announces every assignment with the id
// of the field assigned (one assignment, one notification, also when the
// value did not change), and the views read the new value from the state.
//
// The list below is the one source of the struct, the ids and the names, so
// they cannot drift apart. Main executor only, like the model.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/camera/camera_types.h"
#include "hollowkit/camera/card_recording_state.h"
#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/media/bubble_style.h"
#include "hollowkit/media/video_codec.h"
#include "hollowkit/recording/audio_input_backend.h"
#include "hollowkit/recording/screen_display.h"
#include "hollowkit/wireless/home_network.h"
#include "lumenhollow/model/camera_scene.h"
#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

namespace hk = hollowkit;

// X(type, name, initial value...). Settings-backed fields start at their
// defaults here and take the stored values at construction.
#define LUMENHOLLOW_PUBLISHED_FIELDS(X)                                                          \
    X(ConnectionMode, connection, ConnectionMode::wireless)                                      \
    X(std::string, statusText, "Starting")                                                       \
    X(std::optional<std::string>, failure, )                                                     \
    X(bool, cameraOff, false)                                                                    \
    X(std::optional<PictureSize>, settledResolution, )                                           \
    X(std::optional<hk::CameraStats>, stats, )                                                   \
    X(std::optional<hk::BatteryStatus>, battery, )                                               \
    X(std::optional<hk::CardStorage>, cardStorage, )                                             \
    X(std::optional<int64_t>, macFreeBytes, )                                                    \
    X(std::vector<hk::MicrophoneOption>, microphones, )                                          \
    X(std::optional<hk::MicrophoneOption>, activeMicrophone, )                                   \
    X(bool, automaticMicrophone, true)                                                           \
    X(std::optional<float>, audioLevel, )                                                        \
    X(std::vector<hk::VideoFormatOption>, formats, )                                             \
    X(std::optional<hk::VideoFormatOption>, activeFormat, )                                      \
    X(std::optional<hk::ZoomRange>, zoomRange, )                                                 \
    X(std::optional<int>, zoom, )                                                                \
    X(std::optional<hk::WallTime>, recordingStarted, )                                           \
    X(std::optional<int>, countdownRemaining, )                                                  \
    X(std::optional<std::string>, notice, )                                                      \
    X(bool, showShortcuts, false)                                                                \
    X(bool, showUSBGuide, false)                                                                 \
    X(bool, showWelcome, true)                                                                   \
    X(bool, showScreenPermissionHelp, false)                                                     \
    X(bool, showScenes, false)                                                                   \
    X(bool, showCameraSettings, false)                                                           \
    X(bool, showHomeNetworkSheet, false)                                                         \
    X(std::optional<hk::HomeNetwork>, homeNetwork, )                                             \
    X(RecordTarget, recordTarget, RecordTarget::camera)                                          \
    X(std::optional<hk::CardRecordingState>, cardRecording, )                                    \
    X(CameraSettingsState, cameraSettings, )                                                     \
    X(bool, faceTracking, false)                                                                 \
    X(std::optional<hk::NormalizedRect>, trackedFace, )                                          \
    X(std::vector<CameraScene>, scenes, )                                                        \
    X(std::vector<hk::ColorLUT>, customLUTs, )                                                   \
    X(std::optional<hk::ColorLUT>, selectedLUT, )                                                \
    X(std::set<GuideKind>, guides, )                                                             \
    X(hk::VideoCodec, codec, hk::VideoCodec::hevc)                                               \
    X(bool, showInNotch, true)                                                                   \
    X(NotchContent, notchContent, NotchContent::preview)                                         \
    X(NotchTrigger, notchTrigger, NotchTrigger::hover)                                           \
    X(CloseBehavior, closeBehavior, CloseBehavior::keepInNotch)                                  \
    X(int, countdownSeconds, 0)                                                                  \
    X(bool, recordScreen, false)                                                                 \
    X(hk::BubbleStyle, bubbleStyle, hk::BubbleCorner::bottomTrailing, hk::BubbleSize::medium,    \
      hk::BubbleShape::circle, hk::BubbleBackground::keep)                                       \
    X(bool, includeMacSound, false)                                                              \
    X(bool, autoZoom, true)                                                                      \
    X(std::optional<std::filesystem::path>, lastScreenTake, )                                    \
    X(std::string, wirelessMicID, )                                                              \
    X(std::vector<hk::AudioInputOption>, macMicrophones, )                                       \
    X(std::optional<uint32_t>, screenDisplayID, )                                                \
    X(std::vector<hk::ScreenDisplay>, displays, )                                                \
    X(bool, showScreenOptions, false)                                                            \
    X(bool, isStartingScreen, false)                                                             \
    X(std::optional<QuitProgress>, quitProgress, )                                               \
    X(std::optional<float>, composeProgress, )

// The id of one published field; 0 is none.
enum class Field : uint8_t {
    none = 0,
#define LUMENHOLLOW_FIELD_ID(Type, name, ...) name,
    LUMENHOLLOW_PUBLISHED_FIELDS(LUMENHOLLOW_FIELD_ID)
#undef LUMENHOLLOW_FIELD_ID
};

inline constexpr size_t kPublishedFieldCount = static_cast<size_t>(Field::composeProgress);
static_assert(kPublishedFieldCount == 56, "every published property has a field id");

struct PublishedState {
#define LUMENHOLLOW_FIELD_MEMBER(Type, name, ...) Type name{__VA_ARGS__};
    LUMENHOLLOW_PUBLISHED_FIELDS(LUMENHOLLOW_FIELD_MEMBER)
#undef LUMENHOLLOW_FIELD_MEMBER
};

// The field's name as declared ("statusText"); "none" for Field::none.
std::string_view fieldName(Field field);

// The type and member of a field, for typed assignment and reading.
template <Field F>
struct FieldTraits;

#define LUMENHOLLOW_FIELD_TRAITS(Type, name, ...)                \
    template <>                                                  \
    struct FieldTraits<Field::name> {                            \
        using ValueType = Type;                                  \
        static constexpr auto member = &PublishedState::name;    \
    };
LUMENHOLLOW_PUBLISHED_FIELDS(LUMENHOLLOW_FIELD_TRAITS)
#undef LUMENHOLLOW_FIELD_TRAITS

template <Field F>
using FieldType = typename FieldTraits<F>::ValueType;

// Calls `visit` with the value of `field` in `state` (nothing for none).
template <typename Visitor>
void visitField(const PublishedState& state, Field field, Visitor&& visit) {
    switch (field) {
        case Field::none: return;
#define LUMENHOLLOW_FIELD_VISIT(Type, name, ...) \
    case Field::name: visit(state.name); return;
        LUMENHOLLOW_PUBLISHED_FIELDS(LUMENHOLLOW_FIELD_VISIT)
#undef LUMENHOLLOW_FIELD_VISIT
    }
}

}  // namespace lumenhollow
