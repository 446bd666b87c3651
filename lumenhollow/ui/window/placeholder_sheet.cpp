#include "lumenhollow/ui/window/placeholder_sheet.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow {

PlaceholderSheet::PlaceholderSheet(SheetKind kind, ModelSignals& model, QWidget* parent)
    : SheetCard(parent), model_(model), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(26, 26, 26, 26);
    layout_->setSpacing(22);
    auto* title = new QLabel(QString::fromStdString(sheetTitle(kind)), this);
    title->setWordWrap(true);
    layout_->addWidget(title);
    if (kind == SheetKind::screenRecordingAlert) {
        const AlertText& alert = screenRecordingAlert();
        auto* message = new QLabel(QString::fromStdString(alert.message), this);
        message->setWordWrap(true);
        layout_->addWidget(message);
        for (const AlertButton& button : alert.buttons) {
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
    auto* button = new QPushButton(title, this);
    button->setDefault(isDefault);
    button->setFocusPolicy(Qt::NoFocus);
    if (isDefault) default_ = button;
    connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    layout_->addWidget(button);
    return button;
}

void PlaceholderSheet::acceptAction() {
    if (default_) default_->click();
}

void PlaceholderSheet::cancelAction() {
    if (cancel_) cancel_->click();
}

}  // namespace lumenhollow
