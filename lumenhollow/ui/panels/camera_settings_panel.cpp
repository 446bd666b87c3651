#include "lumenhollow/ui/panels/camera_settings_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/pop_up_button.h"
#include "lumenhollow/ui/kit/popover_scroll_area.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow {

namespace hk = hollowkit;

namespace {

constexpr int kSettingsInset = 14;
constexpr int kSettingsRowHeight = 30;
constexpr const char* kSettingsFooter =
    "\u201CAs on Camera\u201D keeps whatever is set on the Pocket. Changing the color profile pauses the preview "
    "for a few seconds.";

QLabel* settingsLabel(const QString& text, ui::TextStyle style, double opacity, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(ui::uiFont(style));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ui::withOpacity(QColor(Qt::white), opacity));
    label->setPalette(palette);
    return label;
}

// A grouped form's section: a rounded, faintly lit box of rows.
QWidget* settingsGroup(QWidget* parent) {
    auto* group = new QWidget(parent);
    group->setObjectName(QStringLiteral("settingsGroup"));
    group->setAttribute(Qt::WA_StyledBackground);
    group->setStyleSheet(QStringLiteral("#settingsGroup { background: rgba(255, 255, 255, 18); border-radius: 8px; }"));
    auto* rows = new QVBoxLayout(group);
    rows->setContentsMargins(10, 4, 10, 4);
    rows->setSpacing(2);
    return group;
}

}  // namespace

CameraSettingsPanel::CameraSettingsPanel(ModelSignals& model, QWidget* parent)
    : QWidget(parent), model_(model), kelvin_(loadKelvin(model.state().cameraSettings)) {
    setFixedWidth(kWidth);
    // The rows scroll where the popover's screen is too short for all of
    // them; the sides' inset lies inside them.
    auto* rows = new QWidget(this);
    auto* column = new QVBoxLayout(rows);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    column->addWidget(settingsLabel(tr("Video"), ui::TextStyle::subheadline, 0.55, this));
    QWidget* video = settingsGroup(this);
    resolution_ = addPicker(video, "Resolution", pickerRows<hk::CameraResolution>(), [](const auto& now, int row) {
        return chooseResolution(now, pickerValue<hk::CameraResolution>(row));
    });
    frameRate_ = addPicker(video, "Frame Rate", pickerRows<hk::CameraFrameRate>(), [](const auto& now, int row) {
        return chooseFrameRate(now, pickerValue<hk::CameraFrameRate>(row));
    });
    codec_ = addPicker(video, "Codec", codecPickerRows(),
                       [](const auto& now, int row) { return chooseCodec(now, codecPickerValue(row)); });
    color_ = addPicker(video, "Color", pickerRows<hk::ColorProfile>(), [](const auto& now, int row) {
        return chooseColorProfile(now, pickerValue<hk::ColorProfile>(row));
    });
    column->addWidget(video);

    column->addSpacing(6);
    column->addWidget(settingsLabel(tr("Exposure"), ui::TextStyle::subheadline, 0.55, this));
    QWidget* exposure = settingsGroup(this);
    mode_ = addPicker(exposure, "Mode", pickerRows<hk::ExposureMode>(), [](const auto& now, int row) {
        return chooseExposureMode(now, pickerValue<hk::ExposureMode>(row));
    });
    iso_ = addPicker(exposure, "ISO", pickerRows<hk::CameraISO>(), [](const auto& now, int row) {
        return chooseISO(now, pickerValue<hk::CameraISO>(row));
    });
    isoRow_ = iso_->parentWidget();

    auto* stepper = new QWidget(exposure);
    auto* stepperLayout = new QHBoxLayout(stepper);
    stepperLayout->setContentsMargins(0, 0, 0, 0);
    stepperLayout->setSpacing(4);
    evValue_ = settingsLabel(QString(), ui::TextStyle::body, 0.8, stepper);
    evDown_ = new ui::TextButton(ui::TextButtonKind::plain, QStringLiteral("\u2212"), stepper, ui::TextButtonSize::small);
    evDown_->setObjectName(QStringLiteral("evDown"));
    evDown_->setAccessibleName(tr("Lower EV"));
    evUp_ = new ui::TextButton(ui::TextButtonKind::plain, QStringLiteral("+"), stepper, ui::TextButtonSize::small);
    evUp_->setObjectName(QStringLiteral("evUp"));
    evUp_->setAccessibleName(tr("Raise EV"));
    stepperLayout->addWidget(evValue_);
    stepperLayout->addWidget(evDown_);
    stepperLayout->addWidget(evUp_);
    connect(evDown_, &ui::TextButton::clicked, this, [this] { apply(stepEV(model_.state().cameraSettings, -1)); });
    connect(evUp_, &ui::TextButton::clicked, this, [this] { apply(stepEV(model_.state().cameraSettings, +1)); });
    evRow_ = addRow(exposure, "EV", stepper);

    // A switch in the desktop's accent, as a form's toggles are.
    autoWhiteBalance_ = new ui::SwitchButton(ui::platformAccentColor(), exposure);
    autoWhiteBalance_->setObjectName(QStringLiteral("autoWhiteBalance"));
    autoWhiteBalance_->setAccessibleName(tr("Auto White Balance"));
    // The switch shows the model's value: a click asks for the other one.
    connect(autoWhiteBalance_, &ui::SwitchButton::clicked, this, [this] {
        apply(chooseAutoWhiteBalance(model_.state().cameraSettings, !autoWhiteBalance_->isOn(), kelvin_));
        refresh();
    });
    addRow(exposure, "Auto White Balance", autoWhiteBalance_);

    kelvinRow_ = new QWidget(exposure);
    auto* kelvinLayout = new QHBoxLayout(kelvinRow_);
    kelvinLayout->setContentsMargins(0, 0, 0, 0);
    kelvinSlider_ = new QSlider(Qt::Horizontal, kelvinRow_);
    kelvinSlider_->setObjectName(QStringLiteral("kelvin"));
    kelvinSlider_->setAccessibleName(tr("White Balance"));
    // In hundreds of kelvin: the slider's steps are whole.
    kelvinSlider_->setRange(static_cast<int>(kMinKelvin / kKelvinStep), static_cast<int>(kMaxKelvin / kKelvinStep));
    kelvinSlider_->setPageStep(10);
    kelvinValue_ = settingsLabel(QString(), ui::TextStyle::body, 0.8, kelvinRow_);
    kelvinValue_->setObjectName(QStringLiteral("kelvinLabel"));
    kelvinValue_->setMinimumWidth(kelvinValue_->fontMetrics().horizontalAdvance(QStringLiteral("10000K")));
    kelvinValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    kelvinLayout->addWidget(kelvinSlider_, 1);
    kelvinLayout->addWidget(kelvinValue_);
    connect(kelvinSlider_, &QSlider::valueChanged, this, [this](int hundreds) {
        kelvin_ = hundreds * kKelvinStep;
        kelvinValue_->setText(QString::fromStdString(kelvinLabel(kelvin_)));
        // A step by keyboard or a click on the groove is over at once; a drag ends on release.
        if (!kelvinSlider_->isSliderDown()) apply(applyKelvin(model_.state().cameraSettings, kelvin_, false));
    });
    connect(kelvinSlider_, &QSlider::sliderReleased, this,
            [this] { apply(applyKelvin(model_.state().cameraSettings, kelvin_, false)); });
    exposure->layout()->addWidget(kelvinRow_);
    column->addWidget(exposure);

    auto* footer = settingsLabel(tr(kSettingsFooter), ui::TextStyle::caption, 0.55, this);
    footer->setWordWrap(true);
    column->addSpacing(6);
    column->addWidget(footer);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, kSettingsInset, 0, kSettingsInset);
    scroll_ = new ui::PopoverScrollArea(rows, kWidth, kSettingsInset, [] { return 2 * kSettingsInset; }, this);
    outer->addWidget(scroll_);

    model_.onChange({Field::cameraSettings}, this, [this] { refresh(); });
    refresh();
}

ui::PopUpButton* CameraSettingsPanel::addPicker(QWidget* group, const char* title,
                                                const std::vector<std::string>& rows, Chooser choose) {
    QStringList options;
    for (const std::string& row : rows) options.append(QString::fromStdString(row));
    auto* picker = new ui::PopUpButton(tr(title), options, group);
    picker->setObjectName(QString::fromUtf8(title));
    // Only the user's choice counts; "As on Camera" comes back as no change,
    // and refresh() shows the model's value again.
    connect(picker, &ui::PopUpButton::activated, this, [this, choose = std::move(choose)](int row) {
        apply(choose(model_.state().cameraSettings, row));
        refresh();
    });
    addRow(group, title, picker);
    return picker;
}

QWidget* CameraSettingsPanel::addRow(QWidget* group, const char* title, QWidget* control) {
    auto* row = new QWidget(group);
    row->setMinimumHeight(kSettingsRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(settingsLabel(tr(title), ui::TextStyle::body, 1.0, row));
    layout->addStretch(1);
    control->setParent(row);
    layout->addWidget(control);
    group->layout()->addWidget(row);
    return row;
}

void CameraSettingsPanel::apply(const std::optional<CameraSettingsChange>& change) {
    if (change) model_.model().applyCameraSetting(change->next, change->setting);
}

void CameraSettingsPanel::refresh() {
    const CameraSettingsState& settings = model_.state().cameraSettings;
    const CameraSettingsLook look = cameraSettingsLook(settings);
    const auto setRow = [](ui::PopUpButton* picker, int row) { picker->setCurrentIndex(row); };
    setRow(resolution_, pickerRow(settings.resolution));
    setRow(frameRate_, pickerRow(settings.frameRate));
    setRow(codec_, codecPickerRow(settings.codec));
    setRow(color_, pickerRow(settings.colorProfile));
    setRow(mode_, pickerRow(settings.exposureMode));
    setRow(iso_, pickerRow(settings.iso));
    isoRow_->setVisible(look.showsISO);
    evRow_->setVisible(!look.showsISO);
    evValue_->setText(QString::fromStdString(look.evLabel));
    evDown_->setEnabled(look.canLowerEV);
    evUp_->setEnabled(look.canRaiseEV);
    autoWhiteBalance_->setOn(look.autoWhiteBalance);
    // A kelvin the model went back to (the camera refused the new one) moves
    // the slider too, unless the user holds it.
    if (settings.whiteBalanceKelvin && !kelvinSlider_->isSliderDown()) kelvin_ = loadKelvin(settings);
    {
        const QSignalBlocker quiet(kelvinSlider_);
        kelvinSlider_->setValue(static_cast<int>(std::lround(kelvin_ / kKelvinStep)));
    }
    kelvinValue_->setText(QString::fromStdString(kelvinLabel(kelvin_)));
    kelvinRow_->setVisible(look.showsKelvinSlider);
    scroll_->fitToRoom();
}

}  // namespace lumenhollow
