#pragma once

// ScreenRecordingButton: the round button in the capture controls that
// shows whether "Record Screen Too" is on and opens the screen-recording
// panel. Each press reads the displays again, so the panel's Display menu
// knows monitors plugged in since. Waits (disabled) while the model is busy
// recording, starting a take or composing one. GUI thread.

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/panels/screen_recording_state.h"

class QGraphicsOpacityEffect;

namespace lumenhollow {

class ModelSignals;

class ScreenRecordingButton final : public ui::IconButton {
    Q_OBJECT
public:
    static constexpr int kSize = 40;

    // `model` must outlive the button.
    ScreenRecordingButton(ModelSignals& model, QWidget* parent);

    const ScreenRecordingButtonState& shown() const { return shown_; }
    double opacity() const;

private:
    void refresh();
    void press();

    ModelSignals& model_;
    QGraphicsOpacityEffect* opacity_;
    ScreenRecordingButtonState shown_;
};

}  // namespace lumenhollow
