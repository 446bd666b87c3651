#pragma once

// NotchView: the island drawn at the top centre of its 600x460 panel: the
// black outline (merging with the notch where there is one), its shadow
// while open, and the collapsed or expanded content with their own
// transitions. It draws the IslandLook of the moment and decides nothing
// else; a tap on the collapsed island goes to the controller. The collapsed
// strip is painted here; the open content is a child that shows once it has
// grown in (a snapshot of it fades and grows meanwhile). While recording,
// the elapsed time follows the model's clock and the badge's dot pulses.
// It hears only the fields it shows and repaints only what changed: a
// closed island's strip, its outline when its size changes; the open
// content follows the model only while it is open.
// Owned by the panel; GUI thread only.

#include <QImage>
#include <QPixmap>
#include <QPainterPath>
#include <QPointer>
#include <QWidget>

#include <optional>

#include "lumenhollow/ui/island/island_collapsed.h"
#include "lumenhollow/ui/island/island_look.h"
#include "lumenhollow/ui/island/island_shadow.h"

class QVariantAnimation;

namespace lumenhollow {
class ModelSignals;
class VideoFeed;
}  // namespace lumenhollow

namespace lumenhollow::ui {

class IslandExpandedView;
class NotchPanelController;
class Ticker;

class NotchView final : public QWidget {
    Q_OBJECT
public:
    // `feed` (the island's picture) may be none.
    NotchView(NotchPanelController& controller, ModelSignals& model, VideoFeed* feed, QWidget* parent);

    const IslandLook& look() const { return look_; }
    const IslandCollapsedStrip& strip() const { return strip_; }
    IslandExpandedView& expandedView() const { return *expanded_; }
    // The recording's time as shown now, when recording.
    std::optional<QString> elapsedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void expandedChanged(bool animated);
    void refresh();
    bool translucent() const;
    void applyMask();
    void stopAnimations();
    void refreshStrip();
    void sizeInputsChanged();
    void updateRecordingTimers();
    void pulse(double phase);
    void placeExpanded();
    // The collapsed strip's rectangle in this view.
    QRectF stripRect() const;

    NotchPanelController& controller_;
    ModelSignals& model_;
    IslandExpandedView* expanded_;
    IslandCollapsedStrip strip_;
    QPixmap expandedSnapshot_;  // drawn while the open content grows in
    Ticker* elapsedTicker_;
    std::optional<QString> elapsed_;  // the recording's time as shown
    QPointer<QVariantAnimation> pulse_;
    double dotOpacity_ = 1;
    IslandProgress progress_;
    IslandLook look_;
    QPainterPath outline_;
    // The open outline, which the shadow is blurred from once per size.
    QPainterPath openOutline_;
    QSize openSize_;
    bool openNotch_ = false;
    IslandShadowPicture shadow_;
    bool pressedOnIsland_ = false;
    QPointer<QVariantAnimation> sizeAnimation_;
    QPointer<QVariantAnimation> collapsedAnimation_;
    QPointer<QVariantAnimation> expandedAnimation_;
};

}  // namespace lumenhollow::ui
