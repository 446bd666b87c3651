#include "lumenhollow/ui/window/sheet_card.h"

#include <QLabel>

namespace lumenhollow {

QColor sheetPrimaryText() {
    return Qt::white;
}

QColor sheetSecondaryText() {
    return QColor(255, 255, 255, 140);
}

QLabel* sheetLabel(const std::string& text, const QFont& font, const QColor& color, bool wrap, QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setWordWrap(wrap);
    return label;
}

}  // namespace lumenhollow
