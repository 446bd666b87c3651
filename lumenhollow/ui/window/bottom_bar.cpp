#include "lumenhollow/ui/window/bottom_bar.h"

#include <QHBoxLayout>

#include <cmath>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/action_button.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "lumenhollow/ui/window/camera_settings_button.h"
#include "lumenhollow/ui/window/look_menu.h"
#include "lumenhollow/ui/menus/menu_commands.h"
#include "lumenhollow/ui/menus/menu_filler.h"
#include "lumenhollow/ui/menus/window_menu_entries.h"
#include "lumenhollow/ui/window/tool_actions.h"

namespace lumenhollow {

namespace {

QString qText(const std::string& text) { return QString::fromStdString(text); }

QHBoxLayout* barRow(QWidget* holder, int sideInset) {
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(sideInset, 0, sideInset, 0);
    row->setSpacing(BottomBar::kSpacing);
    row->setAlignment(Qt::AlignVCenter);
    return row;
}

}  // namespace

BottomBar::BottomBar(ModelSignals& model, ToolActions& actions, QWidget* parent)
    : ui::GlassSurface(ui::GlassShape::roundedRect, parent, kCornerRadius), model_(model) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    CameraModel& camera = model.model();

    // The tool cluster fills the bar; the flexible space sends the menus left
    // and the circles right.
    tools_ = new QWidget(this);
    QHBoxLayout* tools = barRow(tools_, kSideInset);
    guideMenu_ = new ui::PillMenu("grid", QString(), actions.guideMenu(), tools_);
    lookMenu_ = new ui::PillMenu("circle.lefthalf.filled", QString(), actions.lookMenu(), tools_);
    ui::setHelp(*lookMenu_, QString::fromUtf8(kLookMenuHelp));
    fullScreen_ = new ui::IconButton("arrow.up.left.and.arrow.down.right", QString(), kToolSize, tools_);
    ui::attachToAction(*fullScreen_, actions.fullScreen());
    autoFrame_ = new ui::IconButton("crop", QString(), kToolSize, tools_);
    ui::attachToAction(*autoFrame_, actions.autoFrame());
    QAction& switchToUsb = actions.switchToUsb();
    autoFrameMarker_ = new ui::UsbOnlyIconButton("crop", switchToUsb.text(), QString::fromUtf8(kNeedsPositioningReason),
                                                 kToolSize, [&switchToUsb] { switchToUsb.trigger(); }, tools_);
    centre_ = new ui::IconButton("scope", QString(), kToolSize, tools_);
    ui::attachToAction(*centre_, actions.centre());
    flip_ = new ui::IconButton("arrow.uturn.backward.circle", QString(), kToolSize, tools_);
    ui::attachToAction(*flip_, actions.flip());
    tools->addWidget(guideMenu_);
    tools->addWidget(lookMenu_);
    tools->addStretch(1);
    for (QWidget* button : {static_cast<QWidget*>(fullScreen_), static_cast<QWidget*>(autoFrame_),
                            static_cast<QWidget*>(autoFrameMarker_), static_cast<QWidget*>(centre_),
                            static_cast<QWidget*>(flip_)}) {
        tools->addWidget(button);
    }

    // The connection cluster, over the middle of the tool row.
    connection_ = new QWidget(this);
    QHBoxLayout* connection = barRow(connection_, 0);
    connectionMenu_ = new ui::PillMenu("cable.connector", QString(), connection_);
    fillMenuOnShow(
        *connectionMenu_->menu(), [&model] { return connectionMenuEntries(model.state().connection); },
        [&camera](const MenuEntry& entry) { runMenuCommand(camera, entry); });
    formatMenu_ = new ui::PillMenu("film", QString(), connection_);
    fillMenuOnShow(
        *formatMenu_->menu(),
        [&model] { return formatMenuEntries(model.state().formats, model.state().activeFormat); },
        [&camera](const MenuEntry& entry) { runMenuCommand(camera, entry); });
    settingsButton_ = new CameraSettingsButton(model_, connection_);
    connection->addWidget(connectionMenu_);
    connection->addWidget(formatMenu_);
    connection->addWidget(settingsButton_);
    connection_->raise();

    // Unchanged values are not laid out again; a new settings summary may
    // change its pill's width, so the clusters are placed again for it.
    model_.onChange(kBottomBarFields, this, [this] { refresh(); });
    model_.onChange({Field::cameraSettings}, this, [this] { refresh(); });
    refresh();
}

void BottomBar::setCompact(bool compact) {
    if (compact_ == compact) return;
    compact_ = compact;
    refresh();
}

void BottomBar::setRailMode(bool railMode) {
    if (railMode_ == railMode) return;
    railMode_ = railMode;
    refresh();
}

void BottomBar::refresh() {
    const BottomBarState next = bottomBarState(model_.state(), cameraTraits(model_.model()), compact_, railMode_);
    settingsButton_->setSettings(model_.state().cameraSettings);
    if (applied_ && next == state_) {
        // The settings summary alone may have changed its pill's width.
        placeClusters();
        return;
    }
    apply(next);
}

void BottomBar::apply(const BottomBarState& state) {
    state_ = state;
    applied_ = true;
    connectionMenu_->setSymbol(state.connectionSymbol);
    if (connectionMenu_->title() != qText(state.connectionTitle)) connectionMenu_->setTitle(qText(state.connectionTitle));
    formatMenu_->setVisible(!state.showsCameraSettings);
    settingsButton_->setVisible(state.showsCameraSettings);
    if (formatMenu_->title() != qText(state.formatTitle)) formatMenu_->setTitle(qText(state.formatTitle));
    formatMenu_->setEnabled(state.formatEnabled);

    tools_->setVisible(state.showsTools);
    if (guideMenu_->title() != qText(state.guideTitle)) guideMenu_->setTitle(qText(state.guideTitle));
    if (lookMenu_->title() != qText(state.lookTitle)) lookMenu_->setTitle(qText(state.lookTitle));
    autoFrame_->setVisible(!state.autoFrameNeedsUSB);
    autoFrameMarker_->setVisible(state.autoFrameNeedsUSB);
    placeClusters();
}

void BottomBar::resizeEvent(QResizeEvent* event) {
    ui::GlassSurface::resizeEvent(event);
    placeClusters();
}

void BottomBar::placeClusters() {
    tools_->setGeometry(rect());
    // The layout's hint is current only once it has been activated.
    connection_->layout()->activate();
    const QSize cluster = connection_->sizeHint();
    // Over the middle of the tool row, unless that would cover a menu or a
    // circle of a narrow bar. Measured from the sizes, which hold before the
    // row has been laid out.
    double leftEnd = kSideInset - kSpacing;
    double rightStart = width() - kSideInset + kSpacing;
    if (!tools_->isHidden()) {
        int circles = 0;
        for (const QWidget* circle : {static_cast<QWidget*>(fullScreen_), static_cast<QWidget*>(autoFrame_),
                                      static_cast<QWidget*>(autoFrameMarker_), static_cast<QWidget*>(centre_),
                                      static_cast<QWidget*>(flip_)}) {
            if (!circle->isHidden()) circles += (circles > 0 ? kSpacing : 0) + circle->width();
        }
        rightStart = width() - kSideInset - circles;
        // A look's name may be long: the pill takes what the row leaves it,
        // so the cluster never has to lie over a circle.
        lookMenu_->setWidthLimit(static_cast<int>(rightStart) - kSideInset - guideMenu_->width() - cluster.width() -
                                 3 * kSpacing);
        leftEnd = kSideInset + guideMenu_->width() + kSpacing + lookMenu_->width();
    }
    const double left = connectionClusterLeft(width(), cluster.width(), leftEnd, rightStart, kSpacing);
    // Whole pixels down, as the centre always was.
    connection_->setGeometry(static_cast<int>(std::floor(left)), (height() - cluster.height()) / 2, cluster.width(),
                             cluster.height());
}

}  // namespace lumenhollow
