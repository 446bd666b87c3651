#include "lumenhollow/ui/panels/screen_permission_card.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbol_label.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/panels/screen_permission_text.h"

namespace lumenhollow {

namespace {

QString permissionText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* makePermissionCaption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(ui::uiFont(ui::TextStyle::caption));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ui::withOpacity(Qt::white, 0.55));
    label->setPalette(palette);
    return label;
}

}  // namespace

ScreenPermissionCard::ScreenPermissionCard(ModelSignals& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    column->setSpacing(kSpacing);
    column->addWidget(new ui::SymbolLabel("lock.shield", tr("Lumenhollow needs Screen Recording permission."),
                                          ui::uiFont(ui::TextStyle::callout), Qt::white, this));
    column->addWidget(makePermissionCaption(permissionText(screenPermissionCaption()), this));
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    const auto kind = ui::TextButtonKind::plain;
    settings_ = new ui::TextButton(kind, permissionText(howToAllowRecordingTitle()), this, ui::TextButtonSize::small);
    reopen_ = new ui::TextButton(kind, tr("Reopen Lumenhollow"), this, ui::TextButtonSize::small);
    buttons->addWidget(settings_);
    buttons->addWidget(reopen_);
    buttons->addStretch(1);
    column->addLayout(buttons);
    help_ = makePermissionCaption(permissionText(howToAllowRecordingHelp()), this);
    help_->hide();
    column->addWidget(help_);

    connect(settings_, &QPushButton::clicked, this, [this] { openPrivacySettings(); });
    connect(reopen_, &QPushButton::clicked, this, [this] { model_.model().quitAndReopen(); });
}

void ScreenPermissionCard::openPrivacySettings() {
    model_.model().requestScreenCapture();
    // No settings page grants this on Linux; the card tells what to do
    // instead, so the press is never left unanswered.
    help_->show();
}

void ScreenPermissionCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ui::withOpacity(ui::appAccentColor(), kFillOpacity));
    painter.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
}

}  // namespace lumenhollow
