#include "lumenhollow/ui/island/island_glyphs.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow::ui {
namespace {

constexpr double kBatterySpacing = 3;
constexpr double kBatteryOutlineWidth = 20;
constexpr double kBatteryOutlineHeight = 10;
constexpr double kBatteryOutlineRadius = 2.5;
constexpr double kBatteryBarInset = 2;
constexpr double kBatteryBarHeight = 6;
constexpr double kBatteryBarRadius = 1.5;
constexpr double kBatteryBarFull = 16;
constexpr double kBatteryBarMin = 2;
constexpr double kBatteryTextPx = 11;
constexpr double kBatteryBoltPx = 7;

const QColor kIslandRed(0xff, 0x45, 0x3a);
const QColor kIslandYellow(0xff, 0xd6, 0x0a);

}  // namespace

BatteryGlyph::BatteryGlyph() : font_(uiFont(kBatteryTextPx, QFont::DemiBold)) { set(0, false); }

void BatteryGlyph::set(int percent, bool charging) {
    percent_ = std::clamp(percent, 0, 100);
    charging_ = charging;
    text_ = layoutTabular(QFontMetricsF(font_), QString::number(percent_) + QLatin1Char('%'));
}

QSizeF BatteryGlyph::size() const {
    const QFontMetricsF metrics(font_);
    return {text_.width + kBatterySpacing + kBatteryOutlineWidth, std::max(metrics.height(), kBatteryOutlineHeight)};
}

double BatteryGlyph::barWidth() const { return std::max(kBatteryBarMin, percent_ * kBatteryBarFull / 100.0); }

QColor BatteryGlyph::barColor() const {
    if (percent_ <= 15) return kIslandRed;
    if (percent_ <= 30) return kIslandYellow;
    return kIslandGreen;
}

QColor BatteryGlyph::textColor() const { return percent_ <= 15 ? kIslandRed : QColor(Qt::white); }

void BatteryGlyph::paint(QPainter& painter, double left, double midY) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font_);
    painter.setPen(textColor());
    drawTabular(painter, QPointF(left, centredBaseline(QFontMetricsF(font_), midY)), text_);
    const QRectF outline(left + text_.width + kBatterySpacing, midY - kBatteryOutlineHeight / 2, kBatteryOutlineWidth,
                         kBatteryOutlineHeight);
    // Stroked inside its edge: the pen runs half a point in from the frame.
    painter.setPen(QPen(QColor(255, 255, 255, 128), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(outline.adjusted(0.5, 0.5, -0.5, -0.5), kBatteryOutlineRadius - 0.5,
                            kBatteryOutlineRadius - 0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(barColor());
    painter.drawRoundedRect(QRectF(outline.left() + kBatteryBarInset, midY - kBatteryBarHeight / 2, barWidth(),
                                   kBatteryBarHeight),
                            kBatteryBarRadius, kBatteryBarRadius);
    if (charging_) {
        Symbols::instance().draw(painter, outline, "bolt.fill", kBatteryBoltPx, textColor());
    }
    painter.restore();
}

double PulsingDot::opacityAt(double seconds) {
    if (!(seconds > 0)) return 1.0;
    const double cycle = std::fmod(seconds, 2 * kHalfPeriodSeconds) / kHalfPeriodSeconds;  // 0...2
    const double leg = cycle <= 1 ? cycle : 2 - cycle;  // 0 → 1 → 0
    const double eased = (1 - std::cos(std::numbers::pi * leg)) / 2;
    return 1.0 - (1.0 - kDimOpacity) * eased;
}

void PulsingDot::paint(QPainter& painter, const QPointF& centre, const QColor& color, double opacity) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(centre, kDiameter / 2, kDiameter / 2);
    painter.restore();
}

}  // namespace lumenhollow::ui
