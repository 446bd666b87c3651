#include "lumenhollow/ui/window/chrome_gradient.h"

#include <QPainter>

#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/window/chrome_layout.h"

namespace lumenhollow {

std::array<ui::GlassShade, 2> chromeShades(SizeF window) {
    ChromeInputs in;
    in.window = window;
    in.classes = widthClasses(window.width);
    const ChromeGeometry g = chromeLayout(in);
    const auto rect = [](const RectF& r) { return QRectF(r.x, r.y, r.width, r.height); };
    return {ui::GlassShade{rect(g.topGradient), ChromeMetrics::kTopGradientOpacity, 0},
            ui::GlassShade{rect(g.bottomGradient), 0, ChromeMetrics::kBottomGradientOpacity}};
}

ChromeGradient::ChromeGradient(DarkEdge edge, double opacity, QWidget* parent)
    : QWidget(parent), edge_(edge), opacity_(opacity) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

void ChromeGradient::resizeEvent(QResizeEvent*) {
    const QColor dark = ui::withOpacity(QColor(Qt::black), opacity_);
    const QColor clear = ui::withOpacity(QColor(Qt::black), 0);
    gradient_ = QLinearGradient(0, 0, 0, height());
    gradient_.setColorAt(0, edge_ == DarkEdge::top ? dark : clear);
    gradient_.setColorAt(1, edge_ == DarkEdge::top ? clear : dark);
}

void ChromeGradient::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), gradient_);
}

}  // namespace lumenhollow
