#include "lumenhollow/ui/window/camera_settings_button.h"

#include <QMouseEvent>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/camera_settings_choices.h"
#include "lumenhollow/ui/panels/camera_settings_panel.h"

namespace lumenhollow {

CameraSettingsButton::CameraSettingsButton(ModelSignals& model, QWidget* parent)
    : ui::PillMenuLabel("camera.aperture", QString::fromStdString(cameraSettingsSummary({})), parent),
      model_(model),
      popover_(new ui::Popover(this, ui::PopoverEdge::above,
                               [&model](QWidget* host) { return new CameraSettingsPanel(model, host); })) {
    ui::setHelp(*this, QString::fromUtf8(kCameraSettingsHelp));
    ui::makePressable(*this, ui::PressRole::menuButton, [this] { Q_EMIT clicked(); },
                      [this] { return popover_->isPresented(); });
    connect(this, &CameraSettingsButton::clicked, this,
            [this] { model_.model().setShowCameraSettings(!model_.state().showCameraSettings); });
    connect(popover_, &ui::Popover::dismissed, this, [this] {
        if (model_.state().showCameraSettings) model_.model().setShowCameraSettings(false);
    });
    model_.onChange({Field::showCameraSettings}, this, [this] { follow(); });
    model_.onChange({Field::cameraSettings}, this, [this] { setSettings(model_.state().cameraSettings); });
    setSettings(model_.state().cameraSettings);
}

CameraSettingsButton::~CameraSettingsButton() {
    // The popover goes with the pill; so does the flag that showed it.
    if (popover_->isPresented() && model_.state().showCameraSettings) model_.model().setShowCameraSettings(false);
}

void CameraSettingsButton::setSettings(const CameraSettingsState& settings) {
    const QString summary = QString::fromStdString(cameraSettingsSummary(settings));
    if (summary != title()) setTitle(summary);
}

void CameraSettingsButton::follow() {
    if (!model_.state().showCameraSettings) {
        popover_->dismiss();
        return;
    }
    popover_->present();
    // A hidden pill cannot show it: the flag must not wait for the pill's return.
    if (!popover_->isPresented()) model_.model().setShowCameraSettings(false);
}

void CameraSettingsButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    Q_EMIT clicked();
}

}  // namespace lumenhollow
