#pragma once

// What the gear menu and its "Notch" submenu show, decided without widgets.
//
// SettingsSnapshot is the copy of the nine model values that decide which
// rows exist and which can be used; a menu that is open is brought up to
// date only when a new snapshot differs from the one it was built from, not
// on every change the model publishes. The check marks come from the model's
// live state at the moment the menu is built. GUI thread only, like the model.

#include <array>
#include <string>
#include <vector>

#include "hollowkit/media/video_codec.h"
#include "lumenhollow/model/model_types.h"
#include "lumenhollow/model/published_state.h"
#include "lumenhollow/ui/kit/model_fields.h"
#include "lumenhollow/ui/menus/menu_entries.h"

namespace lumenhollow {

class CameraModel;

struct SettingsSnapshot {
    hollowkit::VideoCodec codec = hollowkit::VideoCodec::hevc;
    RecordTarget recordTarget = RecordTarget::camera;
    int countdownSeconds = 0;
    bool showInNotch = true;
    NotchContent notchContent = NotchContent::preview;
    NotchTrigger notchTrigger = NotchTrigger::hover;
    CloseBehavior closeBehavior = CloseBehavior::keepInNotch;
    bool isRecording = false;             // a recording has started and not ended
    bool supportsCameraSettings = false;  // of the active camera: the wireless one

    bool operator==(const SettingsSnapshot&) const = default;
};

// The nine values as the model holds them now.
SettingsSnapshot settingsSnapshot(CameraModel& model);
// The fields the snapshot is read from (the recording's start, the active
// camera's traits among them).
inline constexpr auto kSettingsSnapshotFields = joinFields(
    FieldList<8>{Field::codec, Field::recordTarget, Field::countdownSeconds, Field::showInNotch, Field::notchContent,
                 Field::notchTrigger, Field::closeBehavior, Field::recordingStarted},
    kActiveCameraFields);

// The countdown choices, in menu order; 0 reads "Off".
inline constexpr std::array kCountdownChoices{0, 3, 5, 10};

// Titles of the rows, as the user reads them.
inline constexpr const char* kRecordingCodecTitle = "Recording Codec";
// The record-target picker is given no title of its own elsewhere; this
// names what it chooses.
inline constexpr const char* kRecordTargetTitle = "Record To";
inline constexpr const char* kCountdownTitle = "Countdown";
inline constexpr const char* kNotchTitle = "Notch";
inline constexpr const char* kImportLUTTitle = "Import LUT…";
inline constexpr const char* kOpenOutputFolderTitle = "Open Output Folder";
inline constexpr const char* kShowInNotchTitle = "Show in the Notch";
inline constexpr const char* kNotchContentTitle = "Content";
inline constexpr const char* kNotchTriggerTitle = "Open";
inline constexpr const char* kCloseBehaviorTitle = "Closing the Window";

// "Off" for 0, else "<n> seconds".
std::string countdownText(int seconds);

// The gear menu: the codec picker, the record-target picker (only for a
// camera with settings of its own), both disabled while recording; the
// countdown picker; the "Notch" submenu; a separator; the two commands.
// Rows are checked from `live`, the rest decided by `snapshot`.
MenuEntries settingsMenuEntries(const SettingsSnapshot& snapshot, const PublishedState& live);

// The "Notch" submenu's rows: a toggle and three pickers, never disabled,
// checked from `live`.
MenuEntries notchSettingsEntries(const PublishedState& live);

}  // namespace lumenhollow
