#include "lumenhollow/ui/window/look_menu.h"

#include "hollowkit/imaging/lut_library.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/menus/menu_commands.h"
#include "lumenhollow/ui/menus/menu_filler.h"
#include "lumenhollow/ui/menus/window_menu_entries.h"

namespace lumenhollow {

void bindLookMenu(QMenu& menu, ModelSignals& model) {
    fillMenuOnShow(
        menu,
        [&model] {
            const PublishedState& state = model.state();
            return lookMenuEntries(hollowkit::LUTLibrary::builtIn(), state.customLUTs, state.selectedLUT);
        },
        [&model](const MenuEntry& entry) { runMenuCommand(model.model(), entry); });
}

void bindGuideMenu(QMenu& menu, ModelSignals& model) {
    fillMenuOnShow(
        menu, [&model] { return guideMenuEntries(model.state().guides); },
        [&model](const MenuEntry& entry) { runMenuCommand(model.model(), entry); });
}

}  // namespace lumenhollow
