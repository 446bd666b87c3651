#include "lumenhollow/ui/window/tool_rail.h"

#include <QVBoxLayout>

#include "lumenhollow/ui/kit/accessible_help.h"
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

ToolRail::ToolRail(ModelSignals& model, int size, QWidget* parent)
    : ui::GlassSurface(ui::GlassShape::capsule, parent), model_(model) {
    CameraModel& camera = model.model();
    guideMenu_ = new RailMenu("grid", QString::fromUtf8(kGuidesRailHelp), this);
    bindGuideMenu(*guideMenu_->menu(), model);
    lookMenu_ = new RailMenu("circle.lefthalf.filled", QString(), this);
    bindLookMenu(*lookMenu_->menu(), model);
    autoFrame_ = new ui::IconButton("crop", railText(autoFrameHelp()), size, this);
    autoFrameMarker_ =
        new ui::UsbOnlyIconButton("crop", QStringLiteral("Auto frame"), QString::fromUtf8(kNeedsPositioningReason),
                                  size, [&camera] { camera.switchToUSB(); }, this);
    centre_ = new ui::IconButton("scope", railText(recenterHelp()), size, this);
    flip_ = new ui::IconButton("arrow.uturn.backward.circle", railText(flipHelp()), size, this);
    scenes_ = new ScenesButton(model, true, this);
    outputFolder_ = new ui::IconButton("folder", railText(outputFolderHelp()), size, this);
    fullScreen_ = new ui::IconButton("arrow.up.left.and.arrow.down.right", railText(fullScreenHelp()), size, this);

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

    connect(autoFrame_, &QAbstractButton::clicked, this, [&camera] { camera.autoFrame(); });
    connect(centre_, &QAbstractButton::clicked, this, [&camera] { camera.centerGimbal(); });
    connect(flip_, &QAbstractButton::clicked, this, [&camera] { camera.flipGimbal(); });
    connect(outputFolder_, &QAbstractButton::clicked, this, [&camera] { camera.openOutputFolder(); });
    connect(fullScreen_, &QAbstractButton::clicked, this, [this] { toggleFullScreen(this); });

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
