#pragma once

// JoystickPad: the round on-screen joystick at the right of the bottom area.
// Dragging the knob sets a gimbal speed by its deflection and letting go
// springs it back and stops the gimbal; the four arrows are hold buttons
// that share the model's held directions with the arrow keys. The pad keeps
// only the knob's offset: held directions and speeds are the model's.
//
// A gesture that ends without its release (the pad hidden or disabled, the
// window deactivated, a menu or dialog opening and taking the pointer) ends
// as if released, so no speed is left running. GUI thread only.

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/ui/window/joystick_pad_state.h"

class QVariantAnimation;

namespace lumenhollow {

class ModelSignals;

class JoystickPad final : public QWidget {
    Q_OBJECT

public:
    // The main window's pad.
    static constexpr int kDiameter = 96;
    static constexpr int kKnob = 30;

    // `model` must outlive the pad; its input goes to the model held weakly.
    JoystickPad(ModelSignals& model, QWidget* parent, int diameter = kDiameter, int knob = kKnob);
    ~JoystickPad() override;

    const PadMetrics& metrics() const { return metrics_; }
    // The knob's displacement from the centre, in points.
    PadPoint knobOffset() const { return knobOffset_; }
    bool isKnobDragging() const { return gesture_ == Gesture::knob && knobDragging_; }
    // The arrow the pointer holds, if any.
    std::optional<GimbalDirection> heldArrow() const;
    // The centre of `direction`'s arrow, in the pad's coordinates.
    QPointF arrowCentre(GimbalDirection direction) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Gesture { none, knob, arrow };

    void beginGesture(Gesture gesture);
    // The release: the knob springs back (at once when `animated` is false)
    // and stops the gimbal; an arrow lets go of its direction.
    void endGesture(bool animated);
    void setKnobOffset(PadPoint offset);
    void stopSpring();
    PadPoint fromCentre(const QPointF& pos) const;
    void renderLayers(qreal devicePixelRatio);

    PreviewInput input_;
    const PadMetrics metrics_;
    Gesture gesture_ = Gesture::none;
    GimbalDirection arrow_ = GimbalDirection::up;
    QPointF pressedAt_;
    bool knobDragging_ = false;
    PadPoint knobOffset_;
    QPointer<QVariantAnimation> spring_;
    // Drawn once per pixel ratio: the arrows, and the knob with its shadow.
    QPixmap arrowsLayer_;
    QPixmap knobLayer_;
    qreal layersRatio_ = 0;
    ui::GlassLook glass_;
};

}  // namespace lumenhollow
