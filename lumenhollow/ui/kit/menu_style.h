#pragma once

// The application's style: Fusion, with menu rows that delete something
// drawn in the destructive red. A menu names those rows by their text in
// its kDestructiveRows property (a QStringList); QMenu gives a style no
// other way to tell one row from another.

#include <QProxyStyle>

namespace lumenhollow::ui {

inline constexpr const char* kDestructiveRows = "lumenhollowDestructiveRows";

// The red of a row that deletes something, on the dark menus.
QColor destructiveColor();

class MenuStyle final : public QProxyStyle {
public:
    MenuStyle();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};

}  // namespace lumenhollow::ui
