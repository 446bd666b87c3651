#include "lumenhollow/ui/window/welcome_sheet.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/sheet_badge.h"
#include "lumenhollow/ui/window/sheet_content.h"

namespace lumenhollow {

QPixmap welcomeIcon(int size, qreal devicePixelRatio) {
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull()) return icon.pixmap(QSize(size, size), devicePixelRatio);
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient tile(0, 0, 0, size);
    tile.setColorAt(0, ui::appAccentColor().lighter(125));
    tile.setColorAt(1, ui::appAccentColor().darker(140));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    const double radius = size * 0.225;
    painter.drawRoundedRect(QRectF(0, 0, size, size), radius, radius);
    ui::Symbols::instance().draw(painter, QRectF(0, 0, size, size), "video.fill", size * 0.55, Qt::white);
    return pixmap;
}

WelcomeSheet::WelcomeSheet(std::shared_ptr<CameraModel> model, QWidget* parent)
    : SheetCard(parent, kPadding, kSpacing), model_(std::move(model)), start_(nullptr) {
    setObjectName("welcomeSheet");
    const WelcomeText text = welcomeText(model_->outputFolder());
    const QColor accent = ui::appAccentColor();

    QVBoxLayout* root = &content();

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    auto* icon = new QLabel(this);
    icon->setFixedSize(kIconSize, kIconSize);
    icon->setPixmap(welcomeIcon(kIconSize, devicePixelRatioF()));
    header->addWidget(icon, 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    titles->addWidget(sheetLabel(text.title, ui::uiFont(ui::textStyleSpec(ui::TextStyle::title2).px, QFont::Bold),
                                 sheetPrimaryText(), false, this));
    titles->addWidget(sheetLabel(text.subtitle, ui::uiFont(ui::TextStyle::callout), sheetSecondaryText(), true, this));
    header->addLayout(titles, 1);
    root->addLayout(header);

    auto* rows = new QVBoxLayout;
    rows->setSpacing(kRowSpacing);
    for (const SheetRow& feature : text.features) {
        auto* row = new QHBoxLayout;
        row->setSpacing(14);
        row->addWidget(SheetBadge::symbol(feature.symbol, kSymbolPx, accent, ui::withOpacity(accent, kSymbolCircleOpacity),
                                          kSymbolCircle, this),
                       0, Qt::AlignTop);
        auto* words = new QVBoxLayout;
        words->setSpacing(2);
        words->addWidget(sheetLabel(feature.title, ui::uiFont(ui::TextStyle::headline), sheetPrimaryText(), false, this));
        words->addWidget(sheetLabel(feature.detail, ui::uiFont(ui::TextStyle::callout), sheetSecondaryText(), true, this));
        row->addLayout(words, 1);
        rows->addLayout(row);
    }
    root->addLayout(rows);

    auto* privacy = new QHBoxLayout;
    privacy->setSpacing(6);
    const QFont caption = ui::uiFont(ui::TextStyle::caption);
    privacy->addWidget(SheetBadge::symbol(text.privacySymbol, ui::textStyleSpec(ui::TextStyle::caption).px + 2,
                                          sheetSecondaryText(), Qt::transparent, 14, this),
                       0, Qt::AlignTop);
    privacy->addWidget(sheetLabel(text.privacy, caption, sheetSecondaryText(), true, this), 1);
    root->addLayout(privacy);

    QHBoxLayout* buttons = &this->buttons();
    auto* shortcuts = new ui::TextButton(ui::TextButtonKind::plain, QString::fromStdString(text.shortcutsButton), this);
    start_ = new ui::TextButton(ui::TextButtonKind::prominent, QString::fromStdString(text.startButton), this);
    start_->setDefault(true);
    // The sheet host keeps the keyboard: Return and Escape reach it from anywhere on the card.
    for (QPushButton* button : {static_cast<QPushButton*>(shortcuts), start_}) button->setFocusPolicy(Qt::NoFocus);
    buttons->addWidget(shortcuts);
    buttons->addStretch(1);
    buttons->addWidget(start_);

    connect(start_, &QPushButton::clicked, this, [this] { acceptAction(); });
    connect(shortcuts, &QPushButton::clicked, this, [this] { showShortcuts(); });
}

void WelcomeSheet::acceptAction() {
    model_->setShowWelcome(false);
}

void WelcomeSheet::cancelAction() {
    model_->setShowWelcome(false);
}

void WelcomeSheet::showShortcuts() {
    std::weak_ptr<CameraModel> weak = model_;
    model_->setShowWelcome(false);
    // Later, so the shortcuts sheet opens once this one has gone; not while quitting.
    model_->mainExecutor().after(kShortcutsDelay, [weak] {
        const std::shared_ptr<CameraModel> model = weak.lock();
        if (model && !model->isQuitRequested()) model->setShowShortcuts(true);
    });
}

void WelcomeSheet::disappeared() {
    if (gone_) return;
    gone_ = true;
    model_->markWelcomed();
}

}  // namespace lumenhollow
