#pragma once

// PlaceholderSheet: the screen-recording alert as a card with its title,
// its message and its three buttons in a row, the default one at the right
// edge, the help under the message once asked for; any other kind shows its
// title and a Close button. GUI thread only.

#include "lumenhollow/ui/window/sheet_card.h"
#include "lumenhollow/ui/window/sheets.h"

class QLabel;
class QPushButton;

namespace lumenhollow {

class ModelSignals;

class PlaceholderSheet final : public SheetCard {
    Q_OBJECT

public:
    PlaceholderSheet(SheetKind kind, ModelSignals& model, QWidget* parent);

    void acceptAction() override;
    void cancelAction() override;

private:
    QPushButton* addButton(const QString& title, bool isDefault, std::function<void()> action);
    void runAlertAction(AlertButton::Action action);

    ModelSignals& model_;
    QPushButton* default_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* help_ = nullptr;
};

}  // namespace lumenhollow
