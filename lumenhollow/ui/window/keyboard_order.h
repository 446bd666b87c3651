#pragma once

// The order in which Tab goes through the main window's controls: as a
// person reads them, in rows from the top, each row from the left. The
// controls float over the picture at places the layout decides, so the
// order follows where they are, not when they were made.

#include <cstddef>
#include <vector>

#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {

// The indices of `boxes` in reading order. A box joins a row when its
// middle lies within the height of the row's first box (the topmost of the
// boxes left); a row runs from the left, equal lefts from the top.
std::vector<size_t> readingOrder(const std::vector<RectF>& boxes);

}  // namespace lumenhollow
