#include "lumenhollow/ui/window/menu_commands.h"

#include <algorithm>

#include "hollowkit/imaging/lut_library.h"
#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

const hollowkit::ColorLUT* findLook(const std::vector<hollowkit::ColorLUT>& looks, const std::string& id) {
    const auto found = std::ranges::find(looks, id, &hollowkit::ColorLUT::id);
    return found == looks.end() ? nullptr : &*found;
}

}  // namespace

void runMenuCommand(CameraModel& model, const MenuEntry& entry) {
    const PublishedState& state = model.state();
    switch (entry.command) {
        case MenuCommand::none: return;
        case MenuCommand::chooseLook: {
            if (entry.key.empty()) {
                model.setSelectedLUT(std::nullopt);
                return;
            }
            const hollowkit::ColorLUT* look = findLook(hollowkit::LUTLibrary::builtIn(), entry.key);
            if (!look) look = findLook(state.customLUTs, entry.key);
            // Copied first: assigning the look publishes, and observers may change the lists.
            if (look) model.setSelectedLUT(hollowkit::ColorLUT(*look));
            return;
        }
        case MenuCommand::removeLook:
            if (const hollowkit::ColorLUT* look = findLook(state.customLUTs, entry.key)) {
                model.removeImportedLUT(hollowkit::ColorLUT(*look));
            }
            return;
        case MenuCommand::importLook: model.importLUT(); return;
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
            const auto found = std::ranges::find_if(
                state.formats, [&](const hollowkit::VideoFormatOption& format) { return format.id() == entry.key; });
            if (found != state.formats.end()) model.chooseFormat(hollowkit::VideoFormatOption(*found));
            return;
        }
    }
}

}  // namespace lumenhollow
