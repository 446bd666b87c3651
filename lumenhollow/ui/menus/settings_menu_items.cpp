#include "lumenhollow/ui/menus/settings_menu_items.h"


#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

// A picker: a submenu of one choice row per case, in case order, each
// carrying its index; the row of `current` is checked.
template <typename Enum, size_t N>
MenuEntry settingsPicker(const char* title, const std::array<Enum, N>& cases, Enum current, MenuCommand command,
                         bool enabled) {
    MenuEntries rows;
    for (size_t i = 0; i < N; ++i) {
        rows.push_back(
            menuChoiceRow(std::string(toString(cases[i])), cases[i] == current, command, static_cast<int>(i)));
    }
    return menuSubmenu(title, std::move(rows), enabled);
}

}  // namespace

SettingsSnapshot settingsSnapshot(CameraModel& model) {
    const PublishedState& state = model.state();
    return SettingsSnapshot{
        state.codec,
        state.recordTarget,
        state.countdownSeconds,
        state.showInNotch,
        state.notchContent,
        state.notchTrigger,
        state.closeBehavior,
        model.isRecording(),
        model.camera().supportsCameraSettings(),
    };
}

std::string countdownText(int seconds) {
    if (seconds == 0) return "Off";
    return std::to_string(seconds) + " seconds";
}

MenuEntries settingsMenuEntries(const SettingsSnapshot& snapshot, const PublishedState& live) {
    using hollowkit::kAllVideoCodecs;
    MenuEntries entries;
    // Neither may change under a running recording.
    const bool recordingSettingsEnabled = !snapshot.isRecording;
    entries.push_back(settingsPicker(kRecordingCodecTitle, kAllVideoCodecs, live.codec, MenuCommand::setCodec,
                                     recordingSettingsEnabled));
    if (snapshot.supportsCameraSettings) {
        entries.push_back(settingsPicker(kRecordTargetTitle, kAllRecordTargets, live.recordTarget,
                                         MenuCommand::setRecordTarget, recordingSettingsEnabled));
    }

    // A stored value outside the list leaves every row unchecked.
    MenuEntries countdownRows;
    for (int seconds : kCountdownChoices) {
        countdownRows.push_back(menuChoiceRow(countdownText(seconds), seconds == live.countdownSeconds,
                                              MenuCommand::setCountdownSeconds, seconds));
    }
    entries.push_back(menuSubmenu(kCountdownTitle, std::move(countdownRows)));
    entries.push_back(menuSubmenu(kNotchTitle, notchSettingsEntries(live)));
    entries.push_back(menuSeparator());
    entries.push_back(menuCommandRow(kImportLUTTitle, MenuCommand::importLUT));
    entries.push_back(menuCommandRow(kOpenOutputFolderTitle, MenuCommand::openOutputFolder));
    return entries;
}

MenuEntries notchSettingsEntries(const PublishedState& live) {
    return {
        menuToggleRow(kShowInNotchTitle, live.showInNotch, MenuCommand::setShowInNotch),
        settingsPicker(kNotchContentTitle, kAllNotchContents, live.notchContent, MenuCommand::setNotchContent, true),
        settingsPicker(kNotchTriggerTitle, kAllNotchTriggers, live.notchTrigger, MenuCommand::setNotchTrigger, true),
        settingsPicker(kCloseBehaviorTitle, kAllCloseBehaviors, live.closeBehavior, MenuCommand::setCloseBehavior,
                       true),
    };
}

}  // namespace lumenhollow
