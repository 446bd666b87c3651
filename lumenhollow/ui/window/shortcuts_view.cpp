#include "lumenhollow/ui/window/shortcuts_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/shortcut_table.h"

namespace lumenhollow {

namespace {

// The bundled text face has no monospaced design; the chips take the
// desktop's fixed-pitch face, which carries the arrows and the ellipsis.
QFont shortcutsChipFont() {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(static_cast<int>(ShortcutsView::kChipPx));
    font.setWeight(QFont::DemiBold);
    return font;
}

QLabel* shortcutsChip(const std::string& keys, const QFont& font, QWidget* parent) {
    QLabel* chip = sheetLabel(keys, font, sheetPrimaryText(), false, parent);
    // Quaternary fill: a faint white on the dark card.
    chip->setStyleSheet(QStringLiteral("QLabel { background: rgba(255, 255, 255, 26); border-radius: %1px; "
                                       "padding: 2px 6px; }")
                            .arg(ShortcutsView::kChipRadius));
    chip->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return chip;
}

}  // namespace

ShortcutsView::ShortcutsView(std::shared_ptr<CameraModel> model, QWidget* parent)
    : SheetCard(parent, kPadding, kSpacing), model_(std::move(model)) {
    setObjectName("shortcutsView");
    QVBoxLayout* root = &content();
    root->addWidget(sheetLabel("Keyboard Shortcuts",
                               ui::uiFont(ui::textStyleSpec(ui::TextStyle::title2).px, QFont::Bold),
                               sheetPrimaryText(), false, this));

    const QFont chipFont = shortcutsChipFont();
    const QFont actionFont = ui::uiFont(ui::TextStyle::body);
    std::vector<int> chipWidths;
    for (const ShortcutSection& section : shortcutSections()) {
        for (const ShortcutItem& item : section.items) {
            chips_.push_back(shortcutsChip(item.keys, chipFont, this));
            chips_.back()->ensurePolished();
            chipWidths.push_back(chips_.back()->sizeHint().width());
            actions_.push_back(sheetLabel(item.action, actionFont, sheetPrimaryText(), true, this));
        }
    }
    // One column for every chip, as wide as the widest needs.
    const int column = shortcutKeyColumnWidth(chipWidths);

    auto* sections = new QVBoxLayout;
    sections->setSpacing(kSpacing);
    size_t next = 0;
    for (const ShortcutSection& section : shortcutSections()) {
        auto* block = new QVBoxLayout;
        block->setSpacing(kSectionSpacing);
        block->addWidget(sheetLabel(section.title, ui::uiFont(ui::TextStyle::headline), sheetSecondaryText(), false,
                                    this));
        for (size_t i = 0; i < section.items.size(); ++i, ++next) {
            auto* keyFrame = new QWidget(this);
            keyFrame->setFixedWidth(column);
            auto* frameLayout = new QHBoxLayout(keyFrame);
            frameLayout->setContentsMargins(0, 0, 0, 0);
            chips_[next]->setParent(keyFrame);
            frameLayout->addWidget(chips_[next], 0, Qt::AlignLeft | Qt::AlignVCenter);
            auto* row = new QHBoxLayout;
            row->setSpacing(kRowSpacing);
            row->addWidget(keyFrame, 0, Qt::AlignVCenter);
            row->addWidget(actions_[next], 1, Qt::AlignVCenter);
            block->addLayout(row);
        }
        sections->addLayout(block);
    }
    root->addLayout(sections);

    QHBoxLayout* footer = &buttons();
    footer->addStretch(1);
    done_ = new ui::TextButton(ui::TextButtonKind::prominent, QStringLiteral("Done"), this);
    done_->setDefault(true);
    // The sheet host keeps the keyboard: Return reaches the button from anywhere on the card.
    done_->setFocusPolicy(Qt::NoFocus);
    footer->addWidget(done_);
    connect(done_, &QPushButton::clicked, this, [this] { dismiss(); });
}

void ShortcutsView::acceptAction() {
    done_->click();
}

void ShortcutsView::cancelAction() {
    dismiss();
}

void ShortcutsView::dismiss() {
    model_->setShowShortcuts(false);
}

}  // namespace lumenhollow
