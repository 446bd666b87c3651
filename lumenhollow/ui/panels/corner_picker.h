#pragma once

// CornerPicker: a miniature of the screen with a target for each place the
// camera bubble can take; the chosen one is filled with the accent. It shows
// the corner, size and shape it is given and reports a click on a target
// through cornerChosen(); the owner writes the model and sets the style
// back. GUI thread.

#include <QPen>
#include <QWidget>
#include <vector>

#include "lumenhollow/ui/panels/corner_picker_layout.h"

namespace lumenhollow {

class CornerPicker final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCanvasWidth = 132;
    static constexpr int kCanvasHeight = 84;
    static constexpr double kScreenCornerRadius = 9;

    explicit CornerPicker(QWidget* parent);

    void setStyle(hollowkit::BubbleCorner selection, hollowkit::BubbleSize size, hollowkit::BubbleShape shape);
    const std::vector<CornerTarget>& targets() const { return targets_; }
    hollowkit::BubbleShape shape() const { return shape_; }

Q_SIGNALS:
    void cornerChosen(hollowkit::BubbleCorner corner);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    hollowkit::BubbleShape shape_ = hollowkit::BubbleShape::circle;
    std::vector<CornerTarget> targets_;
    QPen screenBorder_;
    QPen dashedBorder_;
};

}  // namespace lumenhollow
