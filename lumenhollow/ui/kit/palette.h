#pragma once

// Colours of the always-dark interface; nothing follows the desktop theme.

#include <QColor>
#include <QPalette>

class QApplication;

namespace lumenhollow::ui {

// The application's own highlight (the record dot, tints): sRGB 0.949, 0.275, 0.184.
QColor appAccentColor();
// The stand-in for the platform accent (active tool buttons, check marks).
QColor platformAccentColor();
// The warning yellow of level meters and the horizon guide.
QColor warningYellowColor();

// `color` with its alpha set to `opacity` (0...1).
QColor withOpacity(QColor color, double opacity);

struct GlassColors {
    static constexpr double fillOpacity = 0.35;      // tint or black under the content
    static constexpr double materialOpacity = 0.9;   // the blurred picture behind
    static constexpr double borderOpacity = 0.12;    // the inner white line
    static constexpr double borderWidth = 1.0;
    static QColor noPicture() { return QColor(0x1c, 0x1c, 0x1e); }  // in place of the picture
};

// The dark palette of every window.
QPalette darkPalette();

// The whole look on `app`: Fusion style (its menus with red destructive rows), the dark palette (tooltips too), the
// text faces and the body font. The application and its screenshots both set up their look this way, and nothing
// else sets a style, palette or font on the application. Call once, before any window is built.
void applyLook(QApplication& app);

}  // namespace lumenhollow::ui
