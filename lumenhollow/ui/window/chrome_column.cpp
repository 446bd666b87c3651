#include "lumenhollow/ui/window/chrome_column.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QKeySequence>
#include <QMouseEvent>
#include <QVariantAnimation>
#include <QWheelEvent>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/record_pill.h"
#include "lumenhollow/ui/kit/shortcuts.h"
#include "lumenhollow/ui/kit/status_pill.h"
#include "lumenhollow/ui/window/chrome_gradient.h"
#include "lumenhollow/ui/window/notice_toast.h"
#include "lumenhollow/ui/window/quit_notice.h"
#include "lumenhollow/ui/window/window_drag_area.h"

namespace lumenhollow {

namespace {

using M = ChromeMetrics;

// Stand-ins until the real controls are installed: empty glass of about the
// control's size, so the window's shape reads right meanwhile.
constexpr int kStandInMicrophone = 30;
constexpr int kStandInScenesWidth = 88;
constexpr int kStandInZoomWidth = 112;
constexpr int kStandInBarHeight = 50;
constexpr double kStandInBarRadius = 25;
constexpr QSize kStandInToolRail{46, 326};

bool columnSlotInTopRow(ChromeColumn::Slot slot) {
    return slot == ChromeColumn::Slot::microphone || slot == ChromeColumn::Slot::scenesButton ||
           slot == ChromeColumn::Slot::settingsMenu;
}

// What a control asks for: its hint within its own limits; a fixed size wins.
SizeF columnPreferredSize(const QWidget* widget) {
    if (!widget) return {};
    QSize size = widget->sizeHint();
    if (!size.isValid()) size = widget->size();
    size = size.expandedTo(widget->minimumSize()).boundedTo(widget->maximumSize());
    return SizeF{static_cast<double>(size.width()), static_cast<double>(size.height())};
}

QRect columnPixels(const RectF& rect) {
    return QRect(qRound(rect.x), qRound(rect.y), qRound(rect.width), qRound(rect.height));
}

QRect columnBetween(const QRect& from, const QRect& to, double progress) {
    const auto mix = [progress](int a, int b) { return a + qRound((b - a) * progress); };
    return QRect(mix(from.x(), to.x()), mix(from.y(), to.y()), mix(from.width(), to.width()),
                 mix(from.height(), to.height()));
}

// Where a fading rail's opacity lives; made on demand.
QGraphicsOpacityEffect* columnFadeEffect(QWidget* rail) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(rail->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(rail);
        rail->setGraphicsEffect(effect);
    }
    return effect;
}

QWidget* columnBackdrop(QWidget* parent) {
    auto* backdrop = new QWidget(parent);
    backdrop->setObjectName("chromeBackdrop");
    backdrop->setAttribute(Qt::WA_TransparentForMouseEvents);
    backdrop->setFocusPolicy(Qt::NoFocus);
    return backdrop;
}

}  // namespace

ChromeColumn::ChromeColumn(ModelSignals& model, WindowOps& ops, QWidget* parent)
    : QWidget(parent),
      model_(model),
      backdrop_(columnBackdrop(parent)),
      topGradient_(new ChromeGradient(ChromeGradient::DarkEdge::top, M::kTopGradientOpacity, backdrop_)),
      bottomGradient_(new ChromeGradient(ChromeGradient::DarkEdge::bottom, M::kBottomGradientOpacity, backdrop_)),
      dragArea_(new WindowDragArea(ops, this)),
      statusPill_(new ui::StatusPill(dragArea_)),
      folderButton_(new ui::IconButton("folder",
                                       QString::fromStdString(ui::withShortcut("Open the output folder",
                                                                               ui::outputFolderShortcut())),
                                       static_cast<int>(M::kFolderSize), dragArea_)),
      toast_(new NoticeToast(backdrop_)),
      noticeTimeout_(model.sharedModel()) {
    setObjectName("chromeLayer");
    setFocusPolicy(Qt::NoFocus);
    topGradient_->setObjectName("topGradient");
    bottomGradient_->setObjectName("bottomGradient");
    statusPill_->setObjectName("statusPill");
    folderButton_->setObjectName("outputFolderButton");
    connect(folderButton_, &QAbstractButton::clicked, this, [this] { model_.model().openOutputFolder(); });

    install(Slot::microphone, new ui::CircleBackground(kStandInMicrophone, this));
    auto* scenes = new ui::PillBackground(this);
    scenes->setFixedWidth(kStandInScenesWidth);
    install(Slot::scenesButton, scenes);
    install(Slot::settingsMenu, new ui::IconButton("gearshape", QStringLiteral("Settings"),
                                                   static_cast<int>(M::kFolderSize), this));
    auto* rail = new ui::GlassSurface(ui::GlassShape::capsule, this);
    rail->setFixedSize(kStandInToolRail);
    install(Slot::toolRail, rail);
    auto* zoom = new ui::PillBackground(this);
    zoom->setFixedWidth(kStandInZoomWidth);
    install(Slot::zoom, zoom);
    auto* pill = new ui::RecordPill([this] { return model_.model().mainExecutor().clock().wallNow(); }, this);
    install(Slot::capture, pill);
    recordPill_ = pill;
    connect(pill, &QAbstractButton::clicked, pill, [this] { model_.model().toggleRecording(); });
    install(Slot::joystick, new ui::CircleBackground(static_cast<int>(M::kJoystickDiameter), this));
    auto* bar = new ui::GlassSurface(ui::GlassShape::roundedRect, this, kStandInBarRadius);
    bar->setFixedHeight(kStandInBarHeight);
    bar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    install(Slot::bottomBar, bar);

    dragArea_->installEventFilter(this);
    backdrop_->stackUnder(this);

    model_.onChange({Field::battery, Field::cardStorage, Field::macFreeBytes, Field::connection, Field::stats}, this,
                    [this] { updateStatusPill(); });
    model_.onChange({Field::stats, Field::composeProgress, Field::isStartingScreen, Field::recordingStarted,
                     Field::countdownRemaining, Field::recordScreen, Field::recordTarget, Field::connection},
                    this, [this] { updateRecordPill(); });
    model_.onChange({Field::notice}, this, [this] { noticeChanged(); });
    // A quit's line stays until the end; the notice's timeout is not restarted.
    model_.onChange({Field::quitProgress}, this, [this] { showNotice(); });

    classes_ = lumenhollow::widthClasses(width());
    applyWidthClasses();
    updateStatusPill();
    updateRecordPill();
    // A notice already up when the window opens shows, and times out, too.
    if (model_.state().notice) noticeChanged();
    if (model_.state().quitProgress) showNotice();
    relayout();
}

ChromeColumn::~ChromeColumn() { delete backdrop_.data(); }

ui::RecordPill* ChromeColumn::recordPill() const { return recordPill_; }

void ChromeColumn::install(Slot slot, QWidget* control) {
    QWidget*& held = slots_[static_cast<size_t>(slot)];
    if (held == control) return;
    if (slot == Slot::capture && held == recordPill_) recordPill_ = nullptr;
    delete held;
    held = control;
    if (control) {
        control->setParent(columnSlotInTopRow(slot) ? static_cast<QWidget*>(dragArea_) : this);
        // A rail appears with its fade only when the width class changes.
        control->setVisible(slot != Slot::toolRail || classes_.rail);
    }
    if (slot == Slot::toolRail) railShown_ = control && classes_.rail;
    applyWidthClasses();
    relayout();
}

void ChromeColumn::applyWidthClasses() {
    folderButton_->setVisible(!classes_.rail);
    if (QWidget* scenes = slotWidget(Slot::scenesButton)) scenes->setVisible(!classes_.rail);
    showRail(classes_.rail);
}

void ChromeColumn::showRail(bool shown) {
    QWidget* rail = slotWidget(Slot::toolRail);
    if (!rail) return;
    if (shown == railShown_ && (railFade_ || rail->isHidden() != shown)) return;
    railShown_ = shown;
    if (railFade_) static_cast<QAbstractAnimation*>(railFade_.data())->stop();
    if (!isVisible()) {
        rail->setGraphicsEffect(nullptr);
        rail->setVisible(shown);
        return;
    }
    // A reversal starts from the opacity the rail has now.
    const double from = rail->isHidden() ? 0.0 : columnFadeEffect(rail)->opacity();
    const double to = shown ? 1.0 : 0.0;
    // Set before the first frame, so a rail coming in does not flash.
    columnFadeEffect(rail)->setOpacity(from);
    rail->show();
    railFade_ = ui::animate(rail, ui::Ease{ui::Ease::Kind::inOut, kRailSeconds}, [this, rail, from, to](double p) {
        if (p < 1.0) {
            columnFadeEffect(rail)->setOpacity(from + (to - from) * p);
            return;
        }
        // At rest the rail paints directly again.
        rail->setGraphicsEffect(nullptr);
        rail->setVisible(to > 0);
        updateHitArea();
    });
}

void ChromeColumn::placeRail(const QRect& target) {
    QWidget* rail = slotWidget(Slot::toolRail);
    if (!rail) return;
    if (railGlide_ && railTarget_ == target) return;
    if (railGlide_) static_cast<QAbstractAnimation*>(railGlide_.data())->stop();
    railTarget_ = target;
    const QRect from = rail->geometry();
    if (!glideRail_ || rail->isHidden() || from.isEmpty() || from == target) {
        rail->setGeometry(target);
        return;
    }
    railGlide_ = ui::animate(rail, ui::Ease{ui::Ease::Kind::inOut, kRailSeconds}, [this, rail, from, target](double p) {
        rail->setGeometry(columnBetween(from, target, p));
        updateHitArea();
    });
}

void ChromeColumn::updateHitArea() {
    QRegion area;
    for (QObject* child : children()) {
        const auto* widget = qobject_cast<QWidget*>(child);
        if (widget && !widget->isHidden()) area += widget->geometry();
    }
    // An empty mask would mean no mask at all: keep one pixel outside.
    if (area.isEmpty()) area = QRegion(-1, -1, 1, 1);
    setMask(area);
}

void ChromeColumn::updateStatusPill() {
    statusPill_->setState(ui::statusPill(model_.state(), classes_.compact));
}

void ChromeColumn::updateRecordPill() {
    if (!recordPill_) return;
    recordPill_->setInputs(ui::recordPillInputs(model_.state(), model_.model().camera().supportsCardRecording()));
}

void ChromeColumn::noticeChanged() {
    noticeTimeout_.noticeChanged();
    showNotice();
}

void ChromeColumn::showNotice() {
    toast_->setNotice(shownNotice(model_.state()));
    glideRail_ = true;
    relayout();
    glideRail_ = false;
}

bool ChromeColumn::event(QEvent* event) {
    // A control that changed its size asks its parent to lay out again.
    switch (event->type()) {
        case QEvent::LayoutRequest: relayout(); break;
        // The backdrop stays right under the column, and shows with it.
        case QEvent::ZOrderChange:
            if (backdrop_) backdrop_->stackUnder(this);
            break;
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
            if (backdrop_) backdrop_->setVisible(!isHidden());
            break;
        default: break;
    }
    return QWidget::event(event);
}

bool ChromeColumn::eventFilter(QObject* watched, QEvent* event) {
    // The top row's controls are the strip's children: their size changes
    // arrive there.
    if (watched == dragArea_ && event->type() == QEvent::LayoutRequest) relayout();
    return QWidget::eventFilter(watched, event);
}

void ChromeColumn::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (backdrop_) backdrop_->setGeometry(geometry());
    relayout();
}

void ChromeColumn::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (backdrop_) backdrop_->setGeometry(geometry());
}

void ChromeColumn::mousePressEvent(QMouseEvent* event) { event->accept(); }
void ChromeColumn::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
void ChromeColumn::mouseMoveEvent(QMouseEvent* event) { event->accept(); }
void ChromeColumn::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
void ChromeColumn::wheelEvent(QWheelEvent* event) { event->accept(); }

void ChromeColumn::relayout() {
    const WidthClasses classes = lumenhollow::widthClasses(width());
    if (classes != classes_) {
        classes_ = classes;
        applyWidthClasses();
        updateStatusPill();
        Q_EMIT widthClassesChanged(classes_);
    }

    ChromeInputs in;
    in.window = SizeF{static_cast<double>(width()), static_cast<double>(height())};
    in.classes = classes_;
    in.microphone = columnPreferredSize(slotWidget(Slot::microphone));
    in.statusPill = columnPreferredSize(statusPill_);
    in.scenesButton = columnPreferredSize(slotWidget(Slot::scenesButton));
    in.settingsMenu = columnPreferredSize(slotWidget(Slot::settingsMenu));
    if (toast_->hasNotice()) {
        toast_->setMaxWidth(width() - 2 * NoticeToast::kSideMargin);
        in.toast = columnPreferredSize(toast_);
    }
    in.toolRail = columnPreferredSize(slotWidget(Slot::toolRail));
    in.zoom = columnPreferredSize(slotWidget(Slot::zoom));
    in.capture = columnPreferredSize(slotWidget(Slot::capture));
    in.joystick = columnPreferredSize(slotWidget(Slot::joystick));
    in.bottomBar = columnPreferredSize(slotWidget(Slot::bottomBar));
    if (const QWidget* bar = slotWidget(Slot::bottomBar)) {
        in.bottomBarFillsWidth = (bar->sizePolicy().horizontalPolicy() & QSizePolicy::ExpandFlag) != 0;
    }
    geometry_ = chromeLayout(in);
    // The control takes its narrower face at once: a size change that comes
    // back here as a layout request.
    if (const int room = static_cast<int>(geometry_.microphoneRoom); room != microphoneRoom_) {
        microphoneRoom_ = room;
        Q_EMIT microphoneRoomChanged(room);
    }

    topGradient_->setGeometry(columnPixels(geometry_.topGradient));
    bottomGradient_->setGeometry(columnPixels(geometry_.bottomGradient));
    dragArea_->setGeometry(columnPixels(geometry_.dragArea));
    statusPill_->setGeometry(columnPixels(geometry_.statusPill));
    folderButton_->setGeometry(columnPixels(geometry_.folderButton));
    const auto place = [this](Slot slot, const RectF& rect) {
        if (QWidget* widget = slotWidget(slot)) widget->setGeometry(columnPixels(rect));
    };
    place(Slot::microphone, geometry_.microphone);
    place(Slot::scenesButton, geometry_.scenesButton);
    place(Slot::settingsMenu, geometry_.settingsMenu);
    if (geometry_.toolRail) placeRail(columnPixels(*geometry_.toolRail));
    place(Slot::zoom, geometry_.zoom);
    place(Slot::capture, geometry_.capture);
    place(Slot::joystick, geometry_.joystick);
    place(Slot::bottomBar, geometry_.bottomBar);
    if (geometry_.toast) toast_->setRestRect(*geometry_.toast);
    updateHitArea();
}

}  // namespace lumenhollow
