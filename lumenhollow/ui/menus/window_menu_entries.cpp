#include "lumenhollow/ui/menus/window_menu_entries.h"

#include <algorithm>

namespace lumenhollow {

namespace {

bool isSelectedLook(const std::optional<hollowkit::ColorLUT>& selected, const std::string& id) {
    return selected && selected->id == id;
}

}  // namespace

MenuEntries lookMenuEntries(const std::vector<hollowkit::ColorLUT>& builtIn,
                            const std::vector<hollowkit::ColorLUT>& imported,
                            const std::optional<hollowkit::ColorLUT>& selected) {
    MenuEntries entries;
    entries.push_back(menuChoiceRow(kNoLookTitle, !selected, MenuCommand::chooseLook, std::string()));
    entries.push_back(menuHeader(kBuiltInLooksHeader));
    std::vector<std::string> listed;
    for (const hollowkit::ColorLUT& look : builtIn) {
        entries.push_back(menuChoiceRow(look.name, isSelectedLook(selected, look.id), MenuCommand::chooseLook, look.id));
        listed.push_back(look.id);
    }

    // The same file imported twice would give two rows one identity.
    std::vector<const hollowkit::ColorLUT*> distinct;
    for (const hollowkit::ColorLUT& look : imported) {
        if (std::ranges::find(listed, look.id) != listed.end()) continue;
        listed.push_back(look.id);
        distinct.push_back(&look);
    }
    if (!distinct.empty()) {
        entries.push_back(menuHeader(kImportedLooksHeader));
        MenuEntry remove = menuSubmenu(kRemoveLookTitle, {});
        for (const hollowkit::ColorLUT* look : distinct) {
            entries.push_back(
                menuChoiceRow(look->name, isSelectedLook(selected, look->id), MenuCommand::chooseLook, look->id));
            MenuEntry row = menuCommandRow(look->name, MenuCommand::removeLook);
            row.key = look->id;
            row.destructive = true;
            remove.children.push_back(std::move(row));
        }
        entries.push_back(std::move(remove));
    }
    entries.push_back(menuSeparator());
    entries.push_back(menuCommandRow(kImportLookTitle, MenuCommand::importLook));
    return entries;
}

MenuEntries guideMenuEntries(const std::set<GuideKind>& guides) {
    MenuEntries entries;
    for (GuideKind kind : kAllGuideKinds) {
        const std::string name(toString(kind));
        entries.push_back(menuToggleRow(name, guides.contains(kind), MenuCommand::toggleGuide, name));
    }
    return entries;
}

MenuEntries connectionMenuEntries(ConnectionMode current) {
    MenuEntries entries;
    for (ConnectionMode mode : kAllConnectionModes) {
        const std::string name(toString(mode));
        entries.push_back(menuChoiceRow(name, mode == current, MenuCommand::chooseConnection, name));
    }
    return entries;
}

MenuEntries formatMenuEntries(const std::vector<hollowkit::VideoFormatOption>& formats,
                              const std::optional<hollowkit::VideoFormatOption>& active) {
    MenuEntries landscape{menuHeader(kLandscapeHeader)};
    MenuEntries vertical{menuHeader(kVerticalHeader)};
    for (const hollowkit::VideoFormatOption& format : formats) {
        MenuEntries& section = format.width >= format.height ? landscape : vertical;
        section.push_back(menuChoiceRow(format.description(), active && *active == format, MenuCommand::chooseFormat,
                                        format.id()));
    }
    if (vertical.size() > 1) landscape.insert(landscape.end(), vertical.begin(), vertical.end());
    return landscape;
}

}  // namespace lumenhollow
