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
        help_ = new QLabel(QString::fromStdString(alert.help), this);
        help_->setWordWrap(true);
        help_->hide();
        content().addWidget(help_);
        // The cancel button last in the list, first in the row: the default one ends it.
        for (auto it = alert.buttons.rbegin(); it != alert.buttons.rend(); ++it) {
            const AlertButton::Action action = it->action;
            const bool reopen = action == AlertButton::Action::quitAndReopen;
            QPushButton* added =
                addButton(QString::fromStdString(it->title), reopen, [this, action] { runAlertAction(action); });
            if (action == AlertButton::Action::cancel) cancel_ = added;
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

void PlaceholderSheet::runAlertAction(AlertButton::Action action) {
    switch (action) {
        // Reopening quits through the model, which ends every sheet.
        case AlertButton::Action::quitAndReopen: model_.model().quitAndReopen(); break;
        case AlertButton::Action::howToAllow:
            // As the panel's card does: ask again, then say in place what to
            // do, there being no settings page to send the person to.
            model_.model().requestScreenCapture();
            if (help_->isHidden()) {
                help_->show();
                Q_EMIT naturalHeightChanged();
            }
            break;
        case AlertButton::Action::cancel: model_.model().dismissSheets(); break;
    }
}

void PlaceholderSheet::acceptAction() {
    if (default_) default_->click();
}

void PlaceholderSheet::cancelAction() {
    if (cancel_) cancel_->click();
}

}  // namespace lumenhollow
