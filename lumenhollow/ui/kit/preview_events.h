#pragma once

// Qt's key and wheel events in the units of PreviewInput, shared by every
// live preview (the main window's and the island's), so both read a key or
// a wheel turn alike.

#include <QPoint>

#include "lumenhollow/model/preview_input.h"

class QKeyEvent;
class QWheelEvent;

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

}  // namespace lumenhollow
