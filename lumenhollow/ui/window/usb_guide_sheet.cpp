#include "lumenhollow/ui/window/usb_guide_sheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/spinner.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/sheet_badge.h"
#include "lumenhollow/ui/window/sheet_chips.h"
#include "lumenhollow/ui/window/sheet_content.h"

namespace lumenhollow {

namespace {

const QColor kUsbGuideGreen(0x30, 0xd1, 0x58);
const QColor kUsbGuideBadgeFill(255, 255, 255, 31);  // white at 0.12

QString stepTitleText(const SheetRow& step) {
    const ui::Symbols& symbols = ui::Symbols::instance();
    const std::optional<QChar> glyph = symbols.glyph(step.symbol);
    const QString title = QString::fromStdString(step.title).toHtmlEscaped();
    if (!glyph) return title;
    return QStringLiteral("<span style=\"font-family:'%1'; font-size:%2px;\">%3</span>&nbsp;%4")
        .arg(symbols.font(UsbGuideSheet::kStepTitlePx).family())
        .arg(static_cast<int>(UsbGuideSheet::kStepTitlePx + 1))
        .arg(*glyph)
        .arg(title);
}

// The guide's end once the camera was found: over to USB, unless the
// application is quitting, and the sheet closed.
void usbGuideSwitch(CameraModel& model) {
    if (!model.isQuitRequested()) model.selectConnection(ConnectionMode::usb);
    model.setShowUSBGuide(false);
}

}  // namespace

UsbGuideSheet::UsbGuideSheet(std::shared_ptr<CameraModel> model, QWidget* parent)
    : SheetCard(parent, kPadding, kSpacing),
      model_(std::move(model)),
      spinner_(nullptr),
      check_(nullptr),
      footer_(nullptr),
      notNow_(nullptr),
      watch_(model_->mainExecutor(), UsbGuideWatch::Hooks{[this] { return model_->isPocketConnected(); },
                                                          [this] { showFooter(); }, [this] { switchToUSB(); }}) {
    setObjectName("usbGuideSheet");
    const UsbGuideText& text = usbGuideText();
    const QColor accent = ui::platformAccentColor();

    QVBoxLayout* root = &content();

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(SheetBadge::symbol(text.symbol, kHeaderSymbolPx, accent,
                                         ui::withOpacity(accent, kHeaderCircleOpacity), kHeaderCircle, this),
                      0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(sheetLabel(text.title, ui::uiFont(ui::textStyleSpec(ui::TextStyle::title2).px, QFont::Bold),
                                 sheetPrimaryText(), false, this));
    titles->addWidget(sheetLabel(text.subtitle, ui::uiFont(ui::TextStyle::callout), sheetSecondaryText(), true, this));
    header->addLayout(titles, 1);
    root->addLayout(header);

    auto* steps = new QVBoxLayout;
    steps->setSpacing(14);
    const QFont stepTitle = ui::uiFont(kStepTitlePx, QFont::DemiBold);
    for (size_t i = 0; i < text.steps.size(); ++i) {
        const SheetRow& step = text.steps[i];
        auto* row = new QHBoxLayout;
        row->setSpacing(12);
        row->addWidget(new SheetBadge(QString::number(i + 1), ui::uiFont(13, QFont::Bold), Qt::white,
                                      kUsbGuideBadgeFill, kStepBadge, this),
                       0, Qt::AlignTop);
        auto* words = new QVBoxLayout;
        words->setSpacing(2);
        // The symbol leads the title inside one label, so the pair wraps and measures as one line.
        QLabel* title = sheetLabel("", stepTitle, sheetPrimaryText(), false, this);
        title->setTextFormat(Qt::RichText);
        title->setText(stepTitleText(step));
        words->addWidget(title);
        words->addWidget(sheetLabel(step.detail, ui::uiFont(ui::TextStyle::callout), sheetSecondaryText(), true, this));
        row->addLayout(words, 1);
        steps->addLayout(row);
    }
    root->addLayout(steps);

    QStringList perks;
    for (const std::string& perk : text.perks) perks << QString::fromStdString(perk);
    root->addWidget(new SheetChips(perks, this));

    // The footer's status stays in view beside its button.
    QHBoxLayout* footer = &buttons();
    footer->setSpacing(8);
    spinner_ = new ui::Spinner(ui::Spinner::Size::mini, this);
    check_ = SheetBadge::symbol(usbGuideFooter(true).symbol, 15, kUsbGuideGreen, Qt::transparent, 16, this);
    footer_ = sheetLabel("", ui::uiFont(ui::TextStyle::callout), sheetSecondaryText(), false, this);
    notNow_ = new ui::TextButton(ui::TextButtonKind::plain, QString::fromStdString(text.notNow), this);
    notNow_->setFocusPolicy(Qt::NoFocus);
    footer->addWidget(spinner_);
    footer->addWidget(check_);
    footer->addWidget(footer_);
    footer->addStretch(1);
    footer->addWidget(notNow_);
    connect(notNow_, &QPushButton::clicked, this, [this] { cancelAction(); });

    showFooter();
    watch_.start();
}

void UsbGuideSheet::showFooter() {
    const UsbGuideFooter footer = usbGuideFooter(watch_.isDetected());
    spinner_->setVisible(footer.spinner);
    check_->setVisible(!footer.symbol.empty());
    footer_->setText(QString::fromStdString(footer.text));
    QPalette palette = footer_->palette();
    palette.setColor(QPalette::WindowText, footer.primary ? sheetPrimaryText() : sheetSecondaryText());
    footer_->setPalette(palette);
}

QString UsbGuideSheet::footerText() const {
    return footer_->text();
}

void UsbGuideSheet::switchToUSB() {
    usbGuideSwitch(*model_);
}

// Return has no default button to press here: it waits like the rest.
void UsbGuideSheet::acceptAction() {}

void UsbGuideSheet::cancelAction() {
    // In the pause after the find this is the switch, made now.
    watch_.closed();
    model_->setShowUSBGuide(false);
}

void UsbGuideSheet::disappeared() {
    const bool pausing = watch_.isPausing();
    watch_.stop();
    // Gone with its window in the pause while the model still asks for it:
    // the switch is still made, on a later turn, so that a quit the closed
    // window leads to is known by then and stops it.
    if (pausing && model_->state().showUSBGuide) {
        model_->mainExecutor().post([weak = std::weak_ptr<CameraModel>(model_)] {
            if (const std::shared_ptr<CameraModel> model = weak.lock()) usbGuideSwitch(*model);
        });
    }
}

}  // namespace lumenhollow
