#pragma once

// ChromeGradient: the darkening behind the window's top bar or bottom area,
// black at a given opacity on one edge fading to clear on the other. It
// only draws: presses, drags and the wheel pass through to the picture.
// GUI thread only.

#include <QLinearGradient>
#include <QWidget>
#include <array>

#include "lumenhollow/ui/kit/glass_backdrop.h"
#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {

// The two darkenings of a window of `window` size, top and bottom, where the
// chrome column places them: the glass lies over them, so they are part of
// what it blurs.
std::array<ui::GlassShade, 2> chromeShades(SizeF window);

class ChromeGradient final : public QWidget {
    Q_OBJECT

public:
    enum class DarkEdge { top, bottom };

    ChromeGradient(DarkEdge edge, double opacity, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    DarkEdge edge_;
    double opacity_;
    QLinearGradient gradient_;  // rebuilt only when the height changes
};

}  // namespace lumenhollow
