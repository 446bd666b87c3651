#pragma once

// ZoomControl: the zoom pill at the left of the bottom area: minus, the
// model's zoom label, plus. It keeps no state beyond the text it drew; the
// step, its bounds and the label's text are the model's, and both buttons
// take clicks at all times (the model decides what a step does). A click is
// a press and a release on the same button, as with any plain button.
// GUI thread only.

#include <QFont>
#include <QPointF>
#include <QString>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/capture_controls_state.h"

namespace lumenhollow {

class ModelSignals;

class ZoomControl final : public ui::PillBackground {
    Q_OBJECT

public:
    // `model` must outlive the control.
    ZoomControl(ModelSignals& model, QWidget* parent);

    const QString& label() const { return label_; }
    // The minus and plus buttons as the keyboard and a screen reader find
    // them: over their hit boxes, taking no presses of the pointer (the
    // control takes those), pressed by Space or Return.
    QWidget& minusButton() const { return *minusButton_; }
    QWidget& plusButton() const { return *plusButton_; }
    const ZoomPillLayout& layout() const { return layout_; }
    // The buttons' hit boxes, in the control's coordinates.
    QRectF minusRect() const;
    QRectF plusRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void refresh();
    // -1, +1, or 0 for neither button.
    int stepAt(const QPointF& pos) const;

    ModelSignals& model_;
    QFont labelFont_;
    QFont symbolFont_;
    QString minusGlyph_;
    QString plusGlyph_;
    QString label_;
    ZoomPillLayout layout_;
    QPointF labelBaseline_;
    ui::TabularLine labelLine_;  // label_ set once per text
    int pressedStep_ = 0;
    QWidget* minusButton_;
    QWidget* plusButton_;
};

}  // namespace lumenhollow
