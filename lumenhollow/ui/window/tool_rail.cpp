#include "lumenhollow/ui/window/tool_rail.h"

#include <QVBoxLayout>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/action_button.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "lumenhollow/ui/window/look_menu.h"
#include "lumenhollow/ui/window/rail_menu.h"
#include "lumenhollow/ui/window/scenes_button.h"
#include "lumenhollow/ui/window/tool_actions.h"

namespace lumenhollow {

namespace {

QString railText(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

ToolRail::ToolRail(ModelSignals& model, ToolActions& actions, int size, QWidget* parent)
    : ui::GlassSurface(ui::GlassShape::capsule, parent), model_(model) {
    guideMenu_ = new RailMenu("grid", QString::fromUtf8(kGuidesRailHelp), actions.guideMenu(), this);
    lookMenu_ = new RailMenu("circle.lefthalf.filled", QString(), actions.lookMenu(), this);
    autoFrame_ = new ui::IconButton("crop", QString(), size, this);
    ui::attachToAction(*autoFrame_, actions.autoFrame());
    QAction& switchToUsb = actions.switchToUsb();
    autoFrameMarker_ = new ui::UsbOnlyIconButton("crop", switchToUsb.text(), QString::fromUtf8(kNeedsPositioningReason),
                                                 size, [&switchToUsb] { switchToUsb.trigger(); }, this);
    centre_ = new ui::IconButton("scope", QString(), size, this);
    ui::attachToAction(*centre_, actions.centre());
    flip_ = new ui::IconButton("arrow.uturn.backward.circle", QString(), size, this);
    ui::attachToAction(*flip_, actions.flip());
    scenes_ = new ScenesButton(model, true, this);
    outputFolder_ = new ui::IconButton("folder", QString(), size, this);
    ui::attachToAction(*outputFolder_, actions.outputFolder());
    fullScreen_ = new ui::IconButton("arrow.up.left.and.arrow.down.right", QString(), size, this);
    ui::attachToAction(*fullScreen_, actions.fullScreen());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kInset, kInset, kInset, kInset);
    column->setSpacing(kSpacing);
    for (QWidget* item : {static_cast<QWidget*>(guideMenu_), static_cast<QWidget*>(lookMenu_),
                          static_cast<QWidget*>(autoFrame_), static_cast<QWidget*>(autoFrameMarker_),
                          static_cast<QWidget*>(centre_), static_cast<QWidget*>(flip_),
                          static_cast<QWidget*>(scenes_), static_cast<QWidget*>(outputFolder_),
                          static_cast<QWidget*>(fullScreen_)}) {
        column->addWidget(item, 0, Qt::AlignHCenter);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);


    model_.onChange(kToolRailFields, this, [this] { refresh(); });
    refresh();
}

void ToolRail::refresh() {
    const ToolRailState next = toolRailState(model_.state(), cameraTraits(model_.model()));
    if (applied_ && next == state_) return;
    apply(next);
}

void ToolRail::apply(const ToolRailState& state) {
    state_ = state;
    applied_ = true;
    guideMenu_->setActive(state.guidesActive);
    lookMenu_->setActive(state.lookActive);
    ui::setHelp(*lookMenu_, railText(state.lookHelp));
    autoFrame_->setVisible(!state.autoFrameNeedsUSB);
    autoFrameMarker_->setVisible(state.autoFrameNeedsUSB);
    adjustSize();
}

}  // namespace lumenhollow
