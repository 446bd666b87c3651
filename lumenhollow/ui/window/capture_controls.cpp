#include "lumenhollow/ui/window/capture_controls.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/record_pill.h"
#include "lumenhollow/ui/kit/shortcuts.h"
#include "lumenhollow/ui/kit/usb_only.h"

namespace lumenhollow {

namespace {

constexpr const char* kTrackingSymbol = "person.fill.viewfinder";
constexpr const char* kTrackingTitle = "Face tracking";
constexpr const char* kTrackingUsbReason =
    "Over Wi-Fi Lumenhollow cannot steer the gimbal to an exact angle yet, so this would drift. Connect the "
    "camera with USB-C and choose Webcam to use it.";

QString captureHelp(const char* text, const QKeySequence& sequence) {
    return QString::fromStdString(ui::withShortcut(text, sequence));
}

QGraphicsOpacityEffect* opacityOf(QWidget* widget) {
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(1.0);
    widget->setGraphicsEffect(effect);
    return effect;
}

}  // namespace

CaptureControls::CaptureControls(ModelSignals& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      row_(new QHBoxLayout(this)),
      photo_(new ui::IconButton("camera", captureHelp("Take a photo", ui::photoShortcut()), kButtonSize, this)),
      record_(new ui::RecordPill([&model] { return model.model().clock().wallNow(); }, this)),
      tracking_(new ui::IconButton(kTrackingSymbol, captureHelp(kTrackingTitle, ui::faceTrackingShortcut()),
                                   kButtonSize, this)),
      usbOnlyTracking_(new ui::UsbOnlyIconButton(
          kTrackingSymbol, QString::fromUtf8(kTrackingTitle), QString::fromUtf8(kTrackingUsbReason), kButtonSize,
          [&model] { model.model().switchToUSB(); }, this)),
      photoOpacity_(opacityOf(photo_)),
      trackingOpacity_(opacityOf(tracking_)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(kSpacing);
    for (QWidget* item : std::initializer_list<QWidget*>{photo_, record_, tracking_, usbOnlyTracking_}) {
        row_->addWidget(item, 0, Qt::AlignVCenter);
    }

    connect(photo_, &QAbstractButton::clicked, this, [this] { model_.model().takePhoto(); });
    connect(record_, &QAbstractButton::clicked, this, [this] { model_.model().toggleRecording(); });
    connect(tracking_, &QAbstractButton::clicked, this, [this] { toggleTracking(); });

    // The active camera is replaced without a field of its own; a new one
    // makes itself known through its connection, status and statistics.
    model_.onChange({Field::stats, Field::faceTracking, Field::connection, Field::statusText}, this,
                    [this] { refresh(); });
    model_.onChange({Field::stats, Field::composeProgress, Field::isStartingScreen, Field::recordingStarted,
                     Field::countdownRemaining, Field::recordScreen, Field::recordTarget, Field::connection,
                     Field::statusText},
                    this, [this] { refreshRecordPill(); });
    refresh();
    refreshRecordPill();
}

void CaptureControls::setScreenRecordingButton(QWidget* button) {
    if (screenRecording_) {
        row_->removeWidget(screenRecording_);
        screenRecording_->deleteLater();
    }
    screenRecording_ = button;
    if (!button) return;
    button->setParent(this);
    row_->insertWidget(row_->indexOf(record_) + 1, button, 0, Qt::AlignVCenter);
    button->show();
}

void CaptureControls::refresh() {
    shown_ = captureControls(model_.state(), model_.model().camera().supportsPositioning());
    photo_->setEnabled(shown_.photo.enabled);
    photoOpacity_->setOpacity(shown_.photo.opacity);
    const bool toggle = shown_.tracking == TrackingControl::toggle;
    tracking_->setVisible(toggle);
    usbOnlyTracking_->setVisible(!toggle);
    tracking_->setEnabled(shown_.trackingToggle.enabled);
    trackingOpacity_->setOpacity(shown_.trackingToggle.opacity);
    tracking_->setActive(shown_.trackingActive);
}

void CaptureControls::refreshRecordPill() {
    record_->setInputs(ui::recordPillInputs(model_.state(), model_.model().camera().supportsCardRecording()));
}

void CaptureControls::toggleTracking() {
    // Starting may refuse with a notice; the button follows faceTracking either way.
    CameraModel& model = model_.model();
    if (model.state().faceTracking) {
        model.stopFaceTracking();
    } else {
        model.startFaceTracking();
    }
}

}  // namespace lumenhollow
