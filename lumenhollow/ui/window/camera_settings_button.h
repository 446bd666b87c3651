#pragma once

// CameraSettingsButton: the bottom bar's pill for the camera's own recording
// settings, shown while the active camera takes them (the Wi-Fi route). Its
// title sums up the chosen format. The settings panel it opens is not part of
// this window yet: a click is only announced. GUI thread.

#include <string>

#include "lumenhollow/model/model_types.h"
#include "lumenhollow/ui/kit/pill_menu.h"

namespace lumenhollow {

inline constexpr const char* kCameraSettingsHelp = "Camera settings for microSD recording";

// "Camera" until both the resolution and the frame rate are chosen, then
// their titles: "4K 30 FPS", "2.7K 9:16 60 FPS".
std::string cameraSettingsSummary(const CameraSettingsState& settings);

class CameraSettingsButton final : public ui::PillMenuLabel {
    Q_OBJECT
public:
    explicit CameraSettingsButton(QWidget* parent);
    void setSettings(const CameraSettingsState& settings);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace lumenhollow
