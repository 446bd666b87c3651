#pragma once

// ScenesButton: the way into the saved camera angles, as a pill (the top
// bar) or as a 34-pixel circle (the tool rail). Over a camera that cannot be
// positioned it is the USB-only marker instead, whose switch goes to USB or
// asks for the USB guide. A click on the real button toggles the model's
// showScenes; the scenes popover opens below the pill (beside the circle)
// while it is set, and clears it when it closes, also when the button gives
// way to the marker. GUI thread; `model` must outlive the button.

#include <QWidget>

#include <string>

#include "lumenhollow/ui/kit/model_fields.h"

namespace lumenhollow {

class ModelSignals;

namespace ui {
class IconButton;
class PillMenuLabel;
class UsbOnlyMarker;
class Popover;
}  // namespace ui

inline constexpr const char* kScenesSymbol = "rectangle.on.rectangle";
inline constexpr int kScenesCircleSize = 34;

// "Scenes", or "Scenes · 3" once there are scenes.
std::string scenesPillTitle(size_t sceneCount);
// What the button shows follows the scenes and the active camera's traits
// (over Wi-Fi the USB-only marker stands in).
inline constexpr auto kScenesButtonFields = joinFields(FieldList<1>{Field::scenes}, kActiveCameraFields);
// "Save camera angles and jump back with Alt+1–9", in the desktop's key names.
std::string scenesHelp();

class ScenesButton final : public QWidget {
    Q_OBJECT
public:
    ScenesButton(ModelSignals& model, bool iconOnly, QWidget* parent);
    ~ScenesButton() override;
    ui::Popover* popover() const { return popover_; }

    // The control shown now: the button, or the marker over Wi-Fi.
    QWidget* current() const;
    bool showsMarker() const;

Q_SIGNALS:
    void clicked();

private:
    void refresh();
    void follow();

    ModelSignals& model_;
    const bool iconOnly_;
    QWidget* button_;
    ui::UsbOnlyMarker* marker_;
    ui::Popover* popover_ = nullptr;
};

}  // namespace lumenhollow
