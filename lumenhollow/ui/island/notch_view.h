#pragma once

// NotchView: the island drawn at the top centre of its 600x460 panel: the
// black outline (merging with the notch where there is one), its shadow
// while open, and the collapsed or expanded content with their own
// transitions. It draws the IslandLook of the moment and decides nothing
// else; a tap on the collapsed island goes to the controller. Until the
// island's content exists, each content is a plain placeholder.
// Owned by the panel; GUI thread only.

#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QWidget>

#include "lumenhollow/ui/island/island_look.h"

class QVariantAnimation;

namespace lumenhollow {
class ModelSignals;
}

namespace lumenhollow::ui {

class NotchPanelController;

class NotchView final : public QWidget {
    Q_OBJECT
public:
    NotchView(NotchPanelController& controller, ModelSignals& model, QWidget* parent);

    const IslandLook& look() const { return look_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void expandedChanged(bool animated);
    void refresh();
    void rebuildShadow();
    void stopAnimations();

    NotchPanelController& controller_;
    IslandProgress progress_;
    IslandLook look_;
    QPainterPath outline_;
    QPainterPath placeholder_;
    QImage shadow_;  // panel-sized, redrawn when the look changes
    bool drawShadow_ = false;
    bool pressedOnIsland_ = false;
    QPointer<QVariantAnimation> sizeAnimation_;
    QPointer<QVariantAnimation> collapsedAnimation_;
    QPointer<QVariantAnimation> expandedAnimation_;
};

}  // namespace lumenhollow::ui
