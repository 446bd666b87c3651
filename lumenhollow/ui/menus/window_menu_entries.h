#pragma once

// The rows of the main window's in-window menus as plain values: the look
// menu, the guide menu, the connection menu and the format menu. Each list
// is made from the model's published state when its menu opens, so check
// marks, sections and submenus always follow the model. Pure functions, any
// thread.

#include <optional>
#include <set>
#include <vector>

#include "hollowkit/camera/camera_types.h"
#include "hollowkit/imaging/color_lut.h"
#include "lumenhollow/model/model_types.h"
#include "lumenhollow/ui/menus/menu_entries.h"

namespace lumenhollow {

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
