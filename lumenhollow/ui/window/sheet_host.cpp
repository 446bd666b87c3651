#include "lumenhollow/ui/window/sheet_host.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QWindow>

#include <algorithm>

#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/window/placeholder_sheet.h"
#include "lumenhollow/ui/window/sheet_card.h"
#include "lumenhollow/ui/window/sheet_content.h"
#include "lumenhollow/ui/window/shortcuts_view.h"
#include "lumenhollow/ui/window/usb_guide_sheet.h"
#include "lumenhollow/ui/window/welcome_sheet.h"

namespace lumenhollow {

namespace {

constexpr QColor kSheetBackdrop(0, 0, 0, 140);
constexpr QColor kSheetCardFill(0x2c, 0x2c, 0x2e);
constexpr QColor kSheetCardEdge(255, 255, 255, 20);

// True when `window` stands above `base`, or above a window that does.
bool sheetStandsAbove(const QWindow* window, const QWindow* base) {
    for (; window; window = window->transientParent()) {
        if (window == base) return true;
    }
    return false;
}

// Closes the open popups that stand above `window` (its popovers and their
// menus), the topmost first.
void closePopupsAbove(const QWidget& window) {
    const QWindow* base = window.windowHandle();
    while (QWidget* popup = QApplication::activePopupWidget()) {
        if (!base || popup == &window || !sheetStandsAbove(popup->windowHandle(), base)) return;
        popup->close();
        // One that would not close stays, and so do those under it.
        if (popup->isVisible()) return;
    }
}

}  // namespace

SheetHost::SheetHost(ModelSignals& model, QWidget* parent) : QWidget(parent), model_(model) {
    setFocusPolicy(Qt::StrongFocus);
    hide();
    // Keys that reach the picture while a card shows are the card's.
    if (parent) parent->installEventFilter(this);
    model_.onChange({Field::showWelcome, Field::showUSBGuide, Field::showShortcuts, Field::showScreenPermissionHelp},
                    this, [this] { follow(); });
    follow();
}

SheetHost::~SheetHost() {
    if (parentWidget()) parentWidget()->removeEventFilter(this);
    // The window closing with a card up: it goes too.
    if (card_) card_->disappeared();
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
    endCard();
    shown_ = kind;
    switch (kind) {
        case SheetKind::welcome: card_ = new WelcomeSheet(model_.sharedModel(), this); break;
        case SheetKind::usbGuide: card_ = new UsbGuideSheet(model_.sharedModel(), this); break;
        case SheetKind::shortcuts: card_ = new ShortcutsView(model_.sharedModel(), this); break;
        case SheetKind::screenRecordingAlert: card_ = new PlaceholderSheet(kind, model_, this); break;
    }
    connect(card_, &SheetCard::naturalHeightChanged, this, [this] { placeCard(); });
    setGeometry(parentWidget() ? parentWidget()->rect() : rect());
    card_->show();
    placeCard();
    show();
    raise();
    // The sheet is modal to the window: a popover of the window (one whose
    // key opened the sheet) closes, and the keyboard comes to the sheet.
    closePopupsAbove(*window());
    setFocus(Qt::OtherFocusReason);
}

void SheetHost::endCard() {
    SheetCard* card = std::exchange(card_, nullptr);
    if (!card) return;
    card->disappeared();
    // Possibly the card whose button is being clicked: it goes once its signal has returned.
    card->hide();
    card->setProperty("dropped", true);
    card->deleteLater();
}

bool SheetHost::closeAll() {
    if (!shown_) return false;
    shown_.reset();
    endCard();
    const bool hadKeyboard = hasFocus();
    hide();
    if (hadKeyboard && parentWidget()) parentWidget()->setFocus(Qt::OtherFocusReason);
    return true;
}

QRect sheetCardRect(QSize area, int wantedWidth, const std::function<int(int)>& naturalHeight) {
    const int margin = SheetHost::kCardMargin;
    const int width = std::max(1, std::min(wantedWidth, area.width() - 2 * margin));
    // Never taller than the window: the card's content scrolls, its buttons stay.
    const int height = std::max(1, std::min(naturalHeight(width), area.height() - 2 * margin));
    return {(area.width() - width) / 2, std::max(margin, (area.height() - height) / 2), width, height};
}

void SheetHost::placeCard() {
    if (!card_) return;
    const QRect place = sheetCardRect(size(), card_->cardWidth(), [this](int width) { return card_->naturalHeight(width); });
    card_->setGeometry(place);
    cardPath_ = QPainterPath();
    cardPath_.addRoundedRect(QRectF(place).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius, kCardRadius);
    update();
}

QPushButton* SheetHost::button(const QString& title) const {
    if (!card_) return nullptr;
    for (QPushButton* button : card_->findChildren<QPushButton*>()) {
        if (button->text() == title) return button;
    }
    return nullptr;
}

bool SheetHost::takeKey(QEvent* event) {
    if (!card_) return false;
    switch (event->type()) {
        case QEvent::ShortcutOverride: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (sheetKeyFor(key->key(), key->modifiers()) == SheetKey::menu) return false;
            event->accept();
            return true;
        }
        case QEvent::KeyPress: keyPressEvent(static_cast<QKeyEvent*>(event)); return true;
        case QEvent::KeyRelease: keyReleaseEvent(static_cast<QKeyEvent*>(event)); return true;
        default: return false;
    }
}

bool SheetHost::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && takeKey(event)) return true;
    return QWidget::event(event);
}

bool SheetHost::eventFilter(QObject* watched, QEvent* event) {
    // The backdrop covers its parent whatever size it takes, also one still
    // hidden with its window: a window built with a sheet open (opened again
    // after a close) gets its size only when it shows.
    if (watched == parentWidget() && event->type() == QEvent::Resize && shown_) setGeometry(parentWidget()->rect());
    if (watched == parentWidget() && isVisible() && takeKey(event)) return true;
    return QWidget::eventFilter(watched, event);
}

void SheetHost::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (!card_ || event->isAutoRepeat()) return;
    switch (sheetKeyFor(event->key(), event->modifiers())) {
        case SheetKey::accept: card_->acceptAction(); break;
        case SheetKey::cancel: card_->cancelAction(); break;
        case SheetKey::scroll: card_->scrollContent(event->key()); break;
        case SheetKey::none:
        case SheetKey::swallow:
        case SheetKey::menu: break;
    }
}

void SheetHost::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
}

void SheetHost::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeCard();
}

void SheetHost::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kSheetBackdrop);
    if (!card_) return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kSheetCardEdge, 1));
    painter.setBrush(kSheetCardFill);
    painter.drawPath(cardPath_);
}

// The sheet is modal to the window: nothing reaches the picture beneath.
void SheetHost::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void SheetHost::wheelEvent(QWheelEvent* event) {
    event->accept();
}

}  // namespace lumenhollow
