#pragma once

// The application's style: Fusion, with two menu rules. A row that can be
// on or off (a toggle, or a picker's choice) shows the "checkmark" symbol
// while it is on and nothing while it is off: no box, no radio bullet. Rows
// that delete something are drawn in the destructive red. A menu names
// those rows by their text in its kDestructiveRows property (a QStringList);
// QMenu gives a style no other way to tell one row from another.

#include <QProxyStyle>

namespace lumenhollow::ui {

inline constexpr const char* kDestructiveRows = "lumenhollowDestructiveRows";
// Set true on a checkable QAction whose title already says its state (the
// full-screen row: "Enter Full Screen" / "Exit Full Screen"): its row shows
// no check mark.
inline constexpr const char* kNoCheckMark = "lumenhollowNoCheckMark";

// The red of a row that deletes something, on the dark menus.
QColor destructiveColor();

class MenuStyle final : public QProxyStyle {
public:
    MenuStyle();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};

}  // namespace lumenhollow::ui
