#pragma once

// SheetHost: the in-window place of sheets and alerts: a dimmed backdrop
// over the whole window, modal to it, with one centred card. It follows the
// model's sheet flags; the sheets of later work are placeholder cards with
// their title and a button that dismisses them. GUI thread only.

#include <QWidget>

#include <optional>

#include "lumenhollow/ui/window/sheets.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace lumenhollow {

class ModelSignals;

class SheetHost final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kCardWidth = 460;

    SheetHost(ModelSignals& model, QWidget* parent);

    std::optional<SheetKind> shown() const { return shown_; }
    // Shows `kind` now, whatever the model asks, until the model's sheet
    // flags next change (states for review and tests of a card's buttons).
    void present(SheetKind kind);
    // Ends the sheet shown at once; true when there was one.
    bool closeAll();
    // The button of the card with `title`; null when there is none.
    QPushButton* button(const QString& title) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void follow();
    void fill(SheetKind kind);
    void addButton(const QString& title, bool isDefault, std::function<void()> action);

    ModelSignals& model_;
    QWidget* card_;
    QVBoxLayout* cardLayout_;
    std::optional<SheetKind> shown_;
};

}  // namespace lumenhollow
