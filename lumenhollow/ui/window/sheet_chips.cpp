#include "lumenhollow/ui/window/sheet_chips.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow {

namespace {

constexpr QColor kChipFill(255, 255, 255, 20);  // white at 0.08

}  // namespace

std::vector<QRectF> flowChips(const std::vector<double>& widths, double available, double height, double spacing) {
    std::vector<QRectF> rects;
    rects.reserve(widths.size());
    double x = 0;
    double y = 0;
    for (double width : widths) {
        const double chip = std::min(width, std::max(0.0, available));
        if (x > 0 && x + chip > available) {
            x = 0;
            y += height + spacing;
        }
        rects.emplace_back(x, y, chip, height);
        x += chip + spacing;
    }
    return rects;
}

double fittedChipInset(const std::vector<double>& textWidths, double available, double spacing, double inset,
                       double minInset) {
    if (textWidths.empty()) return inset;
    double text = spacing * static_cast<double>(textWidths.size() - 1);
    for (double width : textWidths) text += width;
    const double room = std::floor((available - text) / (2.0 * static_cast<double>(textWidths.size())));
    return std::clamp(room, minInset, inset);
}

SheetChips::SheetChips(QStringList texts, QWidget* parent)
    : QWidget(parent), texts_(std::move(texts)), font_(ui::uiFont(11, QFont::Medium)) {
    const QFontMetricsF metrics(font_);
    for (const QString& text : texts_) textWidths_.push_back(std::ceil(metrics.horizontalAdvance(text)));
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

double SheetChips::chipHeight() const {
    return std::ceil(QFontMetricsF(font_).height()) + 2 * kInsetY;
}

std::vector<double> SheetChips::chipWidths(double available) const {
    const double inset = fittedChipInset(textWidths_, available, kSpacing, kInsetX, kMinInsetX);
    std::vector<double> widths;
    widths.reserve(textWidths_.size());
    for (double text : textWidths_) widths.push_back(text + 2 * inset);
    return widths;
}

int SheetChips::heightForWidth(int width) const {
    const std::vector<QRectF> rects = flowChips(chipWidths(width), width, chipHeight(), kSpacing);
    return rects.empty() ? 0 : static_cast<int>(std::ceil(rects.back().bottom()));
}

QSize SheetChips::sizeHint() const {
    double width = 0;
    // One line at the narrowest insets: the chips ask for no more than they need.
    for (double text : textWidths_) width += text + 2 * kMinInsetX + kSpacing;
    const int oneLine = static_cast<int>(std::ceil(std::max(0.0, width - kSpacing)));
    return {oneLine, heightForWidth(oneLine)};
}

QSize SheetChips::minimumSizeHint() const {
    return {0, static_cast<int>(chipHeight())};
}

void SheetChips::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    rects_ = flowChips(chipWidths(width()), width(), chipHeight(), kSpacing);
}

void SheetChips::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font_);
    for (size_t i = 0; i < rects_.size() && i < static_cast<size_t>(texts_.size()); ++i) {
        const QRectF& chip = rects_[i];
        const double radius = chip.height() / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(kChipFill);
        painter.drawRoundedRect(chip, radius, radius);
        painter.setPen(Qt::white);
        painter.drawText(chip, Qt::AlignCenter, texts_[static_cast<qsizetype>(i)]);
    }
}

}  // namespace lumenhollow
