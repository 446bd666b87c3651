#include "lumenhollow/ui/window/notice_toast.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/chrome_layout.h"

namespace lumenhollow {

namespace {

// The pieces a line may end after: each runs up to and including a space or
// a '/'.
QStringList toastPieces(const QString& text) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u' ' || text[i] == u'/') {
            pieces.push_back(text.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < text.size()) pieces.push_back(text.mid(start));
    return pieces;
}

}  // namespace

NoticeToastLayout noticeToastLayout(const QString& text, double maxWidth, double lineHeight,
                                    const std::function<double(const QString&)>& advance) {
    const double kInset = NoticeToast::kInset;
    const double room = std::max(1.0, maxWidth - 2 * kInset);
    const double whole = advance(text);
    if (whole <= room) return {{text}, std::ceil(whole) + 2 * kInset, NoticeToast::kHeight};

    QStringList lines;
    QString line;
    const auto fits = [&](const QString& candidate) { return advance(candidate.trimmed()) <= room; };
    const auto end = [&] {
        if (!line.trimmed().isEmpty()) lines.push_back(line.trimmed());
        line.clear();
    };
    for (const QString& piece : toastPieces(text)) {
        if (fits(line + piece)) {
            line += piece;
            continue;
        }
        end();
        if (fits(piece)) {
            line = piece;
            continue;
        }
        // Too long for any line: broken where the line is full, never
        // between the halves of a surrogate pair.
        for (qsizetype i = 0; i < piece.size(); ++i) {
            const qsizetype count = piece[i].isHighSurrogate() && i + 1 < piece.size() ? 2 : 1;
            const QString character = piece.mid(i, count);
            if (!line.isEmpty() && !fits(line + character)) end();
            line += character;
            i += count - 1;
        }
    }
    end();
    double widest = 0;
    for (const QString& each : lines) widest = std::max(widest, advance(each));
    const double height = lines.size() * lineHeight + (NoticeToast::kHeight - lineHeight);
    return {lines, std::ceil(widest) + 2 * kInset, height};
}

NoticeToast::NoticeToast(QWidget* parent)
    : QWidget(parent), font_(ui::uiFont(kTextPx, QFont::Medium)) {
    lineHeight_ = QFontMetricsF(font_).height();
    setObjectName("noticeToast");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

QSize NoticeToast::sizeHint() const {
    return {static_cast<int>(std::ceil(layout_.width)), static_cast<int>(std::ceil(layout_.height))};
}

void NoticeToast::setMaxWidth(double width) {
    if (width == maxWidth_) return;
    maxWidth_ = width;
    relayout();
}

void NoticeToast::relayout() {
    const QFontMetricsF metrics(font_);
    layout_ = noticeToastLayout(text_, maxWidth_, lineHeight_,
                                [&metrics](const QString& line) { return metrics.horizontalAdvance(line); });
    update();
}

void NoticeToast::setNotice(const std::optional<std::string>& text) {
    if (!text) {
        // The text stays while it leaves.
        if (shown_) animateTo(false);
        return;
    }
    text_ = QString::fromStdString(*text);
    relayout();
    updateGeometry();
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
    // More lines than one sit on a rounded rectangle: a capsule's ends
    // would cut into them.
    const bool oneLine = layout_.lines.size() <= 1;
    const ui::GlassShape shape = oneLine ? ui::GlassShape::capsule : ui::GlassShape::roundedRect;
    const double radius = kHeight / 2.0;
    glass_.paint(painter, *this, shape, rect(), std::nullopt, radius);
    painter.setFont(font_);
    painter.setPen(Qt::white);
    if (oneLine) {
        painter.drawText(rect(), Qt::AlignCenter, text_);
    } else {
        double y = (height() - layout_.lines.size() * lineHeight_) / 2;
        for (const QString& line : layout_.lines) {
            painter.drawText(QRectF(0, y, width(), lineHeight_), Qt::AlignCenter, line);
            y += lineHeight_;
        }
    }
    glass_.paintEdge(painter, shape, rect(), radius);
}

}  // namespace lumenhollow
