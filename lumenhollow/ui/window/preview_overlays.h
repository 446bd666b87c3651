#pragma once

// PreviewOverlays: places the views drawn over the live picture and routes
// the model to them. Back to front: the guides and the face box on the
// picture's rectangle (inside the window's picture layer), then the
// camera-off or the connecting panel over the whole preview, then the
// countdown centred in it. The window keeps its chrome above all of these.
// The panels' buttons run the model's "Use USB" and "Reconnect", holding the
// model weakly. Owned by the main window; GUI thread only.

#include <QObject>
#include <QRect>

namespace lumenhollow {

class CameraOffOverlay;
class ConnectingOverlay;
class CountdownOverlay;
class FaceBoxOverlay;
class GuideOverlay;
class ModelSignals;

class PreviewOverlays final : public QObject {
    Q_OBJECT

public:
    // `pictureLayer` covers the picture's rectangle and passes the mouse
    // through; `preview` is the whole preview (the video surface). The views
    // become their children, in the order above.
    PreviewOverlays(ModelSignals& model, QWidget* pictureLayer, QWidget* preview);

    // After the preview or the picture moved (`pictureLayer`'s own geometry
    // is the window's to set).
    void layout();
    // A panel lies over the whole preview and takes its input.
    bool coversPreview() const;
    // How much the panel shown darkens the whole preview (0 with none).
    double dimming() const { return dimming_; }

    GuideOverlay& guides() const { return *guides_; }
    FaceBoxOverlay& faceBox() const { return *faceBox_; }
    CameraOffOverlay& cameraOff() const { return *cameraOff_; }
    ConnectingOverlay& connecting() const { return *connecting_; }
    CountdownOverlay& countdown() const { return *countdown_; }

Q_SIGNALS:
    // The darkening over the whole preview changed: the glass blurs it too.
    void dimmingChanged(double opacity);

private:
    void followGuides();
    void followFace();
    void followStatus();
    void followCountdown();

    ModelSignals& model_;
    QWidget* pictureLayer_;
    QWidget* preview_;
    GuideOverlay* guides_;
    FaceBoxOverlay* faceBox_;
    CameraOffOverlay* cameraOff_;
    ConnectingOverlay* connecting_;
    CountdownOverlay* countdown_;
    double dimming_ = 0;
};

}  // namespace lumenhollow
