#include "lumenhollow/ui/window/placeholder_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/text_button.h"

namespace lumenhollow {

namespace {

constexpr int kPlaceholderPadding = 26;
constexpr int kPlaceholderSpacing = 22;

}  // namespace

PlaceholderSheet::PlaceholderSheet(SheetKind kind, ModelSignals& model, QWidget* parent)
    : SheetCard(parent, kPlaceholderPadding, kPlaceholderSpacing), model_(model) {
    auto* title = new QLabel(QString::fromStdString(sheetTitle(kind)), this);
    title->setWordWrap(true);
    content().addWidget(title);
    buttons().addStretch(1);
    if (kind == SheetKind::screenRecordingAlert) {
        const AlertText& alert = screenRecordingAlert();
        auto* message = new QLabel(QString::fromStdString(alert.message), this);
        message->setWordWrap(true);
        content().addWidget(message);
        // The cancel button last in the list, first in the row: the default one ends it.
        for (auto it = alert.buttons.rbegin(); it != alert.buttons.rend(); ++it) {
            const AlertButton& button = *it;
            const bool reopen = button.action == AlertButton::Action::quitAndReopen;
            QPushButton* added = addButton(QString::fromStdString(button.title), reopen, [this, reopen] {
                // Reopening quits through the model, which ends every sheet.
                if (reopen) {
                    model_.model().quitAndReopen();
                } else {
                    model_.model().dismissSheets();
                }
            });
            if (!reopen) cancel_ = added;
        }
        return;
    }
    cancel_ = addButton(QStringLiteral("Close"), true, [this] { model_.model().dismissSheets(); });
}

QPushButton* PlaceholderSheet::addButton(const QString& title, bool isDefault, std::function<void()> action) {
    const auto kind = isDefault ? ui::TextButtonKind::prominent : ui::TextButtonKind::plain;
    auto* button = new ui::TextButton(kind, title, this);
    button->setDefault(isDefault);
    button->setFocusPolicy(Qt::NoFocus);
    if (isDefault) default_ = button;
    connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    buttons().addWidget(button);
    return button;
}

void PlaceholderSheet::acceptAction() {
    if (default_) default_->click();
}

void PlaceholderSheet::cancelAction() {
    if (cancel_) cancel_->click();
}

}  // namespace lumenhollow
