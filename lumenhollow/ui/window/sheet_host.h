#pragma once

// SheetHost: the in-window place of sheets and alerts: a dimmed backdrop
// over the whole window, modal to it, with one centred card, never larger
// than the window (a card too tall scrolls its content above its buttons).
// It follows the model's sheet flags and, while a card shows, holds the
// keyboard: Return and Escape go to the card, the arrows and page keys
// scroll it, and no key reaches the picture beneath (only keys with Ctrl,
// Alt or Meta may still trigger a menu's shortcut). A card shown closes the
// window's open popovers (and their menus), which would otherwise keep the
// keyboard over it, as after Ctrl+/ from a popover. The picture gets the
// keyboard back when the card goes. GUI thread only.

#include <QPainterPath>
#include <QWidget>

#include <functional>
#include <optional>

#include "lumenhollow/ui/window/sheets.h"

class QPushButton;

namespace lumenhollow {

class ModelSignals;
class SheetCard;

// Where a card goes in an `area` of the window: centred, `wantedWidth` wide
// and as tall as `naturalHeight` says for the width it gets, each at most
// the area less kCardMargin on both sides.
QRect sheetCardRect(QSize area, int wantedWidth, const std::function<int(int width)>& naturalHeight);

class SheetHost final : public QWidget {
    Q_OBJECT

public:
    // The card keeps this much of the window free on each side.
    static constexpr int kCardMargin = 12;
    static constexpr double kCardRadius = 12;

    SheetHost(ModelSignals& model, QWidget* parent);
    ~SheetHost() override;

    std::optional<SheetKind> shown() const { return shown_; }
    SheetCard* card() const { return card_; }
    // Shows `kind` now, whatever the model asks, until the model's sheet
    // flags next change (states for review and tests of a card's buttons).
    void present(SheetKind kind);
    // Ends the sheet shown at once; true when there was one.
    bool closeAll();
    // The button of the card with `title`; null when there is none.
    QPushButton* button(const QString& title) const;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void follow();
    void endCard();
    void placeCard();
    // True when the sheet takes the key or shortcut `event` from the rest of the window.
    bool takeKey(QEvent* event);

    ModelSignals& model_;
    SheetCard* card_ = nullptr;
    std::optional<SheetKind> shown_;
    QPainterPath cardPath_;
};

}  // namespace lumenhollow
