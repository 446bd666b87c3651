#include "lumenhollow/ui/kit/usb_only.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

namespace {

constexpr double kTagPx = 10;
constexpr double kTagInsetX = 6;
constexpr double kTagInsetY = 2;
constexpr double kTagGap = 4;
constexpr double kPillSpacing = 6;
constexpr double kPillSymbolPx = 12;
constexpr double kPillTitlePx = 12.5;
constexpr double kPillDim = 0.55;
constexpr double kIconDim = 0.45;
constexpr double kBadgeOpacity = 0.85;
constexpr const char* kConnector = "cable.connector";

QFont tagFont() { return uiFont(kTagPx, QFont::DemiBold); }

// A symbol followed by a text, as one headline.
class SymbolHeadline : public QWidget {
public:
    SymbolHeadline(std::string symbol, QString text, QWidget* parent)
        : QWidget(parent), symbol_(std::move(symbol)), text_(std::move(text)) {
        const QFontMetricsF metrics(uiFont(TextStyle::headline));
        setFixedHeight(static_cast<int>(std::ceil(metrics.height())));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QFont font = uiFont(TextStyle::headline);
        const QFontMetricsF metrics(font);
        const double px = textStyleSpec(TextStyle::headline).px;
        const double mid = height() / 2.0;
        Symbols::instance().draw(painter, QRectF(0, mid - px / 2, px + 2, px), symbol_, px, Qt::white);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QPointF(px + 8, centredBaseline(metrics, mid)), text_);
    }

private:
    std::string symbol_;
    QString text_;
};

}  // namespace

QString usbOnlyPillTooltip(const QString& reason) { return reason; }

QString usbOnlyIconTooltip(const QString& title, const QString& reason) {
    return title + QStringLiteral(" needs USB. ") + reason;
}

UsbIconMarkerMetrics usbIconMarkerMetrics(double size) {
    return {size * 0.4, std::max(size * 0.24, 8.0), size * 0.12};
}

QSizeF usbTagSize() {
    const QFontMetricsF metrics(tagFont());
    const double content = kTagPx + kTagGap + metrics.horizontalAdvance(QStringLiteral("USB"));
    return {content + 2 * kTagInsetX, std::ceil(metrics.height()) + 2 * kTagInsetY};
}

void paintUsbTag(QPainter& painter, const QPointF& topLeft) {
    const QSizeF size = usbTagSize();
    const QRectF box(topLeft, size);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(QColor(Qt::white), 0.14));
    painter.drawRoundedRect(box, size.height() / 2, size.height() / 2);
    const QFont font = tagFont();
    const QFontMetricsF metrics(font);
    const double mid = box.center().y();
    Symbols::instance().draw(painter, QRectF(box.left() + kTagInsetX, mid - kTagPx / 2, kTagPx, kTagPx), kConnector,
                             kTagPx, Qt::white);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(box.left() + kTagInsetX + kTagPx + kTagGap, centredBaseline(metrics, mid)),
                     QStringLiteral("USB"));
    painter.restore();
}

UsbOnlyPopover::UsbOnlyPopover(const QString& title, const QString& reason, std::function<void()> switchToUsb,
                               QWidget* parent)
    : QWidget(parent), switchToUsb_(std::move(switchToUsb)) {
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->setContentsMargins(kInset, kInset, kInset, kInset);
    auto* headline = new SymbolHeadline(kConnector, title + QStringLiteral(" needs USB"), this);
    auto* reasonLabel = new QLabel(reason, this);
    reasonLabel->setObjectName(QStringLiteral("reason"));
    reasonLabel->setWordWrap(true);
    reasonLabel->setTextFormat(Qt::PlainText);
    reasonLabel->setFont(uiFont(TextStyle::callout));
    QPalette secondary = reasonLabel->palette();
    secondary.setColor(QPalette::WindowText, withOpacity(QColor(Qt::white), 0.6));
    reasonLabel->setPalette(secondary);
    auto* button = new TextButton(TextButtonKind::prominent, QStringLiteral("Switch to USB"), this);
    button->setObjectName(QStringLiteral("switchToUsb"));
    button->setDefault(true);
    button->setFocusPolicy(Qt::NoFocus);  // Return belongs to the explanation, handled once below
    connect(button, &QPushButton::clicked, this, [this] { runSwitch(); });
    layout->addWidget(headline);
    layout->addWidget(reasonLabel);
    layout->addWidget(button, 0, Qt::AlignLeft);
    // The width is fixed; the height is whatever the wrapped reason needs.
    setFixedSize(kWidth, layout->hasHeightForWidth() ? layout->heightForWidth(kWidth) : layout->sizeHint().height());
}

void UsbOnlyPopover::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        runSwitch();
        return;
    }
    QWidget::keyPressEvent(event);
}

void UsbOnlyPopover::runSwitch() {
    // Once: the action may replace the marker and this explanation with it.
    auto action = std::move(switchToUsb_);
    switchToUsb_ = nullptr;
    if (action) action();
}

UsbOnlyMarker::UsbOnlyMarker(std::string symbol, QString title, QString reason, std::function<void()> switchToUsb,
                             bool opensBelow, QWidget* parent)
    : QAbstractButton(parent),
      symbol_(std::move(symbol)),
      title_(std::move(title)),
      reason_(std::move(reason)),
      switchToUsb_(std::move(switchToUsb)),
      popover_(new Popover(this, opensBelow ? PopoverEdge::below : PopoverEdge::above, [this](QWidget* host) {
          return new UsbOnlyPopover(title_, reason_,
                                    [this] {
                                        // Closed first: switching may replace the marker.
                                        popover_->dismiss();
                                        if (switchToUsb_) switchToUsb_();
                                    },
                                    host);
      })) {
    setAttribute(Qt::WA_TranslucentBackground);
    connect(this, &QAbstractButton::clicked, this, [this] { togglePopover(); });
    makePressable(*this, PressRole::menuButton, [this] { click(); }, [this] { return isPresented(); });
}

bool UsbOnlyMarker::isPresented() const { return popover_->isPresented(); }

void UsbOnlyMarker::togglePopover() {
    if (isPresented()) {
        popover_->dismiss();
        return;
    }
    popover_->present();
}

UsbOnlyPill::UsbOnlyPill(std::string symbol, QString title, QString reason, std::function<void()> switchToUsb,
                         QWidget* parent)
    : UsbOnlyMarker(std::move(symbol), std::move(title), std::move(reason), std::move(switchToUsb), true, parent) {
    setToolTip(usbOnlyPillTooltip(reason_));
    setAccessibleName(title_);
    setAccessibleDescription(QStringLiteral("Needs USB"));
    setFixedSize(sizeHint());
}

QSize UsbOnlyPill::sizeHint() const {
    const QFontMetricsF metrics(uiFont(kPillTitlePx, QFont::Medium));
    const double content = std::ceil(kPillSymbolPx) + kPillSpacing + metrics.horizontalAdvance(title_) + kPillSpacing +
                           usbTagSize().width();
    return {static_cast<int>(std::ceil(content)) + 2 * PillBackground::kInset, PillBackground::kHeight};
}

bool UsbOnlyPill::hitButton(const QPoint& pos) const {
    return glassPath(GlassShape::capsule, rect()).contains(pos);
}

void UsbOnlyPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintGlass(painter, *this, GlassShape::capsule, rect(), std::nullopt);
    painter.setRenderHint(QPainter::Antialiasing);
    const double mid = height() / 2.0;
    const QColor dim = withOpacity(QColor(Qt::white), kPillDim);
    double x = PillBackground::kInset;
    Symbols::instance().draw(painter, QRectF(x, mid - kPillSymbolPx / 2, kPillSymbolPx, kPillSymbolPx), symbol_,
                             kPillSymbolPx, dim);
    x += std::ceil(kPillSymbolPx) + kPillSpacing;
    const QFont font = uiFont(kPillTitlePx, QFont::Medium);
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(dim);
    painter.drawText(QPointF(x, centredBaseline(metrics, mid)), title_);
    x += metrics.horizontalAdvance(title_) + kPillSpacing;
    paintUsbTag(painter, QPointF(x, mid - usbTagSize().height() / 2));
    paintGlassEdge(painter, GlassShape::capsule, rect());
    paintFocusRing(painter, *this, GlassShape::capsule, rect());
}

UsbOnlyIconButton::UsbOnlyIconButton(std::string symbol, QString title, QString reason, int size,
                                     std::function<void()> switchToUsb, QWidget* parent)
    : UsbOnlyMarker(std::move(symbol), std::move(title), std::move(reason), std::move(switchToUsb), false, parent) {
    setFixedSize(size, size);
    setToolTip(usbOnlyIconTooltip(title_, reason_));
    setAccessibleName(title_);
    setAccessibleDescription(QStringLiteral("Needs USB"));
}

bool UsbOnlyIconButton::hitButton(const QPoint& pos) const { return insideCircle(rect(), pos); }

void UsbOnlyIconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintGlass(painter, *this, GlassShape::circle, rect(), std::nullopt);
    const UsbIconMarkerMetrics m = usbIconMarkerMetrics(width());
    const Symbols& symbols = Symbols::instance();
    symbols.draw(painter, rect(), symbol_, m.glyphPx, withOpacity(QColor(Qt::white), kIconDim));
    const QRectF badge(width() - m.inset - m.badgePx, height() - m.inset - m.badgePx, m.badgePx, m.badgePx);
    symbols.draw(painter, badge, kConnector, m.badgePx, withOpacity(QColor(Qt::white), kBadgeOpacity));
    paintGlassEdge(painter, GlassShape::circle, rect());
    paintFocusRing(painter, *this, GlassShape::circle, rect());
}

}  // namespace lumenhollow::ui
