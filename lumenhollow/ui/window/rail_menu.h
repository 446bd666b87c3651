#pragma once

// RailMenu: the tool rail's round menu button. It looks like the rail's
// other circles (the symbol at 0.4 of the diameter, the accent tint at 0.55
// while active) and opens its menu beside itself, to the left, since the
// rail stands at the window's right edge. The whole circle takes the click.
// GUI thread.

#include <QMenu>

#include <string>

#include "lumenhollow/ui/kit/glass.h"

namespace lumenhollow {

class RailMenu final : public ui::IconButton {
    Q_OBJECT
public:
    // Always this size, whatever the rail's other buttons are.
    static constexpr int kSize = 34;

    // Opens `menu`, which another owner keeps.
    RailMenu(std::string symbol, const QString& help, QMenu& menu, QWidget* parent);
    QMenu* menu() const { return menu_; }

private:
    void openMenu();

    QMenu* menu_;
};

}  // namespace lumenhollow
