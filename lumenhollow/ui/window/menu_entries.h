#pragma once

// The rows of the main window's in-window menus as plain values: the look
// menu, the guide menu, the connection menu and the format menu. Each list
// is made from the model's published state when its menu opens, so check
// marks, sections and submenus always follow the model; MenuFiller turns a
// list into QActions and a chosen row back into a model call. Pure
// functions, any thread.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/imaging/color_lut.h"
#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

enum class MenuEntryKind : uint8_t { none = 0, row, header, divider, submenu };

// What choosing a row asks of the model; `key` says which look, guide,
// route or format.
enum class MenuCommand : uint8_t {
    none = 0,
    chooseLook,   // key: the look's id; empty for "None"
    removeLook,   // key: the imported look's id
    importLook,
    toggleGuide,  // key: the guide's stored name
    chooseConnection,  // key: the route's stored name
    chooseFormat,      // key: the format's id ("1920x1080@30")
};

struct MenuEntry {
    MenuEntryKind kind = MenuEntryKind::none;
    std::string title;
    bool checked = false;      // a check mark before the title
    bool destructive = false;  // the row deletes something
    MenuCommand command = MenuCommand::none;
    std::string key;
    std::vector<MenuEntry> rows;  // a submenu's rows

    bool operator==(const MenuEntry&) const = default;
};

using MenuEntries = std::vector<MenuEntry>;

inline constexpr const char* kNoLookTitle = "None";
inline constexpr const char* kBuiltInLooksHeader = "Looks";
inline constexpr const char* kImportedLooksHeader = "Imported";
inline constexpr const char* kRemoveLookTitle = "Remove Imported LUT";
inline constexpr const char* kImportLookTitle = "Import .cube or PNG LUT\u2026";
inline constexpr const char* kLandscapeHeader = "Landscape";
inline constexpr const char* kVerticalHeader = "Vertical";

// "None", the built-in looks under "Looks", the imported ones under
// "Imported" with a "Remove Imported LUT" submenu (both only while there are
// imported looks), a divider and the import row. Rows are told apart by the
// look's id alone: the check mark compares ids, and an imported look whose id
// is already listed is not listed twice.
MenuEntries lookMenuEntries(const std::vector<hollowkit::ColorLUT>& builtIn,
                            const std::vector<hollowkit::ColorLUT>& imported,
                            const std::optional<hollowkit::ColorLUT>& selected);

// One row per guide in declaration order, checked while it is on.
MenuEntries guideMenuEntries(const std::set<GuideKind>& guides);

// "USB" then "Wireless", the current route checked.
MenuEntries connectionMenuEntries(ConnectionMode current);

// "Landscape" (always, also empty) with the formats at least as wide as
// high, then "Vertical" with the taller ones (only when there are any), each
// in the camera's order, the active format checked by size and rate.
MenuEntries formatMenuEntries(const std::vector<hollowkit::VideoFormatOption>& formats,
                              const std::optional<hollowkit::VideoFormatOption>& active);

}  // namespace lumenhollow
