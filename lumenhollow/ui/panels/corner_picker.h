#pragma once

// CornerPicker: a miniature of the screen with a target for each place the
// camera bubble can take; the chosen one is filled with the accent. It shows
// the corner, size and shape it is given and reports a click on a target
// through cornerChosen(); the owner writes the model and sets the style
// back. A new choice on the same targets moves there with a short spring
// (the kit's motion, so it is instant with animations off). The picker is
// one accessible group, "Camera position"; each target is a button of its
// own, named by its title, reached with Tab and pressed with Space or a
// click on its shape. GUI thread.

#include <QPen>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>
#include <vector>

#include "lumenhollow/ui/panels/corner_picker_layout.h"

class QAbstractButton;

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
    // How far each target is drawn as the chosen one, 0...1, at this moment
    // of the move (in the order of targets()).
    double emphasis(size_t target) const;
    // The move under way, or nullptr when the picker is at rest.
    QVariantAnimation* motion() const { return motion_; }
    // The targets' buttons, in the order of targets() (and of Tab).
    const std::vector<QAbstractButton*>& targetButtons() const { return buttons_; }

Q_SIGNALS:
    void cornerChosen(hollowkit::BubbleCorner corner);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // One button per target, placed over it, told its title.
    void syncButtons();

    hollowkit::BubbleShape shape_ = hollowkit::BubbleShape::circle;
    std::vector<CornerTarget> targets_;
    std::vector<double> from_;  // emphasis of each target when the move began
    double progress_ = 1;       // of the move, 0 → 1
    QPointer<QVariantAnimation> motion_;
    QPen screenBorder_;
    QPen dashedBorder_;
    std::vector<QAbstractButton*> buttons_;
};

}  // namespace lumenhollow
