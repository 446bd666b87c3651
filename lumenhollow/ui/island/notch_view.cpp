#include "lumenhollow/ui/island/notch_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>

#include "lumenhollow/ui/island/island_expanded_view.h"
#include "lumenhollow/ui/island/notch_panel.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/record_pill_state.h"
#include "lumenhollow/ui/kit/window_shape.h"

namespace lumenhollow::ui {
namespace {

// The controller flips `expanded` inside this spring; the outline follows it.
constexpr Spring kIslandSpring{0.42, 0.82};
// The badge's dot runs down and back up in this time.
constexpr auto kIslandPulsePeriod = std::chrono::milliseconds(1600);

}  // namespace

NotchView::NotchView(NotchPanelController& controller, ModelSignals& model, VideoFeed* feed, QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      model_(model),
      expanded_(new IslandExpandedView(controller, model, feed, this)),
      elapsedTicker_(new Ticker(this)) {
    setObjectName(QStringLiteral("NotchView"));
    setFixedSize(NotchSizes::panel);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    expanded_->hide();
    progress_ = IslandProgress::at(controller_.state().expanded);
    connect(&controller_, &NotchPanelController::expandedChanged, this, [this](bool animated) {
        expandedChanged(animated);
    });
    connect(&controller_, &NotchPanelController::geometryChanged, this, [this] { sizeInputsChanged(); });
    if (auto* panel = qobject_cast<NotchPanel*>(parent)) {
        connect(panel, &NotchPanel::windowModeChanged, this, [this] {
            applyMask();
            update();
        });
    }
    model_.onChange({Field::recordingStarted}, this, [this] { updateRecordingTimers(); });
    model_.onChange(IslandCollapsedStrip::kFields, this, [this] { refreshStrip(); });
    // The size follows the content setting and the picture's shape.
    model_.onChange(NotchPanelController::kSizeFields, this, [this] { sizeInputsChanged(); });
    expanded_->setActive(controller_.state().expanded);
    updateRecordingTimers();
    refreshStrip();
    refresh();
}

std::optional<QString> NotchView::elapsedText() const {
    const auto& started = model_.state().recordingStarted;
    if (!started) return std::nullopt;
    const auto elapsed = model_.model().clock().wallNow() - *started;
    return QString::fromStdString(formatElapsed(std::chrono::duration<double>(elapsed).count()));
}

QRectF NotchView::stripRect() const {
    // The strip keeps the collapsed size while the outline grows.
    const QSizeF collapsed(controller_.islandSize(false));
    return QRectF((width() - collapsed.width()) / 2, 0, collapsed.width(), collapsed.height());
}

void NotchView::refreshStrip() {
    elapsed_ = elapsedText();
    const IslandContentInputs in = islandContentInputs(model_.state(), model_.model().previewAspect());
    if (!strip_.set(in, elapsed_)) return;
    // Hidden under the open island, the strip is drawn again as it fades in.
    if (look_.collapsedOpacity > 0) update(stripRect().toAlignedRect());
}

void NotchView::sizeInputsChanged() {
    // Nothing is drawn again when the outline stays as it is.
    refresh();
    placeExpanded();
}

void NotchView::updateRecordingTimers() {
    const bool recording = model_.state().recordingStarted.has_value();
    if (recording && !elapsedTicker_->isRunning()) {
        // The time turns over on the recording's own whole seconds.
        elapsedTicker_->start(
            [this] {
                const auto& started = model_.state().recordingStarted;
                if (!started) return std::chrono::milliseconds(1000);
                const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
                    model_.model().clock().wallNow() - *started);
                const auto into = since.count() >= 0 ? since.count() % 1000 : 0;
                return std::chrono::milliseconds(1000 - into);
            },
            [this] {
                refreshStrip();
                expanded_->setBadge(elapsed_, dotOpacity_);
            });
        dotOpacity_ = 1;
        pulse_ = loop(this, kIslandPulsePeriod, [this](double phase) { pulse(phase); });
    } else if (!recording && elapsedTicker_->isRunning()) {
        elapsedTicker_->stop();
        if (pulse_) pulse_->deleteLater();
        // Shown again, the dot starts from full opacity.
        dotOpacity_ = 1;
    }
    expanded_->setBadge(elapsedText(), dotOpacity_);
}

void NotchView::pulse(double phase) {
    dotOpacity_ = PulsingDot::opacityAt(phase * 2 * PulsingDot::kHalfPeriodSeconds);
    // Only the dot changes: the open island's badge, or the strip's left slot.
    expanded_->setBadge(elapsed_, dotOpacity_);
    if (look_.collapsedOpacity > 0) update(IslandCollapsedStrip::leftSlotRect(stripRect()).toAlignedRect());
}

void NotchView::placeExpanded() {
    const QSize size = controller_.islandSize(true);
    expanded_->move((NotchSizes::panel.width() - size.width()) / 2, 0);
    // The live content shows once it has fully grown in.
    const bool settled = look_.expandedOpacity >= 1 && controller_.state().expanded;
    if (settled != expanded_->isVisible()) expanded_->setVisible(settled);
}

void NotchView::stopAnimations() {
    for (QVariantAnimation* animation : {sizeAnimation_.data(), collapsedAnimation_.data(), expandedAnimation_.data()}) {
        if (animation) animation->stop();
    }
}

void NotchView::expandedChanged(bool animated) {
    stopAnimations();
    const bool expanded = controller_.state().expanded;
    // Brought up to date before its picture is taken for the transition.
    expanded_->setActive(expanded);
    const IslandProgress target = IslandProgress::at(expanded);
    if (!animated || !animationsEnabled()) {
        progress_ = target;
        refresh();
        return;
    }
    const IslandProgress from = progress_;
    // The open content fades and grows as a picture of itself.
    expandedSnapshot_ = expanded_->grab();
    expanded_->hide();
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

bool NotchView::translucent() const {
    // A panel cut to the outline has nowhere to show a shadow.
    const auto* panel = qobject_cast<const NotchPanel*>(window());
    return !panel || panel->windowMode() != IslandWindowMode::mask;
}

void NotchView::refresh() {
    const IslandLook look =
        islandLook(controller_.state().geometry, controller_.islandSize(false), controller_.islandSize(true), progress_);
    if (look == look_ && !outline_.isEmpty()) return;
    look_ = look;
    outline_ = look_.shape.path(look_.island);
    const QSize open = controller_.islandSize(true);
    const bool notch = controller_.state().geometry.hasNotch;
    if (open != openSize_ || notch != openNotch_ || openOutline_.isEmpty()) {
        openSize_ = open;
        openNotch_ = notch;
        openOutline_ = islandShape(notch, true).path(QRectF(QPointF(0, 0), QSizeF(open)));
        // Blurred now, while nothing moves, rather than in the first frame of opening.
        if (translucent()) shadow_.prepare(openOutline_, QSizeF(openSize_), devicePixelRatioF());
    }
    placeExpanded();
    applyMask();
    update();
}

void NotchView::applyMask() {
    auto* panel = qobject_cast<NotchPanel*>(window());
    if (!panel) return;
    if (panel->windowMode() == IslandWindowMode::mask) {
        // Without a compositor the window itself takes the island's outline.
        panel->setMask(windowShapeMask(outline_));
    } else if (!panel->mask().isEmpty()) {
        panel->clearMask();
    }
}

void NotchView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (look_.shadowOpacity > 0.001 && translucent()) {
        // Made again only when the open size or the screen's scale changed.
        shadow_.prepare(openOutline_, QSizeF(openSize_), painter.device()->devicePixelRatioF());
        shadow_.paint(painter, look_.island, look_.shadowOpacity);
    }
    painter.fillPath(outline_, Qt::black);
    painter.setClipPath(outline_);
    if (look_.collapsedOpacity > 0) {
        painter.setOpacity(look_.collapsedOpacity);
        strip_.paint(painter, stripRect(), dotOpacity_);
    }
    if (look_.expandedOpacity > 0 && !expanded_->isVisible() && !expandedSnapshot_.isNull()) {
        painter.setOpacity(look_.expandedOpacity);
        // Grows from 0.96 about the island's top centre while it fades in.
        const QPointF anchor(look_.island.center().x(), look_.island.top());
        painter.translate(anchor);
        painter.scale(look_.expandedScale, look_.expandedScale);
        painter.translate(-look_.island.width() / 2, 0);
        painter.drawPixmap(QPointF(0, 0), expandedSnapshot_);
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
