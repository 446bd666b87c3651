#include "lumenhollow/ui/island/island_expanded_view.h"

#include <QFontMetricsF>
#include <QPainter>

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
    const double aspect = model.previewAspect();
    const IslandContentInputs in = islandContentInputs(state, aspect);
    const QSize size = controller_.islandSize(true);
    setFixedSize(size);
    layout_ = islandExpandedLayout(island.geometry, size, islandTitleWidth(island.geometry, size.width()),
                                   state.notchContent, aspect);

    // The header.
    title_ = islandHeaderTitle(in);
    titleShown_ = QFontMetricsF(titleFont_).elidedText(title_.text, Qt::ElideRight,
                                                       std::max(0.0, layout_.titleWidth - kHeaderDot - kHeaderDotGap));
    if (in.battery) {
        if (!battery_) battery_.emplace();
        battery_->set(in.battery->percent, in.battery->isCharging);
    } else {
        battery_.reset();
    }
    connectionSymbol_ = islandConnectionSymbol(in.connection);

    // The picture.
    const bool showsPreview = layout_.body != IslandBody::controlsOnly;
    preview_->setVisible(showsPreview);
    if (showsPreview) {
        preview_->setGeometry(layout_.preview.toRect());
        preview_->setStatus(islandStatusOverlay(in), QString::fromStdString(in.statusText));
        preview_->setFace(in.faceTracking ? in.trackedFace : std::nullopt);
    }

    // The controls.
    IslandControlInputs controls;
    controls.hasPicture = in.live;
    controls.recording = state.recordingStarted.has_value();
    controls.faceTracking = state.faceTracking;
    controls.zoomKnown = state.zoomRange.has_value();
    controls.supportsPositioning = model.camera().supportsPositioning();
    controls.pinned = island.pinned;
    for (const CameraScene& scene : state.scenes) controls.sceneNames.push_back(scene.name);
    const bool grid = layout_.body == IslandBody::portrait;
    items_ = grid ? islandGridControls(controls) : islandRowControls(controls);
    const std::vector<QRectF> rects =
        grid ? islandGridLayout(items_, layout_.controls) : islandRowLayout(items_, layout_.controls);
    record_->hide();
    stepper_->hide();
    for (IslandButton* button : buttons_) button->hide();
    for (IslandButton* chip : chips_) chip->hide();
    for (size_t i = 0; i < items_.size(); ++i) {
        const IslandControlItem& item = items_[i];
        QWidget* widget = control(item.kind, std::max(0, item.sceneIndex));
        if (!widget) continue;
        widget->move(rects[i].topLeft().toPoint());
        widget->setEnabled(item.enabled);
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
        widget->show();
    }
    record_->setRecording(controls.recording);
    stepper_->setLabel(QString::fromStdString(model.zoomLabel()));
    update();
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
