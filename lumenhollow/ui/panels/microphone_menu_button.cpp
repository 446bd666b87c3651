#include "lumenhollow/ui/panels/microphone_menu_button.h"

#include <QFontMetricsF>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow {

namespace {

constexpr double kMicInset = 12;
constexpr double kMicSpacing = 7;
constexpr double kMicSymbolPx = 12;
constexpr double kMicSymbolFrame = 14;
constexpr double kMicNamePx = 12.5;
constexpr double kMicChevronPx = 9;
constexpr double kMicChevronOpacity = 0.7;
constexpr double kMicDisabledOpacity = 0.45;
constexpr double kBadgePx = 8;
constexpr double kBadgeTracking = 0.5;
constexpr double kBadgePadX = 5;
constexpr double kBadgePadY = 2;
constexpr double kBadgeFillOpacity = 0.16;
const QString kBadgeText = QStringLiteral("AUTO");

}  // namespace

MicrophoneMenuButton::MicrophoneMenuButton(QWidget* parent)
    : QWidget(parent),
      menu_(new QMenu(this)),
      nameFont_(ui::uiFont(kMicNamePx, QFont::Medium)),
      badgeFont_(ui::uiFont(kBadgePx, QFont::Bold)) {
    badgeFont_.setLetterSpacing(QFont::AbsoluteSpacing, kBadgeTracking);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedHeight(kHeight);
    const QFontMetricsF badge(badgeFont_);
    badgeWidth_ = std::ceil(badge.horizontalAdvance(kBadgeText) + 2 * kBadgePadX);
    const double badgeHeight = std::ceil(badge.height() + 2 * kBadgePadY);
    badgePath_.addRoundedRect(QRectF(0, -badgeHeight / 2, badgeWidth_, badgeHeight), badgeHeight / 2, badgeHeight / 2);
    setLabel(label_);
    ui::makePressable(*this, ui::PressRole::menuButton, [this] { openMenu(); }, [this] { return menu_->isVisible(); });
}

void MicrophoneMenuButton::setLabel(const MicrophoneLabel& label) {
    label_ = label;
    const QFontMetricsF metrics(nameFont_);
    const QString name = QString::fromStdString(label.name);
    shownName_ = metrics.elidedText(name, Qt::ElideRight, label.nameMaxWidth);
    ui::setTitle(*this, name);
    nameWidth_ = std::min<double>(std::ceil(metrics.horizontalAdvance(shownName_)), label.nameMaxWidth);
    setEnabled(label.enabled);
    setFixedWidth(sizeHint().width());
    updateGeometry();
    update();
}

QSize MicrophoneMenuButton::sizeHint() const {
    double width = kMicInset + kMicSymbolFrame + kMicSpacing + nameWidth_ + kMicSpacing;
    if (label_.autoBadge) width += badgeWidth_ + kMicSpacing;
    width += std::ceil(kMicChevronPx) + kMicInset;
    return {static_cast<int>(std::ceil(width)), kHeight};
}

void MicrophoneMenuButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        event->ignore();
        return;
    }
    openMenu();
}

void MicrophoneMenuButton::openMenu() {
    if (isEnabled()) menu_->popup(mapToGlobal(QPoint(0, height())));
}

void MicrophoneMenuButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(kMicDisabledOpacity);
    const double mid = height() / 2.0;
    const ui::Symbols& symbols = ui::Symbols::instance();
    double x = kMicInset;
    symbols.draw(painter, QRectF(x, mid - kMicSymbolFrame / 2, kMicSymbolFrame, kMicSymbolFrame), label_.symbol,
                 kMicSymbolPx, Qt::white);
    x += kMicSymbolFrame + kMicSpacing;
    painter.setFont(nameFont_);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(x, ui::centredBaseline(QFontMetricsF(nameFont_), mid)), shownName_);
    x += nameWidth_ + kMicSpacing;
    if (label_.autoBadge) {
        painter.save();
        painter.translate(x, mid);
        painter.fillPath(badgePath_, ui::withOpacity(QColor(Qt::white), kBadgeFillOpacity));
        painter.setFont(badgeFont_);
        painter.drawText(QPointF(kBadgePadX, ui::centredBaseline(QFontMetricsF(badgeFont_), 0)), kBadgeText);
        painter.restore();
        x += badgeWidth_ + kMicSpacing;
    }
    const double chevron = std::ceil(kMicChevronPx);
    symbols.draw(painter, QRectF(x, mid - chevron / 2, chevron, chevron), "chevron.down", kMicChevronPx,
                 ui::withOpacity(QColor(Qt::white), kMicChevronOpacity));
    ui::paintFocusRing(painter, *this, ui::GlassShape::capsule, rect());
}

}  // namespace lumenhollow
