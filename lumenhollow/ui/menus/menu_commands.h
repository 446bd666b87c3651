#pragma once

// What a chosen menu row does: the one place that turns a row of any of the
// window's menus (look, guide, connection, format, the gear's settings and
// the notch settings) into a call on the camera model. A row whose look,
// guide or format is no longer known (the model changed while the menu was
// open), or whose value names no case, does nothing. Main executor only.

#include "lumenhollow/ui/menus/menu_entries.h"

namespace lumenhollow {

class CameraModel;

void runMenuCommand(CameraModel& model, const MenuEntry& entry);

}  // namespace lumenhollow
