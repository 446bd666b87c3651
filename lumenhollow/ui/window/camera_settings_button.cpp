#include "lumenhollow/ui/window/camera_settings_button.h"

#include <QMouseEvent>

#include "hollowkit/camera/camera_setting.h"

namespace lumenhollow {

std::string cameraSettingsSummary(const CameraSettingsState& settings) {
    if (!settings.resolution || !settings.frameRate) return "Camera";
    return std::string(hollowkit::title(*settings.resolution)) + " " + std::string(hollowkit::title(*settings.frameRate));
}

CameraSettingsButton::CameraSettingsButton(QWidget* parent)
    : ui::PillMenuLabel("camera.aperture", QString::fromStdString(cameraSettingsSummary({})), parent) {
    setToolTip(QString::fromUtf8(kCameraSettingsHelp));
}

void CameraSettingsButton::setSettings(const CameraSettingsState& settings) {
    const QString summary = QString::fromStdString(cameraSettingsSummary(settings));
    if (summary != title()) setTitle(summary);
}

void CameraSettingsButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    Q_EMIT clicked();
}

}  // namespace lumenhollow
