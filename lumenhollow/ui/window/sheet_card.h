#pragma once

// SheetCard: the content of one sheet inside the SheetHost, which draws the
// card's background, places it and gives it the keyboard. A card is two
// parts: its content, which scrolls when the window is too short for the
// whole card, and its button row, which stays in view at the card's bottom
// whatever the window's size. A card answers Return and Escape and hears
// once when the host ends it, whatever the cause. GUI thread only.

#include <QColor>
#include <QFont>
#include <QWidget>

#include <string>

class QHBoxLayout;
class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace lumenhollow {

class SheetCard : public QWidget {
    Q_OBJECT

public:
    // `padding` on every edge of the card, `spacing` between the content's
    // parts and between the content and the button row.
    SheetCard(QWidget* parent, int padding, int spacing);

    // Most cards are this wide; a card may ask for its own width.
    static constexpr int kDefaultWidth = 460;
    virtual int cardWidth() const { return kDefaultWidth; }

    // Return or Enter: what the default button does.
    virtual void acceptAction() = 0;
    // Escape: what the cancel button does, or closing the sheet.
    virtual void cancelAction() = 0;
    // The host ends the card; called once, before it goes.
    virtual void disappeared() {}

    // The card's height at `width` with all of its content in view.
    int naturalHeight(int width) const;
    // Part of the content is scrolled out of view.
    bool scrolls() const;
    // Moves the content as `key` asks (the arrows, Page Up and Down, Home, End).
    void scrollContent(int key);
    QScrollArea& scroller() const { return *scroller_; }

Q_SIGNALS:
    // Content came or went while the card is shown: the host places it anew.
    void naturalHeightChanged();

protected:
    // The parts, top to bottom, that scroll when the card is cut short.
    QVBoxLayout& content() const { return *content_; }
    // The buttons, left to right; also the place of any status beside them.
    QHBoxLayout& buttons() const { return *buttons_; }

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QScrollArea* scroller_;
    QWidget* body_;
    QVBoxLayout* content_;
    QWidget* footer_;
    QHBoxLayout* buttons_;
};

// Text colours on the card: content white, secondary text dimmed.
QColor sheetPrimaryText();
QColor sheetSecondaryText();

// A label in `font` and `color`; `wrap` lets it take as many lines as it needs.
QLabel* sheetLabel(const std::string& text, const QFont& font, const QColor& color, bool wrap, QWidget* parent);

}  // namespace lumenhollow
