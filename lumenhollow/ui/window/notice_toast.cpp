#include "lumenhollow/ui/window/notice_toast.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QVariantAnimation>

#include <cmath>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/chrome_layout.h"

namespace lumenhollow {

NoticeToast::NoticeToast(QWidget* parent)
    : QWidget(parent), font_(ui::uiFont(kTextPx, QFont::Medium)) {
    setObjectName("noticeToast");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

QSize NoticeToast::sizeHint() const { return {textWidth_ + 2 * kInset, kHeight}; }

void NoticeToast::setNotice(const std::optional<std::string>& text) {
    if (!text) {
        // The text stays while it leaves.
        if (shown_) animateTo(false);
        return;
    }
    text_ = QString::fromStdString(*text);
    textWidth_ = static_cast<int>(std::ceil(QFontMetricsF(font_).horizontalAdvance(text_)));
    updateGeometry();
    update();
    if (!shown_) animateTo(true);
}

void NoticeToast::setRestRect(const RectF& rest) {
    rest_ = rest;
    place();
}

void NoticeToast::animateTo(bool in) {
    shown_ = in;
    if (animation_) animation_->stop();
    // A reversal starts from where the toast is now.
    const double from = progress_;
    const double to = in ? 1.0 : 0.0;
    show();
    animation_ = ui::animate(this, ui::Ease{ui::Ease::Kind::inOut, kTransitionSeconds}, [this, from, to](double p) {
        progress_ = from + (to - from) * p;
        place();
        if (progress_ <= 0) hide();
    });
}

void NoticeToast::place() {
    const ToastPlacement placement = toastPlacement(rest_, progress_);
    setGeometry(QRect(qRound(placement.rect.x), qRound(placement.rect.y), qRound(placement.rect.width),
                      qRound(placement.rect.height)));
    update();
}

void NoticeToast::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(progress_);
    glass_.paint(painter, *this, ui::GlassShape::capsule, rect(), std::nullopt);
    painter.setFont(font_);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, text_);
    glass_.paintEdge(painter, ui::GlassShape::capsule, rect());
}

}  // namespace lumenhollow
