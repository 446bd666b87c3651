#include "lumenhollow/ui/kit/symbol_label.h"

#include <QHBoxLayout>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <cmath>

#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow::ui {

SymbolLabel::SymbolLabel(std::string symbol, const QString& text, const QFont& font, const QColor& color,
                         QWidget* parent)
    : QWidget(parent),
      symbol_(std::move(symbol)),
      color_(color),
      symbolSize_(static_cast<int>(std::ceil(QFontMetricsF(font).height()))) {
    auto* row = new QHBoxLayout(this);
    // The symbol is painted in the left margin.
    row->setContentsMargins(symbolSize_ + kGap, 0, 0, 0);
    label_ = new QLabel(text, this);
    label_->setFont(font);
    label_->setWordWrap(true);
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, color);
    label_->setPalette(palette);
    row->addWidget(label_, 1);
}

void SymbolLabel::setSymbol(std::string symbol) {
    if (symbol_ == symbol) return;
    symbol_ = std::move(symbol);
    update();
}

void SymbolLabel::setText(const QString& text) { label_->setText(text); }

QString SymbolLabel::text() const { return label_->text(); }

void SymbolLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int lineHeight = label_->fontMetrics().height();
    const QRectF box(0, (lineHeight - symbolSize_) / 2.0, symbolSize_, symbolSize_);
    Symbols::instance().draw(painter, box, symbol_, symbolSize_, color_);
}

}  // namespace lumenhollow::ui
