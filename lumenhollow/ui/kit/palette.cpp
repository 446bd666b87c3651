#include "lumenhollow/ui/kit/palette.h"

#include <QApplication>
#include <QToolTip>

#include "lumenhollow/ui/kit/menu_style.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

QColor appAccentColor() { return QColor::fromRgbF(0.949f, 0.275f, 0.184f); }

QColor platformAccentColor() { return QColor(0x0a, 0x84, 0xff); }

QColor warningYellowColor() { return QColor(0xff, 0xcc, 0x00); }

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QPalette darkPalette() {
    const QColor window(0x1c, 0x1c, 0x1e);
    const QColor base(0x2c, 0x2c, 0x2e);
    const QColor white(Qt::white);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, white);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, white);
    palette.setColor(QPalette::Button, base);
    palette.setColor(QPalette::ButtonText, white);
    palette.setColor(QPalette::BrightText, white);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, white);
    palette.setColor(QPalette::Highlight, platformAccentColor());
    palette.setColor(QPalette::HighlightedText, white);
    palette.setColor(QPalette::Link, platformAccentColor());
    palette.setColor(QPalette::PlaceholderText, withOpacity(white, 0.4));
    palette.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4a));
    palette.setColor(QPalette::Midlight, QColor(0x3a, 0x3a, 0x3c));
    palette.setColor(QPalette::Mid, QColor(0x2c, 0x2c, 0x2e));
    palette.setColor(QPalette::Dark, QColor(0x0e, 0x0e, 0x10));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, withOpacity(white, 0.35));
    }
    return palette;
}

void applyLook(QApplication& app) {
    app.setStyle(new MenuStyle);
    app.setPalette(darkPalette());
    // Tooltips keep a palette of their own, taken from the desktop's theme
    // (pale yellow) unless set here.
    QToolTip::setPalette(darkPalette());
    loadTextFonts();
    app.setFont(uiFont(TextStyle::body));
}

}  // namespace lumenhollow::ui
