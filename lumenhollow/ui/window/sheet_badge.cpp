#include "lumenhollow/ui/window/sheet_badge.h"

#include <QPainter>

#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow {

SheetBadge::SheetBadge(QString text, QFont font, QColor ink, QColor fill, int diameter, QWidget* parent)
    : QWidget(parent), text_(std::move(text)), font_(std::move(font)), ink_(ink), fill_(fill) {
    setFixedSize(diameter, diameter);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

SheetBadge* SheetBadge::symbol(std::string_view name, double px, QColor ink, QColor fill, int diameter,
                               QWidget* parent) {
    const ui::Symbols& symbols = ui::Symbols::instance();
    const std::optional<QChar> glyph = symbols.glyph(name);
    return new SheetBadge(glyph ? QString(*glyph) : QString(), symbols.font(px), ink, fill, diameter, parent);
}

void SheetBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (fill_.alpha() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill_);
        painter.drawEllipse(QRectF(rect()));
    }
    painter.setFont(font_);
    painter.setPen(ink_);
    painter.drawText(rect(), Qt::AlignCenter, text_);
}

}  // namespace lumenhollow
