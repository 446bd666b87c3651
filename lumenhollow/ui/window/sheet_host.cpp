#include "lumenhollow/ui/window/sheet_host.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow {

namespace {

constexpr QColor kBackdrop(0, 0, 0, 140);
constexpr QColor kCardFill(0x2c, 0x2c, 0x2e);

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            // Possibly the button being clicked: it goes once its signal has returned.
            widget->hide();
            widget->setProperty("dropped", true);
            widget->deleteLater();
        }
        if (QLayout* inner = item->layout()) clearLayout(inner);
        delete item;
    }
}

}  // namespace

SheetHost::SheetHost(ModelSignals& model, QWidget* parent)
    : QWidget(parent), model_(model), card_(new QWidget(this)), cardLayout_(new QVBoxLayout(card_)) {
    card_->setObjectName("sheetCard");
    card_->setAutoFillBackground(true);
    QPalette palette = card_->palette();
    palette.setColor(QPalette::Window, kCardFill);
    card_->setPalette(palette);
    cardLayout_->setContentsMargins(26, 26, 26, 26);
    cardLayout_->setSpacing(22);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(card_, 0, Qt::AlignCenter);
    hide();
    model_.onChange({Field::showWelcome, Field::showUSBGuide, Field::showShortcuts, Field::showScreenPermissionHelp},
                    this, [this] { follow(); });
    follow();
}

void SheetHost::follow() {
    const std::optional<SheetKind> wanted = sheetToShow(model_.state());
    if (wanted == shown_) return;
    if (!wanted) {
        closeAll();
        return;
    }
    present(*wanted);
}

void SheetHost::present(SheetKind kind) {
    shown_ = kind;
    clearLayout(cardLayout_);
    fill(kind);
    setGeometry(parentWidget() ? parentWidget()->rect() : rect());
    show();
    raise();
}

void SheetHost::fill(SheetKind kind) {
    card_->setFixedWidth(std::min(kCardWidth, std::max(1, parentWidget() ? parentWidget()->width() - 24 : kCardWidth)));
    auto* title = new QLabel(QString::fromStdString(sheetTitle(kind)), card_);
    title->setWordWrap(true);
    cardLayout_->addWidget(title);
    if (kind == SheetKind::screenRecordingAlert) {
        const AlertText& alert = screenRecordingAlert();
        auto* message = new QLabel(QString::fromStdString(alert.message), card_);
        message->setWordWrap(true);
        cardLayout_->addWidget(message);
        for (const AlertButton& button : alert.buttons) {
            const bool reopen = button.action == AlertButton::Action::quitAndReopen;
            addButton(QString::fromStdString(button.title), reopen, [this, reopen] {
                // Reopening quits through the model, which ends every sheet.
                if (reopen) {
                    model_.model().quitAndReopen();
                } else {
                    model_.model().dismissSheets();
                }
            });
        }
        return;
    }
    addButton(QStringLiteral("Close"), true, [this] { model_.model().dismissSheets(); });
}

void SheetHost::addButton(const QString& title, bool isDefault, std::function<void()> action) {
    auto* button = new QPushButton(title, card_);
    button->setDefault(isDefault);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    cardLayout_->addWidget(button);
}

QPushButton* SheetHost::button(const QString& title) const {
    for (QPushButton* button : card_->findChildren<QPushButton*>()) {
        if (button->text() == title && !button->property("dropped").toBool()) return button;
    }
    return nullptr;
}

bool SheetHost::closeAll() {
    if (!shown_) return false;
    shown_.reset();
    clearLayout(cardLayout_);
    hide();
    return true;
}

void SheetHost::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), kBackdrop);
}

// The sheet is modal to the window: nothing reaches the picture beneath.
void SheetHost::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void SheetHost::wheelEvent(QWheelEvent* event) {
    event->accept();
}

}  // namespace lumenhollow
