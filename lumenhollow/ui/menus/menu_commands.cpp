#include "lumenhollow/ui/menus/menu_commands.h"

#include <algorithm>
#include <optional>

#include "hollowkit/imaging/lut_library.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/menus/settings_menu_items.h"

namespace lumenhollow {

namespace {

const hollowkit::ColorLUT* findLook(const std::vector<hollowkit::ColorLUT>& looks, const std::string& id) {
    const auto found = std::ranges::find(looks, id, &hollowkit::ColorLUT::id);
    return found == looks.end() ? nullptr : &*found;
}

// The case at `index`, or nothing for an index outside the list.
template <typename Enum, size_t N>
std::optional<Enum> commandCaseAt(const std::array<Enum, N>& cases, int index) {
    if (index < 0 || static_cast<size_t>(index) >= N) return std::nullopt;
    return cases[static_cast<size_t>(index)];
}

void runLookCommand(CameraModel& model, const MenuEntry& entry) {
    const PublishedState& state = model.state();
    if (entry.command == MenuCommand::removeLook) {
        if (const hollowkit::ColorLUT* look = findLook(state.customLUTs, entry.key)) {
            model.removeImportedLUT(hollowkit::ColorLUT(*look));
        }
        return;
    }
    if (entry.key.empty()) {
        model.setSelectedLUT(std::nullopt);
        return;
    }
    const hollowkit::ColorLUT* look = findLook(hollowkit::LUTLibrary::builtIn(), entry.key);
    if (!look) look = findLook(state.customLUTs, entry.key);
    // Copied first: assigning the look publishes, and observers may change the lists.
    if (look) model.setSelectedLUT(hollowkit::ColorLUT(*look));
}

}  // namespace

void runMenuCommand(CameraModel& model, const MenuEntry& entry) {
    const int value = entry.value;
    switch (entry.command) {
        case MenuCommand::none: return;
        case MenuCommand::chooseLook:
        case MenuCommand::removeLook: runLookCommand(model, entry); return;
        case MenuCommand::importLook:
        case MenuCommand::importLUT: model.importLUT(); return;
        case MenuCommand::toggleGuide:
            if (const auto kind = parseGuideKind(entry.key)) model.toggleGuide(*kind);
            return;
        case MenuCommand::chooseConnection:
            if (const auto mode = parseConnectionMode(entry.key)) {
                if (*mode == ConnectionMode::usb) {
                    model.switchToUSB();
                } else {
                    model.selectConnection(*mode);
                }
            }
            return;
        case MenuCommand::chooseFormat: {
            const std::vector<hollowkit::VideoFormatOption>& formats = model.state().formats;
            const auto found = std::ranges::find_if(
                formats, [&](const hollowkit::VideoFormatOption& format) { return format.id() == entry.key; });
            if (found != formats.end()) model.chooseFormat(hollowkit::VideoFormatOption(*found));
            return;
        }
        case MenuCommand::setCodec:
            if (auto codec = commandCaseAt(hollowkit::kAllVideoCodecs, value)) model.setCodec(*codec);
            return;
        case MenuCommand::setRecordTarget:
            if (auto target = commandCaseAt(kAllRecordTargets, value)) model.setRecordTarget(*target);
            return;
        case MenuCommand::setCountdownSeconds:
            if (std::ranges::find(kCountdownChoices, value) != kCountdownChoices.end()) {
                model.setCountdownSeconds(value);
            }
            return;
        case MenuCommand::setShowInNotch: model.setShowInNotch(entry.checked); return;
        case MenuCommand::setNotchContent:
            if (auto content = commandCaseAt(kAllNotchContents, value)) model.setNotchContent(*content);
            return;
        case MenuCommand::setNotchTrigger:
            if (auto trigger = commandCaseAt(kAllNotchTriggers, value)) model.setNotchTrigger(*trigger);
            return;
        case MenuCommand::setCloseBehavior:
            if (auto behavior = commandCaseAt(kAllCloseBehaviors, value)) model.setCloseBehavior(*behavior);
            return;
        case MenuCommand::openOutputFolder: model.openOutputFolder(); return;
        case MenuCommand::chooseAutomaticMicrophone: model.chooseCameraMicrophone(std::nullopt); return;
        case MenuCommand::chooseCameraMicrophone: model.chooseCameraMicrophone(entry.key); return;
        case MenuCommand::chooseWirelessMicrophone: model.setWirelessMicID(entry.key); return;
        case MenuCommand::useUSBForMicrophone: model.switchToUSB(); return;
    }
}

}  // namespace lumenhollow
