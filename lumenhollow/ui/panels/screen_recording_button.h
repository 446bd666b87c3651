#pragma once

// ScreenRecordingButton: the round button in the capture controls that
// shows whether "Record Screen Too" is on and opens the screen-recording
// panel. Each press reads the displays again, so the panel's Display menu
// knows monitors plugged in since. Waits (disabled) while the model is busy
// recording, starting a take or composing one. The panel opens in a
// popover above the button while the model's showScreenOptions is set;
// closing the popover, however it closes, clears the flag. GUI thread.

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/panels/screen_recording_state.h"

class QGraphicsOpacityEffect;

namespace lumenhollow {

class ModelSignals;

namespace ui {
class Popover;
}

class ScreenRecordingButton final : public ui::IconButton {
    Q_OBJECT
public:
    static constexpr int kSize = 40;

    // `model` must outlive the button.
    ScreenRecordingButton(ModelSignals& model, QWidget* parent);
    ~ScreenRecordingButton() override;

    const ScreenRecordingButtonState& shown() const { return shown_; }
    double opacity() const;
    ui::Popover* popover() const { return popover_; }

private:
    void refresh();
    void press();
    void follow();

    ModelSignals& model_;
    QGraphicsOpacityEffect* opacity_;
    ui::Popover* popover_;
    ScreenRecordingButtonState shown_;
};

}  // namespace lumenhollow
