#pragma once

// CaptureControls: the group in the middle of the bottom area: the photo
// button, the record pill, the screen-recording button and the face-tracking
// control. It keeps no state of its own: it shows the model's published
// state through captureControls() and calls the model's operations. The
// photo button and the tracking toggle wait for a picture (disabled and
// dimmed); the record pill gates itself and the USB-only marker never waits.
// GUI thread only.

#include <QWidget>

#include "lumenhollow/ui/window/capture_controls_state.h"

class QGraphicsOpacityEffect;
class QHBoxLayout;

namespace lumenhollow {

class ModelSignals;

namespace ui {
class IconButton;
class RecordPill;
class UsbOnlyIconButton;
}  // namespace ui

class CaptureControls final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSpacing = 14;
    static constexpr int kButtonSize = 40;

    // `model` must outlive the controls.
    CaptureControls(ModelSignals& model, QWidget* parent);

    // The screen-recording button belongs to the feature panels; given here,
    // it takes its place between the record pill and face tracking.
    void setScreenRecordingButton(QWidget* button);

    ui::IconButton& photoButton() const { return *photo_; }
    ui::RecordPill& recordPill() const { return *record_; }
    ui::IconButton& trackingButton() const { return *tracking_; }
    ui::UsbOnlyIconButton& usbOnlyTrackingButton() const { return *usbOnlyTracking_; }
    const CaptureControlsState& shown() const { return shown_; }

private:
    void refresh();
    void refreshRecordPill();
    void toggleTracking();

    ModelSignals& model_;
    QHBoxLayout* row_;
    ui::IconButton* photo_;
    ui::RecordPill* record_;
    QWidget* screenRecording_ = nullptr;
    ui::IconButton* tracking_;
    ui::UsbOnlyIconButton* usbOnlyTracking_;
    QGraphicsOpacityEffect* photoOpacity_;
    QGraphicsOpacityEffect* trackingOpacity_;
    CaptureControlsState shown_;
};

}  // namespace lumenhollow
