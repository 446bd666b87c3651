#include "lumenhollow/ui/kit/text_button.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

namespace {

constexpr double kPlainFillOpacity = 0.16;
constexpr double kPlainPressedOpacity = 0.26;
constexpr double kDisabledOpacity = 0.45;

double linearChannel(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

double relativeLuminance(const QColor& c) {
    return 0.2126 * linearChannel(c.redF()) + 0.7152 * linearChannel(c.greenF()) + 0.0722 * linearChannel(c.blueF());
}

}  // namespace

TextButtonColors textButtonColors(TextButtonKind kind, bool pressed, bool enabled) {
    TextButtonColors colors{withOpacity(Qt::white, pressed ? kPlainPressedOpacity : kPlainFillOpacity), Qt::white};
    if (kind == TextButtonKind::prominent) colors.fill = pressed ? appAccentColor().darker(115) : appAccentColor();
    if (!enabled) {
        colors.fill.setAlphaF(static_cast<float>(colors.fill.alphaF() * kDisabledOpacity));
        colors.text = withOpacity(Qt::white, kDisabledOpacity);
    }
    return colors;
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor composite(const QColor& over, const QColor& under) {
    const double a = over.alphaF();
    return QColor::fromRgbF(static_cast<float>(over.redF() * a + under.redF() * (1 - a)),
                            static_cast<float>(over.greenF() * a + under.greenF() * (1 - a)),
                            static_cast<float>(over.blueF() * a + under.blueF() * (1 - a)));
}

TextButton::Metrics TextButton::metrics(TextButtonSize size) {
    if (size == TextButtonSize::small) return {22, 10, 6, 11};
    return {28, 14, 7, 13};
}

TextButton::TextButton(TextButtonKind kind, const QString& title, QWidget* parent, TextButtonSize size,
                       std::string symbol)
    : QPushButton(title, parent),
      kind_(kind),
      metrics_(metrics(size)),
      symbol_(std::move(symbol)),
      font_(uiFont(metrics_.fontPx, QFont::Medium)) {
    setFont(font_);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::ArrowCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    FocusRing::of(*this);
}

void TextButton::setMenuChevron(bool shown) {
    menuChevron_ = shown;
    updateGeometry();
    update();
}

int TextButton::widthFor(const QString& title) const {
    const QFontMetricsF type(font_);
    double content = type.horizontalAdvance(title);
    if (!symbol_.empty()) content += metrics_.fontPx + kSymbolSpacing;
    if (menuChevron_) content += kSymbolSpacing + menuChevronWidth();
    return static_cast<int>(std::ceil(content)) + 2 * metrics_.padding;
}

QSize TextButton::sizeHint() const { return {widthFor(text()), metrics_.height}; }

void TextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const TextButtonColors colors = textButtonColors(kind_, isDown(), isEnabled());
    const QRectF face = QRectF(rect()).adjusted(0, (height() - metrics_.height) / 2.0, 0,
                                                -(height() - metrics_.height) / 2.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colors.fill);
    painter.drawRoundedRect(face, metrics_.radius, metrics_.radius);

    const QFontMetricsF type(font_);
    const double titleWidth = type.horizontalAdvance(text());
    const double symbolWidth = symbol_.empty() ? 0 : metrics_.fontPx + kSymbolSpacing;
    double x = face.center().x() - (titleWidth + symbolWidth) / 2;
    const double mid = face.center().y();
    if (menuChevron_) {
        x = face.left() + metrics_.padding;
        drawMenuChevron(painter, face.right() - metrics_.padding - menuChevronWidth(), mid, colors.text);
    }
    if (!symbol_.empty()) {
        Symbols::instance().draw(painter, QRectF(x, mid - metrics_.fontPx / 2, metrics_.fontPx, metrics_.fontPx),
                                 symbol_, metrics_.fontPx + 1, colors.text);
        x += symbolWidth;
    }
    painter.setFont(font_);
    painter.setPen(colors.text);
    painter.drawText(QPointF(x, centredBaseline(type, mid)), text());
    paintFocusRing(painter, *this, GlassShape::roundedRect, face, metrics_.radius);
}

}  // namespace lumenhollow::ui
