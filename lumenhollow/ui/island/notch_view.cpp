#include "lumenhollow/ui/island/notch_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>

#include "lumenhollow/ui/island/notch_panel.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/motion.h"

namespace lumenhollow::ui {
namespace {

// The controller flips `expanded` inside this spring; the outline follows it.
constexpr Spring kIslandSpring{0.42, 0.82};
// The shadow's blur drawn as this many widening strokes.
constexpr int kIslandShadowLayers = 9;
const QColor kIslandPlaceholderFill(0x14, 0x14, 0x14);
const QColor kIslandPlaceholderDot(0x8e, 0x8e, 0x93);

}  // namespace

NotchView::NotchView(NotchPanelController& controller, ModelSignals& model, QWidget* parent)
    : QWidget(parent), controller_(controller), shadow_(NotchSizes::panel, QImage::Format_ARGB32_Premultiplied) {
    setObjectName(QStringLiteral("NotchView"));
    setFixedSize(NotchSizes::panel);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    progress_ = IslandProgress::at(controller_.state().expanded);
    connect(&controller_, &NotchPanelController::expandedChanged, this, [this](bool animated) {
        expandedChanged(animated);
    });
    connect(&controller_, &NotchPanelController::geometryChanged, this, [this] { refresh(); });
    // The size follows the content setting and the picture's shape.
    connect(&model, &ModelSignals::changed, this, [this] { refresh(); });
    refresh();
}

void NotchView::stopAnimations() {
    for (QVariantAnimation* animation : {sizeAnimation_.data(), collapsedAnimation_.data(), expandedAnimation_.data()}) {
        if (animation) animation->stop();
    }
}

void NotchView::expandedChanged(bool animated) {
    stopAnimations();
    const bool expanded = controller_.state().expanded;
    const IslandProgress target = IslandProgress::at(expanded);
    if (!animated || !animationsEnabled()) {
        progress_ = target;
        refresh();
        return;
    }
    const IslandProgress from = progress_;
    sizeAnimation_ = animate(this, kIslandSpring, [this, from, target](double p) {
        progress_.size = from.size + (target.size - from.size) * p;
        refresh();
    });
    collapsedAnimation_ = animate(this, Ease{Ease::Kind::out, IslandContentTiming::collapsedFade},
                                  [this, from, target](double p) {
                                      progress_.collapsedContent =
                                          from.collapsedContent + (target.collapsedContent - from.collapsedContent) * p;
                                      refresh();
                                  });
    constexpr double kRevealSeconds = IslandContentTiming::expandedDelay + IslandContentTiming::expandedFade;
    expandedAnimation_ = animate(this, Ease{Ease::Kind::linear, kRevealSeconds}, [this, from, target](double p) {
        const double reveal = expandedRevealAt(p * kRevealSeconds);
        progress_.expandedContent = from.expandedContent + (target.expandedContent - from.expandedContent) * reveal;
        refresh();
    });
}

void NotchView::refresh() {
    const IslandLook look =
        islandLook(controller_.state().geometry, controller_.islandSize(false), controller_.islandSize(true), progress_);
    if (look == look_ && !outline_.isEmpty()) return;
    look_ = look;
    outline_ = look_.shape.path(look_.island);
    // Placeholder content: the area the expanded content will fill.
    const int band = controller_.state().geometry.hasNotch ? controller_.state().geometry.notchHeight
                                                           : NotchSizes::topBandWithoutNotch;
    placeholder_ = QPainterPath();
    const QRectF expandedIsland(QPointF(0, 0), QSizeF(controller_.islandSize(true)));
    const QRectF area = expandedIsland.adjusted(16, band + 10, -16, -14);
    if (area.isValid()) placeholder_.addRoundedRect(area, 16, 16);
    rebuildShadow();
    auto* panel = qobject_cast<NotchPanel*>(window());
    if (panel && panel->windowMode() == IslandWindowMode::mask) {
        // Without a compositor the window itself takes the island's outline.
        panel->setMask(QRegion(outline_.toFillPolygon().toPolygon()));
    }
    update();
}

void NotchView::rebuildShadow() {
    drawShadow_ = look_.shadowOpacity > 0.001;
    if (!drawShadow_) return;
    shadow_.fill(Qt::transparent);
    QPainter painter(&shadow_);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath offset = outline_.translated(0, IslandShadow::offsetY);
    // Widening strokes, each faint, add up to a soft edge that fades over the radius.
    const double step = IslandShadow::radius / kIslandShadowLayers;
    const double alpha = look_.shadowOpacity / kIslandShadowLayers;
    painter.fillPath(offset, QColor(0, 0, 0, static_cast<int>(look_.shadowOpacity * 255)));
    for (int i = 1; i <= kIslandShadowLayers; ++i) {
        painter.strokePath(offset, QPen(QColor(0, 0, 0, static_cast<int>(alpha * 255)), 2 * step * i));
    }
}

void NotchView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (drawShadow_) painter.drawImage(0, 0, shadow_);
    painter.fillPath(outline_, Qt::black);
    painter.setClipPath(outline_);
    if (look_.collapsedOpacity > 0) {
        painter.setOpacity(look_.collapsedOpacity);
        const QRectF& island = look_.island;
        painter.setPen(Qt::NoPen);
        painter.setBrush(kIslandPlaceholderDot);
        painter.drawEllipse(QPointF(island.left() + 5 + 10, island.center().y()), 3, 3);
    }
    if (look_.expandedOpacity > 0) {
        painter.setOpacity(look_.expandedOpacity);
        // Grows from 0.96 about the island's top centre while it fades in.
        const QPointF anchor(look_.island.center().x(), look_.island.top());
        painter.translate(anchor);
        painter.scale(look_.expandedScale, look_.expandedScale);
        painter.translate(-look_.island.width() / 2, 0);
        painter.fillPath(placeholder_, kIslandPlaceholderFill);
    }
}

void NotchView::mousePressEvent(QMouseEvent* event) {
    pressedOnIsland_ = event->button() == Qt::LeftButton && look_.island.contains(event->position());
    event->accept();
}

void NotchView::mouseReleaseEvent(QMouseEvent* event) {
    const bool tap = pressedOnIsland_ && event->button() == Qt::LeftButton && look_.island.contains(event->position());
    pressedOnIsland_ = false;
    // The open island's controls take their own clicks; a tap elsewhere on it does nothing.
    if (tap && !controller_.state().expanded) controller_.islandTapped();
    event->accept();
}

}  // namespace lumenhollow::ui
