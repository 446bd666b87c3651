#pragma once

// CameraSettingsPanel: the camera settings popover's content, 340 wide: the
// "Video" pickers, the "Exposure" rows and the footer, scrolling where the
// popover's screen is too short for all of them. Every choice goes
// through the model (stored, then sent to the active camera); the panel
// keeps only the white-balance slider's position, loaded when it is built
// (each opening builds a new panel). GUI thread; `model` outlives it.

#include <QWidget>

#include <functional>
#include <optional>

#include "lumenhollow/ui/panels/camera_settings_choices.h"

class QLabel;
class QSlider;

namespace lumenhollow {

class ModelSignals;
namespace ui {
class PopoverScrollArea;
class PopUpButton;
class SwitchButton;
class TextButton;
}

class CameraSettingsPanel final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 340;

    CameraSettingsPanel(ModelSignals& model, QWidget* parent);

    double kelvin() const { return kelvin_; }

private:
    using Chooser = std::function<std::optional<CameraSettingsChange>(const CameraSettingsState&, int row)>;
    ui::PopUpButton* addPicker(QWidget* group, const char* title, const std::vector<std::string>& rows, Chooser choose);
    QWidget* addRow(QWidget* group, const char* title, QWidget* control);
    void apply(const std::optional<CameraSettingsChange>& change);
    void refresh();

    ModelSignals& model_;
    double kelvin_;
    ui::PopUpButton* resolution_ = nullptr;
    ui::PopUpButton* frameRate_ = nullptr;
    ui::PopUpButton* codec_ = nullptr;
    ui::PopUpButton* color_ = nullptr;
    ui::PopUpButton* mode_ = nullptr;
    ui::PopUpButton* iso_ = nullptr;
    QWidget* isoRow_ = nullptr;
    QWidget* evRow_ = nullptr;
    QLabel* evValue_ = nullptr;
    ui::TextButton* evDown_ = nullptr;
    ui::TextButton* evUp_ = nullptr;
    ui::SwitchButton* autoWhiteBalance_ = nullptr;
    QWidget* kelvinRow_ = nullptr;
    QSlider* kelvinSlider_ = nullptr;
    QLabel* kelvinValue_ = nullptr;
    ui::PopoverScrollArea* scroll_ = nullptr;
};

}  // namespace lumenhollow
