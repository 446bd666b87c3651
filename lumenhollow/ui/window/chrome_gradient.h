#pragma once

// ChromeGradient: the darkening behind the window's top bar or bottom area,
// black at a given opacity on one edge fading to clear on the other. It
// only draws: presses, drags and the wheel pass through to the picture.
// GUI thread only.

#include <QLinearGradient>
#include <QWidget>

namespace lumenhollow {

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
