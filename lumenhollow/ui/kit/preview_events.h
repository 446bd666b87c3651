#pragma once

// Qt's key and wheel events in the units of PreviewInput, shared by every
// live preview (the main window's and the island's), so both read a key or
// a wheel turn alike.

#include <QPoint>

#include "lumenhollow/model/preview_input.h"

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;
class QWidget;

namespace lumenhollow {

// A wheel notch is this many eighths of a degree of angle delta.
inline constexpr double kAngleDeltaPerNotch = 120.0;

// Pixel deltas (a touchpad, a high-resolution wheel) are precise points;
// otherwise the angle delta counts in notches. Pixel deltas win when both
// are given, as they are the finer of the two.
PreviewWheelEvent previewWheelEvent(QPoint pixelDelta, QPoint angleDelta);
PreviewWheelEvent previewWheelEvent(const QWheelEvent& event);

// The key as the preview reads it: arrows and Escape by key, the rest by
// the characters the key gives without modifiers (Alt+1 gives "1",
// Shift+C gives "c").
PreviewKeyEvent previewKeyEvent(const QKeyEvent& event);

// The picture's drag as every preview takes it, on `widget`: the left
// button's press starts a drag (ending one whose release went missing), a
// move steers, the release ends it, and the hand cursor follows. False for
// any other button, or a move without a drag: the widget passes those on.
bool routePreviewMouse(PreviewInput& input, QWidget& widget, const QMouseEvent& event);
// Ends a drag in progress, as a release would; nothing without one.
void endPreviewDrag(PreviewInput& input, QWidget& widget);

}  // namespace lumenhollow
