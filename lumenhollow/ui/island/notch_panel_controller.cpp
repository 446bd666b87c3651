#include "lumenhollow/ui/island/notch_panel_controller.h"

#include <QGuiApplication>
#include <QPointer>

#include "lumenhollow/ui/island/notch_panel.h"
#include "lumenhollow/ui/island/notch_view.h"
#include "lumenhollow/ui/island/x11/window_panel_input.h"
#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow::ui {

NotchPanelController::NotchPanelController(ModelSignals& model, hollowkit::MainExecutor& main, Platform platform,
                                           QObject* parent)
    : QObject(parent), model_(model), main_(main), screens_(platform.screens), pointer_(platform.pointer) {
    const auto first = chooseNotchGeometry(screens_.screens());
    hasScreen_ = first.has_value();
    state_.geometry = first.value_or(fallbackNotchGeometry());

    panel_ = std::make_unique<NotchPanel>(platform.windowModes ? platform.windowModes->mode() : platform.windowMode);
    if (platform.windowModes) {
        // A compositor that starts or stops while the island runs.
        connect(platform.windowModes, &WindowModeSource::changed, this,
                [this, modes = platform.windowModes] { panel_->setWindowMode(modes->mode()); });
    }
    view_ = new NotchView(*this, model_, platform.feed, panel_.get());
    if (platform.input) {
        input_ = platform.input;
    } else {
        ownInput_ = std::make_unique<WindowPanelInput>(*panel_);
        input_ = ownInput_.get();
    }
    panelFrame_ = notchPanelFrame(state_.geometry);

    connect(&screens_, &ScreenSource::changed, this, [this] { queueReposition(); });
    model_.onChange({Field::showInNotch}, this, [this] { setVisible(model_.state().showInNotch); });
    model_.onChange({Field::notchContent}, this, [this] { updatePreviewActive(); });
    connect(this, &NotchPanelController::expandedChanged, this, [this] {
        updatePreviewActive();
        updateInputArea();
    });
    model_.onChange(kSizeFields, this, [this] { updateInputArea(); });
    connect(&pointer_, &PointerSource::moved, this, [this] { updateHover(); });

    // The current values at once: shown or hidden, the preview flag settled.
    updateInputArea();
    setVisible(model_.state().showInNotch);
    updatePreviewActive();
}

NotchPanelController::~NotchPanelController() {
    pointer_.setWatching(false);
    cancel(pendingExpand_);
    cancel(pendingCollapse_);
    model_.model().notchPreviewActive().set(false);
}

bool NotchPanelController::isShown() const { return panel_->isVisible(); }

QSize NotchPanelController::islandSize(bool expanded) const {
    return notchIslandSize(state_.geometry, model_.state().notchContent, model_.model().previewAspect(), expanded);
}

void NotchPanelController::queueReposition() {
    // A display change arrives as a burst of screen signals: move once.
    if (repositionQueued_) return;
    repositionQueued_ = true;
    main_.post([guard = QPointer<NotchPanelController>(this)] {
        if (!guard) return;
        guard->repositionQueued_ = false;
        guard->reposition();
    });
}

void NotchPanelController::reposition() {
    const auto geometry = chooseNotchGeometry(screens_.screens());
    hasScreen_ = geometry.has_value();
    // Without any screen the last geometry stays and the panel waits hidden.
    if (geometry) {
        state_.geometry = *geometry;
        panelFrame_ = notchPanelFrame(state_.geometry);
        panel_->setGeometry(panelFrame_);
        updateInputArea();
        Q_EMIT geometryChanged();
    }
    applyVisibility();
}

void NotchPanelController::updateInputArea() {
    const QRect hover = islandHoverRect(islandRect()).translated(-panelFrame_.topLeft());
    input_->setIslandArea(hover.intersected(QRect(QPoint(0, 0), panelFrame_.size())));
}

void NotchPanelController::setVisible(bool visible) {
    if (shownSetting_ == visible) return;
    shownSetting_ = visible;
    if (visible) {
        reposition();
        return;
    }
    // A hidden island must not open later by a move made before it was hidden.
    cancel(pendingExpand_);
    cancel(pendingCollapse_);
    if (state_.expanded) {
        state_.expanded = false;
        Q_EMIT expandedChanged(false);
    }
    applyVisibility();
}

void NotchPanelController::applyVisibility() {
    const bool wanted = shownSetting_.value_or(false) && hasScreen_;
    // The pointer matters only to a shown island: hidden, nothing watches it.
    if (wanted == panel_->isVisible()) {
        pointer_.setWatching(wanted);
        return;
    }
    if (wanted) {
        panel_->setGeometry(panelFrame_);
        panel_->show();
        bringForward();
        // A pointer already over the island counts at once.
        pointer_.setWatching(true);
    } else {
        pointer_.setWatching(false);
        cancel(pendingExpand_);
        cancel(pendingCollapse_);
        if (state_.expanded) {
            state_.expanded = false;
            Q_EMIT expandedChanged(false);
        }
        panel_->hide();
    }
}

void NotchPanelController::bringForward() {
    // Without a window manager keeping it on top, a window raised since (the
    // main window) would cover the island: raise it when shown and whenever
    // the pointer arrives. Offscreen test platforms cannot raise.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) panel_->raise();
}

void NotchPanelController::updatePreviewActive() {
    model_.model().notchPreviewActive().set(state_.expanded &&
                                            model_.state().notchContent == NotchContent::preview);
}

void NotchPanelController::updateHover() {
    if (!panel_->isVisible()) return;
    const PointerSample pointer = pointer_.sample();
    // A press that began on the open island (a drag on the preview) keeps it
    // as it is until the button is released.
    if (state_.expanded && pointer.buttonsHeld && !input_->passThrough()) return;
    const bool inside = islandHoverContains(islandRect(), pointer.position);
    if (inside && input_->passThrough()) bringForward();
    input_->setPassThrough(!inside);
    if (inside) {
        cancel(pendingCollapse_);
        if (!state_.expanded && model_.state().notchTrigger == NotchTrigger::hover && pendingExpand_ == 0) {
            schedule(pendingExpand_, kExpandDelay, true);
        }
    } else {
        cancel(pendingExpand_);
        if (state_.expanded && !state_.pinned && pendingCollapse_ == 0) {
            schedule(pendingCollapse_, kCollapseDelay, false);
        }
    }
}

void NotchPanelController::schedule(hollowkit::TaskId& slot, std::chrono::milliseconds delay, bool expand) {
    cancel(slot);
    slot = main_.after(delay, [guard = QPointer<NotchPanelController>(this), expand] {
        if (guard) guard->setExpanded(expand);
    });
}

void NotchPanelController::cancel(hollowkit::TaskId& slot) {
    if (slot != 0) main_.cancel(slot);
    slot = 0;
}

void NotchPanelController::setExpanded(bool expanded) {
    // Emptying a slot also stops its timer, so nothing released fires later.
    cancel(pendingExpand_);
    cancel(pendingCollapse_);
    if (state_.expanded == expanded) return;
    state_.expanded = expanded;
    Q_EMIT expandedChanged(true);
    updateHover();
}

void NotchPanelController::islandTapped() {
    if (model_.state().notchTrigger == NotchTrigger::click || state_.expanded) setExpanded(!state_.expanded);
}

void NotchPanelController::togglePinned() {
    state_.pinned = !state_.pinned;
    Q_EMIT pinnedChanged();
    if (!state_.pinned) updateHover();
}

}  // namespace lumenhollow::ui
