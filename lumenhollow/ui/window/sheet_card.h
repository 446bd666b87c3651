#pragma once

// SheetCard: the content of one sheet inside the SheetHost, which draws the
// card's background, places it and gives it the keyboard. A card answers
// Return and Escape and hears once when the host ends it, whatever the
// cause. GUI thread only.

#include <QColor>
#include <QFont>
#include <QWidget>

#include <string>

class QLabel;

namespace lumenhollow {

class SheetCard : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    // Most cards are this wide; a card may ask for its own width.
    static constexpr int kDefaultWidth = 460;
    virtual int cardWidth() const { return kDefaultWidth; }

    // Return or Enter: what the default button does.
    virtual void acceptAction() = 0;
    // Escape: what the cancel button does, or closing the sheet.
    virtual void cancelAction() = 0;
    // The host ends the card; called once, before it goes.
    virtual void disappeared() {}
};

// Text colours on the card: content white, secondary text dimmed.
QColor sheetPrimaryText();
QColor sheetSecondaryText();

// A label in `font` and `color`; `wrap` lets it take as many lines as it needs.
QLabel* sheetLabel(const std::string& text, const QFont& font, const QColor& color, bool wrap, QWidget* parent);

}  // namespace lumenhollow
