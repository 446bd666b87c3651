#include "lumenhollow/ui/island/island_expanded_view.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

#include "lumenhollow/ui/island/island_button.h"
#include "lumenhollow/ui/island/island_preview.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/island/record_button.h"
#include "lumenhollow/ui/island/zoom_stepper.h"
#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/island/island_glyphs.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {
namespace {

constexpr double kHeaderDot = 6;
constexpr double kHeaderDotGap = 6;
constexpr double kHeaderGlyphGap = 8;
constexpr double kHeaderSymbolPx = 11;
const QColor kHeaderOrange(0xff, 0x9f, 0x0a);

// The slot of a plain button among buttons_.
int buttonSlot(IslandControl kind) {
    switch (kind) {
        case IslandControl::photo: return 0;
        case IslandControl::tracking: return 1;
        case IslandControl::frame: return 2;
        case IslandControl::centre: return 3;
        case IslandControl::zoomIn: return 4;
        case IslandControl::zoomOut: return 5;
        case IslandControl::pin: return 6;
        case IslandControl::mainWindow: return 7;
        default: return -1;
    }
}

constexpr std::array<IslandControl, 8> kPlainButtons = {
    IslandControl::photo,  IslandControl::tracking, IslandControl::frame, IslandControl::centre,
    IslandControl::zoomIn, IslandControl::zoomOut,  IslandControl::pin,   IslandControl::mainWindow,
};

}  // namespace

IslandExpandedView::IslandExpandedView(NotchPanelController& controller, ModelSignals& model, VideoFeed* feed,
                                       QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      model_(model),
      preview_(new IslandPreview(feed, model.sharedModel(), this)),
      record_(new RecordButton(this)),
      stepper_(new ZoomStepper(this)),
      titleFont_(uiFont(12, QFont::DemiBold)) {
    setObjectName(QStringLiteral("IslandExpandedView"));
    setAttribute(Qt::WA_AlwaysShowToolTips);
    connect(record_, &QAbstractButton::clicked, this, [this] { act(IslandControl::record, 0); });
    for (IslandControl kind : kPlainButtons) buttons_[buttonSlot(kind)] = makeButton(kind, this);
    for (int i = 0; i < static_cast<int>(chips_.size()); ++i) {
        IslandButton::Face face;
        face.text = QString::number(i + 1);
        face.size = QSize(30, 30);
        chips_[i] = new IslandButton(face, this);
        connect(chips_[i], &QAbstractButton::clicked, this, [this, i] { act(IslandControl::sceneChip, i); });
    }
    connect(stepper_, &ZoomStepper::stepped, this, [this](int steps) { model_.model().zoomStep(steps); });
    connect(preview_, &IslandPreview::reconnectClicked, this, [this] { reconnect(); });
    model_.onChange(kFields, this, [this] {
        if (active_) refresh();
    });
    // Up to 15 times a second while tracking: the box alone.
    model_.onChange({Field::trackedFace}, this, [this] {
        if (active_) followFace();
    });
    for (auto change : {&NotchPanelController::pinnedChanged, &NotchPanelController::geometryChanged}) {
        connect(&controller_, change, this, [this] {
            if (active_) refresh();
        });
    }
}

void IslandExpandedView::setActive(bool active) {
    if (active == active_) return;
    active_ = active;
    if (active_) refresh();
}

IslandButton* IslandExpandedView::makeButton(IslandControl kind, QWidget* parent) {
    auto* button = new IslandButton(IslandButton::Face{}, parent);
    connect(button, &QAbstractButton::clicked, this, [this, kind] { act(kind, 0); });
    return button;
}

QWidget* IslandExpandedView::control(IslandControl kind, int sceneIndex) const {
    switch (kind) {
        case IslandControl::record: return record_;
        case IslandControl::sceneChip: return chips_.at(static_cast<size_t>(sceneIndex));
        case IslandControl::zoomStepper: return stepper_;
        case IslandControl::spacer: return nullptr;
        default: return buttons_[buttonSlot(kind)];
    }
}

void IslandExpandedView::act(IslandControl kind, int sceneIndex) {
    CameraModel& model = model_.model();
    switch (kind) {
        case IslandControl::record: model.toggleRecording(); return;
        case IslandControl::photo: model.takePhoto(); return;
        case IslandControl::tracking:
            if (model_.state().faceTracking) {
                model.stopFaceTracking();
            } else {
                model.startFaceTracking();
            }
            return;
        case IslandControl::frame: model.autoFrame(); return;
        case IslandControl::centre: model.centerGimbal(); return;
        case IslandControl::zoomIn: model.zoomStep(1); return;
        case IslandControl::zoomOut: model.zoomStep(-1); return;
        case IslandControl::sceneChip: model.recallScene(sceneIndex); return;
        case IslandControl::pin: controller_.togglePinned(); return;
        case IslandControl::mainWindow: model.showMainWindow(); return;
        case IslandControl::spacer:
        case IslandControl::zoomStepper: return;
    }
}

void IslandExpandedView::reconnect() {
    // The model clears the camera-off mark only when a connection really starts.
    model_.model().reconnect();
}

void IslandExpandedView::setBadge(const std::optional<QString>& elapsed, double dotOpacity) {
    preview_->setBadge(elapsed, dotOpacity);
}

void IslandExpandedView::refresh() {
    const PublishedState& state = model_.state();
    CameraModel& model = model_.model();
    const NotchState& island = controller_.state();
    Inputs next;
    next.aspect = model.previewAspect();
    const IslandContentInputs in = islandContentInputs(state, next.aspect);
    next.size = controller_.islandSize(true);
    next.geometry = island.geometry;
    next.content = state.notchContent;
    next.title = islandHeaderTitle(in);
    next.battery = in.battery;
    next.connectionSymbol = islandConnectionSymbol(in.connection);
    next.status = islandStatusOverlay(in);
    next.statusText = QString::fromStdString(in.statusText);
    next.controls.hasPicture = in.live;
    next.controls.recording = state.recordingStarted.has_value();
    next.controls.faceTracking = state.faceTracking;
    next.controls.zoomKnown = state.zoomRange.has_value();
    next.controls.supportsPositioning = model.camera().supportsPositioning();
    next.controls.pinned = island.pinned;
    for (const CameraScene& scene : state.scenes) next.controls.sceneNames.push_back(scene.name);
    next.zoomLabel = QString::fromStdString(model.zoomLabel());
    if (shown_ != next) apply(next);
    followFace();
}

void IslandExpandedView::apply(const Inputs& in) {
    const bool laidOut = shown_ && shown_->size == in.size && shown_->geometry == in.geometry &&
                         shown_->content == in.content && shown_->aspect == in.aspect;
    const bool header = !shown_ || !laidOut || shown_->title != in.title || shown_->battery != in.battery ||
                        shown_->connectionSymbol != in.connectionSymbol;
    shown_ = in;
    if (!laidOut) {
        if (size() != in.size) setFixedSize(in.size);
        layout_ = islandExpandedLayout(in.geometry, in.size, islandTitleWidth(in.geometry, in.size.width()),
                                       in.content, in.aspect);
    }

    // The header, measured once per change.
    if (header) {
        title_ = in.title;
        titleShown_ = QFontMetricsF(titleFont_).elidedText(
            title_.text, Qt::ElideRight, std::max(0.0, layout_.titleWidth - kHeaderDot - kHeaderDotGap));
        if (in.battery) {
            if (!battery_) battery_.emplace();
            battery_->set(in.battery->percent, in.battery->isCharging);
        } else {
            battery_.reset();
        }
        connectionSymbol_ = in.connectionSymbol;
        update(layout_.header.toAlignedRect());
    }

    // The picture.
    const bool showsPreview = layout_.body != IslandBody::controlsOnly;
    if (preview_->isHidden() == showsPreview) preview_->setVisible(showsPreview);
    if (showsPreview) {
        const QRect pane = layout_.preview.toRect();
        if (preview_->geometry() != pane) preview_->setGeometry(pane);
        preview_->setStatus(in.status, in.statusText);
    }

    placeControls();
    record_->setRecording(in.controls.recording);
    stepper_->setLabel(in.zoomLabel);
}

void IslandExpandedView::placeControls() {
    const bool grid = layout_.body == IslandBody::portrait;
    items_ = grid ? islandGridControls(shown_->controls) : islandRowControls(shown_->controls);
    const std::vector<QRectF> rects =
        grid ? islandGridLayout(items_, layout_.controls) : islandRowLayout(items_, layout_.controls);
    std::vector<QWidget*> present;
    for (size_t i = 0; i < items_.size(); ++i) {
        const IslandControlItem& item = items_[i];
        QWidget* widget = control(item.kind, std::max(0, item.sceneIndex));
        if (!widget) continue;
        present.push_back(widget);
        // Each only where it differs: hiding a control or giving it its
        // tooltip again would take away the tooltip the pointer raised.
        const QPoint at = rects[i].topLeft().toPoint();
        if (widget->pos() != at) widget->move(at);
        if (widget->isEnabled() != item.enabled) widget->setEnabled(item.enabled);
        setHelp(*widget, item.help);
        if (auto* button = qobject_cast<IslandButton*>(widget); button && item.kind != IslandControl::sceneChip) {
            button->setSymbol(item.symbol);
            if (item.accentTint) {
                button->setTint(appAccentColor());
            } else if (item.platformTint) {
                button->setTint(platformAccentColor());
            } else {
                button->setTint(std::nullopt);
            }
        }
    }
    auto place = [&present](QWidget* widget) {
        const bool wanted = std::find(present.begin(), present.end(), widget) != present.end();
        if (widget->isHidden() == wanted) widget->setVisible(wanted);
    };
    place(record_);
    place(stepper_);
    for (IslandButton* button : buttons_) place(button);
    for (IslandButton* chip : chips_) place(chip);
}

void IslandExpandedView::followFace() {
    if (preview_->isHidden()) return;
    const PublishedState& state = model_.state();
    preview_->setFace(state.faceTracking ? state.trackedFace : std::nullopt, model_.model().previewAspect());
}

void IslandExpandedView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF& header = layout_.header;
    const double mid = header.center().y();
    painter.setPen(Qt::NoPen);
    painter.setBrush(title_.live ? kIslandGreen : kHeaderOrange);
    painter.drawEllipse(QPointF(header.left() + kHeaderDot / 2, mid), kHeaderDot / 2, kHeaderDot / 2);
    painter.setFont(titleFont_);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(header.left() + kHeaderDot + kHeaderDotGap,
                             centredBaseline(QFontMetricsF(titleFont_), mid)),
                     titleShown_);
    // The glyphs stand at the trailing end: the battery, then the route.
    const double symbolWidth = kHeaderSymbolPx + 4;
    const double symbolLeft = header.right() - symbolWidth;
    Symbols::instance().draw(painter, QRectF(symbolLeft, header.top(), symbolWidth, header.height()),
                             connectionSymbol_, kHeaderSymbolPx, kIslandSecondary);
    if (battery_) battery_->paint(painter, symbolLeft - kHeaderGlyphGap - battery_->size().width(), mid);
}

}  // namespace lumenhollow::ui
