#include "lumenhollow/ui/window/countdown_overlay.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/kit/glass_backdrop.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow {

namespace {

// Room for the blur round the digits.
constexpr int kCountdownMargin = 24;
// Two box passes per axis with this radius spread about as far as the
// shadow's radius asks.
constexpr int kCountdownBlurRadius = 6;
// How far a number travels as it rolls in or out, in digit heights.
constexpr double kCountdownRollTravel = 0.5;
// Wide enough for two digits; a countdown is at most ten seconds.
const QString kCountdownWidest = QStringLiteral("00");

QFont countdownFont() { return ui::uiFont(CountdownOverlay::kDigitPx, QFont::Bold); }

}  // namespace

CountdownOverlay::CountdownOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
}

QSize CountdownOverlay::sizeHint() const { return countdownNumberSize(); }

QSize countdownNumberSize() {
    const QFontMetricsF metrics(countdownFont());
    return QSize(static_cast<int>(std::ceil(ui::tabularWidth(metrics, kCountdownWidest))) + 2 * kCountdownMargin,
                 static_cast<int>(std::ceil(metrics.height())) + 2 * kCountdownMargin);
}

QImage countdownNumber(int seconds, qreal devicePixelRatio) {
    const QSize size = countdownNumberSize();
    const QString text = QString::number(seconds);
    const QFont font = countdownFont();
    const QFontMetricsF metrics(font);
    const QPointF baseline((size.width() - ui::tabularWidth(metrics, text)) / 2,
                           ui::centredBaseline(metrics, size.height() / 2.0));

    // Drawn in device pixels, so the digits stay sharp on a scaled screen.
    QImage shadow((QSizeF(size) * devicePixelRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
    shadow.setDevicePixelRatio(devicePixelRatio);
    shadow.fill(Qt::transparent);
    {
        QPainter painter(&shadow);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(font);
        painter.setPen(QColor::fromRgbF(0, 0, 0, static_cast<float>(CountdownOverlay::kShadowOpacity)));
        ui::drawTabular(painter, baseline, text);
    }
    // The blur spreads as far on screen at every scale.
    QImage number = ui::makeGlassBackdrop(shadow, 1, std::max(1, qRound(kCountdownBlurRadius * devicePixelRatio)));
    number.setDevicePixelRatio(devicePixelRatio);
    QPainter painter(&number);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(Qt::white);
    ui::drawTabular(painter, baseline, text);
    return number;
}

void CountdownOverlay::setRemaining(int seconds) {
    if (seconds == remaining_ && !current_.isNull()) return;
    const bool rolls = !current_.isNull();
    remaining_ = seconds;
    leaving_ = rolls ? current_ : QImage();
    current_ = countdownNumber(seconds, devicePixelRatioF());
    if (rolling_) rolling_->stop();
    roll_ = 0;
    rolling_ = rolls ? ui::animate(this, ui::Spring{0.5, 0.85},
                                   [this](double progress) {
                                       roll_ = progress;
                                       update();
                                   })
                     : nullptr;
    if (!rolling_) roll_ = 1;
    if (roll_ >= 1) leaving_ = QImage();
    update();
}

void CountdownOverlay::clear() {
    if (rolling_) rolling_->stop();
    current_ = QImage();
    leaving_ = QImage();
    roll_ = 1;
    update();
}

void CountdownOverlay::paintEvent(QPaintEvent*) {
    if (current_.isNull()) return;
    // Moved to a screen of another scale: drawn again for it, once.
    if (current_.devicePixelRatio() != devicePixelRatioF()) {
        current_ = countdownNumber(remaining_, devicePixelRatioF());
        leaving_ = QImage();
    }
    QPainter painter(this);
    if (roll_ >= 1) {
        painter.drawImage(0, 0, current_);
        return;
    }
    // Counting down: the old number falls away below, the new one drops in from above.
    const double travel = height() * kCountdownRollTravel;
    const double settled = std::clamp(roll_, 0.0, 1.0);
    if (!leaving_.isNull()) {
        painter.setOpacity(1 - settled);
        painter.drawImage(QPointF(0, travel * roll_), leaving_);
    }
    painter.setOpacity(settled);
    painter.drawImage(QPointF(0, -travel * (1 - roll_)), current_);
}

}  // namespace lumenhollow
