#include "lumenhollow/ui/window/settings_menu_items.h"

#include <algorithm>
#include <optional>

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

// A picker: a submenu of one choice row per case, in case order, each
// carrying its index; the row of `current` is checked.
template <typename Enum, size_t N>
MenuEntry settingsPicker(const char* title, const std::array<Enum, N>& cases, Enum current, MenuCommand command,
                         bool enabled) {
    std::vector<MenuEntry> rows;
    for (size_t i = 0; i < N; ++i) {
        rows.push_back(
            menuChoiceRow(std::string(toString(cases[i])), cases[i] == current, command, static_cast<int>(i)));
    }
    return menuSubmenu(title, std::move(rows), enabled);
}

// The case at `index`, or nothing for an index outside the list.
template <typename Enum, size_t N>
std::optional<Enum> settingsCaseAt(const std::array<Enum, N>& cases, int index) {
    if (index < 0 || static_cast<size_t>(index) >= N) return std::nullopt;
    return cases[static_cast<size_t>(index)];
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

std::vector<MenuEntry> settingsMenuEntries(const SettingsSnapshot& snapshot, const PublishedState& live) {
    using hollowkit::kAllVideoCodecs;
    std::vector<MenuEntry> entries;
    // Neither may change under a running recording.
    const bool recordingSettingsEnabled = !snapshot.isRecording;
    entries.push_back(settingsPicker(kRecordingCodecTitle, kAllVideoCodecs, live.codec, MenuCommand::setCodec,
                                     recordingSettingsEnabled));
    if (snapshot.supportsCameraSettings) {
        entries.push_back(settingsPicker(kRecordTargetTitle, kAllRecordTargets, live.recordTarget,
                                         MenuCommand::setRecordTarget, recordingSettingsEnabled));
    }

    // A stored value outside the list leaves every row unchecked.
    std::vector<MenuEntry> countdownRows;
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

std::vector<MenuEntry> notchSettingsEntries(const PublishedState& live) {
    return {
        menuToggleRow(kShowInNotchTitle, live.showInNotch, MenuCommand::setShowInNotch),
        settingsPicker(kNotchContentTitle, kAllNotchContents, live.notchContent, MenuCommand::setNotchContent, true),
        settingsPicker(kNotchTriggerTitle, kAllNotchTriggers, live.notchTrigger, MenuCommand::setNotchTrigger, true),
        settingsPicker(kCloseBehaviorTitle, kAllCloseBehaviors, live.closeBehavior, MenuCommand::setCloseBehavior,
                       true),
    };
}

void runSettingsCommand(CameraModel& model, MenuCommand command, int value) {
    switch (command) {
        case MenuCommand::none: return;
        case MenuCommand::setCodec:
            if (auto codec = settingsCaseAt(hollowkit::kAllVideoCodecs, value)) model.setCodec(*codec);
            return;
        case MenuCommand::setRecordTarget:
            if (auto target = settingsCaseAt(kAllRecordTargets, value)) model.setRecordTarget(*target);
            return;
        case MenuCommand::setCountdownSeconds:
            if (std::find(kCountdownChoices.begin(), kCountdownChoices.end(), value) != kCountdownChoices.end()) {
                model.setCountdownSeconds(value);
            }
            return;
        case MenuCommand::setShowInNotch: model.setShowInNotch(value != 0); return;
        case MenuCommand::setNotchContent:
            if (auto content = settingsCaseAt(kAllNotchContents, value)) model.setNotchContent(*content);
            return;
        case MenuCommand::setNotchTrigger:
            if (auto trigger = settingsCaseAt(kAllNotchTriggers, value)) model.setNotchTrigger(*trigger);
            return;
        case MenuCommand::setCloseBehavior:
            if (auto behavior = settingsCaseAt(kAllCloseBehaviors, value)) model.setCloseBehavior(*behavior);
            return;
        case MenuCommand::importLUT: model.importLUT(); return;
        case MenuCommand::openOutputFolder: model.openOutputFolder(); return;
    }
}

}  // namespace lumenhollow
