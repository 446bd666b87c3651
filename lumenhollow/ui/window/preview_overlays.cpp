#include "lumenhollow/ui/window/preview_overlays.h"

#include <QWidget>
#include <functional>
#include <memory>

#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/window/camera_off_overlay.h"
#include "lumenhollow/ui/window/connecting_overlay.h"
#include "lumenhollow/ui/window/countdown_overlay.h"
#include "lumenhollow/ui/window/face_box_overlay.h"
#include "lumenhollow/ui/window/guide_overlay.h"
#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {

namespace {

// A model call for a button: does nothing once the model is gone.
std::function<void()> overlayAction(const std::shared_ptr<CameraModel>& model, void (CameraModel::*call)()) {
    return [weak = std::weak_ptr<CameraModel>(model), call] {
        if (const auto strong = weak.lock()) (strong.get()->*call)();
    };
}

}  // namespace

PreviewOverlays::PreviewOverlays(ModelSignals& model, QWidget* pictureLayer, QWidget* preview)
    : QObject(preview),
      model_(model),
      pictureLayer_(pictureLayer),
      preview_(preview),
      guides_(new GuideOverlay(pictureLayer)),
      faceBox_(new FaceBoxOverlay(pictureLayer)),
      cameraOff_(new CameraOffOverlay(overlayAction(model.sharedModel(), &CameraModel::switchToUSB), preview)),
      connecting_(new ConnectingOverlay(overlayAction(model.sharedModel(), &CameraModel::reconnect),
                                        overlayAction(model.sharedModel(), &CameraModel::switchToUSB), preview)),
      countdown_(new CountdownOverlay(preview)) {
    guides_->setObjectName(QStringLiteral("guideOverlay"));
    faceBox_->setObjectName(QStringLiteral("faceBoxOverlay"));
    cameraOff_->setObjectName(QStringLiteral("cameraOffOverlay"));
    connecting_->setObjectName(QStringLiteral("connectingOverlay"));
    countdown_->setObjectName(QStringLiteral("countdownOverlay"));
    // The stack's order, whatever was built before.
    for (QWidget* view : std::initializer_list<QWidget*>{cameraOff_, connecting_, countdown_}) view->raise();

    model_.onChange({Field::guides}, this, [this] { followGuides(); });
    model_.onChange({Field::trackedFace}, this, [this] { followFace(); });
    model_.onChange({Field::cameraOff, Field::stats, Field::statusText, Field::failure, Field::connection}, this,
                    [this] { followStatus(); });
    model_.onChange({Field::countdownRemaining}, this, [this] { followCountdown(); });
    followGuides();
    followFace();
    followStatus();
    followCountdown();
    layout();
}

void PreviewOverlays::layout() {
    const QRect picture(QPoint(0, 0), pictureLayer_->size());
    guides_->setGeometry(picture);
    faceBox_->setGeometry(picture);
    const QRect whole = preview_->rect();
    cameraOff_->setGeometry(whole);
    connecting_->setGeometry(whole);
    QRect centred(QPoint(0, 0), countdown_->size());
    centred.moveCenter(whole.center());
    countdown_->setGeometry(centred);
}

bool PreviewOverlays::coversPreview() const {
    return !cameraOff_->isHidden() || !connecting_->isHidden();
}

void PreviewOverlays::followGuides() { guides_->setGuides(model_.state().guides); }

void PreviewOverlays::followFace() {
    const auto& face = model_.state().trackedFace;
    faceBox_->setFace(face);
    faceBox_->setVisible(face.has_value());
}

void PreviewOverlays::followStatus() {
    const PublishedState& state = model_.state();
    const StatusOverlay shown = statusOverlay(state);
    if (shown == StatusOverlay::cameraOff) cameraOff_->setState(cameraOffOverlay(state));
    if (shown == StatusOverlay::connecting) connecting_->setState(connectingOverlay(state));
    cameraOff_->setVisible(shown == StatusOverlay::cameraOff);
    connecting_->setVisible(shown == StatusOverlay::connecting);
    const double dimming = shown == StatusOverlay::cameraOff    ? CameraOffOverlay::kDimming
                           : shown == StatusOverlay::connecting ? ConnectingOverlay::kDimming
                                                                : 0.0;
    if (dimming != dimming_) {
        dimming_ = dimming;
        Q_EMIT dimmingChanged(dimming_);
    }
}

void PreviewOverlays::followCountdown() {
    const std::optional<int>& remaining = model_.state().countdownRemaining;
    if (remaining) {
        countdown_->setRemaining(*remaining);
    } else {
        countdown_->clear();
    }
    countdown_->setVisible(remaining.has_value());
}

}  // namespace lumenhollow
