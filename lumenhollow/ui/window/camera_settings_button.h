#pragma once

// CameraSettingsButton: the bottom bar's pill for the camera's own recording
// settings, shown while the active camera takes them (the Wi-Fi route). Its
// title sums up the chosen format; a click toggles the model's
// showCameraSettings, and the settings popover opens above the pill while
// that flag is set. Closing the popover, however it closes (also by the pill
// being hidden when the route changes), clears the flag. GUI thread; `model`
// must outlive the button.

#include "lumenhollow/model/model_types.h"
#include "lumenhollow/ui/kit/pill_menu.h"

namespace lumenhollow {

class ModelSignals;

namespace ui {
class Popover;
}

inline constexpr const char* kCameraSettingsHelp = "Camera settings for microSD recording";

class CameraSettingsButton final : public ui::PillMenuLabel {
    Q_OBJECT
public:
    CameraSettingsButton(ModelSignals& model, QWidget* parent);
    ~CameraSettingsButton() override;
    void setSettings(const CameraSettingsState& settings);
    ui::Popover* popover() const { return popover_; }

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void follow();

    ModelSignals& model_;
    ui::Popover* popover_;
};

}  // namespace lumenhollow
