#pragma once

// The status pill of the top bar: the figures of StatusPillState side by
// side on a glass pill, each with its own tooltip. No actions. With no
// figure it is an empty capsule of its insets alone, placed and painted.

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/status_pill_state.h"
#include "lumenhollow/ui/kit/typography.h"

#include <QFont>
#include <QString>
#include <vector>

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
    // Fonts, texts and places are worked out when the state changes, so
    // painting allocates nothing.
    void measure();

    StatusPillState state_;
    QFont font_;
    std::vector<TabularLine> texts_;
    std::vector<QRectF> rects_;
    double width_ = statusPillWidth({});  // the empty capsule until figures come
};

}  // namespace lumenhollow::ui
