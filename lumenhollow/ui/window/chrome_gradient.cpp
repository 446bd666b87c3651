#include "lumenhollow/ui/window/chrome_gradient.h"

#include <QPainter>

#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow {

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
