#pragma once

// The status pill of the top bar: the figures of StatusPillState side by
// side on a glass pill, each with its own tooltip. No actions.

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/status_pill_state.h"

namespace lumenhollow::ui {

class StatusPill : public GlassSurface {
    Q_OBJECT
public:
    explicit StatusPill(QWidget* parent);
    void setState(StatusPillState state);
    const StatusPillState& state() const { return state_; }

    QSize sizeHint() const override;
    // The tooltip of the figure under `pos`, empty between figures.
    QString tooltipAt(const QPoint& pos) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::vector<QRectF> figureRects() const;

    StatusPillState state_;
};

}  // namespace lumenhollow::ui
