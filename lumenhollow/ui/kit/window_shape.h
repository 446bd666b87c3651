#pragma once

// The outline a borderless window takes when no compositor blends its
// transparent corners away: the window is cut to the pixels the outline
// covers, so rounded corners stay round on a plain X server. Shared by the
// island and the popovers. Any thread.

#include <QPainterPath>
#include <QRegion>

namespace lumenhollow::ui {

// The pixels whose centres lie inside `outline`, as a window mask.
QRegion windowShapeMask(const QPainterPath& outline);

}  // namespace lumenhollow::ui
