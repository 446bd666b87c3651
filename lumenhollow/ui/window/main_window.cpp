#include "lumenhollow/ui/window/main_window.h"

#include <QEvent>
#include <QMenuBar>

#include <algorithm>

#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/panels/microphone_control.h"
#include "lumenhollow/ui/panels/screen_recording_button.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/capture_controls.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/keyboard_order.h"
#include "lumenhollow/ui/window/joystick_pad.h"
#include "lumenhollow/ui/window/live_backdrop.h"
#include "lumenhollow/ui/window/preview_overlays.h"
#include "lumenhollow/ui/window/scenes_button.h"
#include "lumenhollow/ui/window/settings_menu.h"
#include "lumenhollow/ui/window/sheet_host.h"
#include "lumenhollow/ui/window/tool_actions.h"
#include "lumenhollow/ui/window/tool_rail.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"
#include "lumenhollow/ui/window/zoom_control.h"

namespace lumenhollow {

// The drag strip keeps one WindowOps for its life; this one passes its calls
// on to whichever the window holds now.
class MainWindow::ForwardingOps final : public WindowOps {
public:
    explicit ForwardingOps(std::unique_ptr<WindowOps>& ops) : ops_(ops) {}
    bool startSystemMove() override { return ops_->startSystemMove(); }
    QPoint windowPosition() const override { return ops_->windowPosition(); }
    void moveWindowTo(QPoint topLeft) override { ops_->moveWindowTo(topLeft); }
    void toggleMaximized() override { ops_->toggleMaximized(); }

private:
    std::unique_ptr<WindowOps>& ops_;
};

PreviewInput::Hooks previewHooks(std::weak_ptr<CameraModel> model) {
    return PreviewInput::Hooks{
        [model](int index) {
            if (const auto strong = model.lock()) strong->recallScene(index);
        },
        [model] {
            if (const auto strong = model.lock()) strong->cancelCountdown();
        }};
}

MainWindow::MainWindow(ModelSignals& model, VideoFeed& feed, QWidget* parent)
    : QMainWindow(parent),
      model_(model),
      input_(model.sharedModel(), previewHooks(model.sharedModel())),
      ops_(std::make_unique<QtWindowOps>(this)),
      forwardingOps_(std::make_unique<ForwardingOps>(ops_)),
      surface_(new VideoSurface(feed, input_, this)),
      overlays_(new QWidget(surface_)),
      chrome_(new ChromeColumn(model, *forwardingOps_, surface_)),
      sheets_(new SheetHost(model, surface_)),
      previewOverlays_(new PreviewOverlays(model, overlays_, surface_)) {
    setWindowTitle(QStringLiteral("Lumenhollow"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setCentralWidget(surface_);
    overlays_->setObjectName("overlayLayer");
    // The overlays only draw; presses, drags and the wheel go to the picture.
    overlays_->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlays_->setFocusPolicy(Qt::NoFocus);
    surface_->installEventFilter(this);
    feedGlassBackdrop(feed);
    installControls();
    model_.onChange({Field::settledResolution, Field::activeFormat}, this, [this] {
        updateMinimumSize();
        layoutLayers();
    });
    updateMinimumSize();
    resizeToDefault();
    // The window's own controls stay usable over a panel, and a sheet over all.
    chrome_->raise();
    sheets_->raise();
}

void MainWindow::installControls() {
    toolActions_ = new ToolActions(model_, *this);
    auto* bar = new BottomBar(model_, *toolActions_, chrome_);
    const auto followWidth = [bar](WidthClasses classes) {
        bar->setCompact(classes.compact);
        bar->setRailMode(classes.rail);
    };
    followWidth(chrome_->widthClasses());
    connect(chrome_, &ChromeColumn::widthClassesChanged, bar, followWidth);
    chrome_->setBottomBar(bar);
    auto* microphone = new MicrophoneControl(model_, chrome_->widthClasses().rail, chrome_);
    connect(chrome_, &ChromeColumn::widthClassesChanged, microphone,
            [microphone](WidthClasses classes) { microphone->setCompact(classes.rail); });
    connect(chrome_, &ChromeColumn::microphoneRoomChanged, microphone,
            [microphone](int width) { microphone->setRoom(width); });
    microphone->setRoom(static_cast<int>(chrome_->layoutResult().microphoneRoom));
    chrome_->setMicrophoneControl(microphone);
    chrome_->setToolRail(new ToolRail(model_, *toolActions_, kRailButtonSize, chrome_));
    chrome_->setScenesButton(new ScenesButton(model_, false, chrome_));
    chrome_->setSettingsMenu(new SettingsMenu(model_, chrome_));
    chrome_->setZoomControl(new ZoomControl(model_, chrome_));
    auto* capture = new CaptureControls(model_, chrome_);
    capture->setScreenRecordingButton(new ScreenRecordingButton(model_, capture));
    chrome_->setCaptureControls(capture);
    chrome_->setJoystickPad(new JoystickPad(model_, chrome_));
}

void MainWindow::feedGlassBackdrop(VideoFeed& feed) {
    backdrop_ = new LiveBackdrop(*surface_);
    // The guides and the face box lie under the glass too.
    backdrop_->setMarkings(overlays_);
    // Connected after the surface's own: it has taken the frame by then.
    connect(&feed.relay(), &FeedRelay::frameReady, backdrop_, [this] { offerFrameToGlass(); });
    connect(&feed.relay(), &FeedRelay::imageRemoved, backdrop_, [this] { backdrop_->clear(); });
    // A status panel's darkening lies under the glass too.
    backdrop_->setDimming(previewOverlays_->dimming());
    connect(previewOverlays_, &PreviewOverlays::dimmingChanged, backdrop_, &LiveBackdrop::setDimming);
}

void MainWindow::offerFrameToGlass() {
    const hollowkit::VideoFrame& frame = surface_->currentFrame();
    if (!frame || frame.height() <= 0) return;
    // Where the surface draws it.
    const RectF fit = videoRect(SizeF{static_cast<double>(surface_->width()), static_cast<double>(surface_->height())},
                                static_cast<double>(frame.width()) / frame.height());
    backdrop_->offer(frame, QRectF(fit.x, fit.y, fit.width, fit.height));
}

MainWindow::~MainWindow() {
    // The surface's input is a member: the surface goes first.
    surface_->removeEventFilter(this);
    delete takeCentralWidget();
}

void MainWindow::setWindowOps(std::unique_ptr<WindowOps> ops) {
    ops_ = std::move(ops);
}

QWidget& MainWindow::chromeLayer() const { return *chrome_; }

WindowDragArea& MainWindow::dragArea() const { return chrome_->dragArea(); }

WidthClasses MainWindow::widthClasses() const {
    return lumenhollow::widthClasses(surface_->width());
}

RectF MainWindow::pictureRect() const {
    return videoRect(SizeF{static_cast<double>(surface_->width()), static_cast<double>(surface_->height())},
                     model_.model().previewAspect());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The chrome's hit area is its controls: elsewhere the window hands a
    // press to the panel or the picture below it.
    if (watched == surface_ && event->type() == QEvent::Resize) layoutLayers();
    return QMainWindow::eventFilter(watched, event);
}

std::vector<QWidget*> MainWindow::keyboardStops() const {
    std::vector<QWidget*> controls;
    std::vector<RectF> boxes;
    for (QWidget* widget : surface_->findChildren<QWidget*>()) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isEnabled() || !widget->isVisibleTo(this)) continue;
        // A sheet keeps the keyboard while it shows; a window of its own has its own order.
        if (widget->window() != this || sheets_->isAncestorOf(widget)) continue;
        const QRect box(widget->mapTo(this, QPoint(0, 0)), widget->size());
        controls.push_back(widget);
        boxes.push_back(RectF{static_cast<double>(box.x()), static_cast<double>(box.y()),
                              static_cast<double>(box.width()), static_cast<double>(box.height())});
    }
    std::vector<QWidget*> stops{surface_};
    for (size_t index : readingOrder(boxes)) stops.push_back(controls[index]);
    return stops;
}

bool MainWindow::focusNextPrevChild(bool next) {
    // A sheet is modal to the window: Tab leaves the keyboard with it.
    if (sheets_->isVisible()) return true;
    const std::vector<QWidget*> stops = keyboardStops();
    const auto at = std::find(stops.begin(), stops.end(), focusWidget());
    const size_t count = stops.size();
    size_t index = 0;
    if (at != stops.end()) {
        const auto from = static_cast<size_t>(at - stops.begin());
        index = next ? (from + 1) % count : (from + count - 1) % count;
    } else if (!next) {
        index = count - 1;
    }
    stops[index]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void MainWindow::layoutLayers() {
    const RectF picture = pictureRect();
    overlays_->setGeometry(QRectF(picture.x, picture.y, picture.width, picture.height).toAlignedRect());
    chrome_->setGeometry(surface_->rect());
    previewOverlays_->layout();
}

void MainWindow::resizeToDefault() {
    const auto* bar = qobject_cast<const QMenuBar*>(menuWidget());
    // A menu bar the desktop shows apart from the window takes no rows.
    const int barHeight = bar && !bar->isNativeMenuBar() ? bar->sizeHint().height() : 0;
    resize(kDefaultWidth, kDefaultHeight + barHeight);
}

void MainWindow::updateMinimumSize() {
    // The minimum follows the orientation alone. Set again for another
    // picture of the same orientation it would undo what a small screen's
    // fit lowered it to, and the composition would reach past the window.
    const double aspect = model_.model().previewAspect();
    if (minimumPortrait_ == isPortrait(aspect)) return;
    minimumPortrait_ = isPortrait(aspect);
    const SizeF minimum = minimumContentSize(aspect);
    surface_->setMinimumSize(static_cast<int>(minimum.width), static_cast<int>(minimum.height));
}

MainWindowOpener::MainWindowOpener(ModelSignals& model, VideoFeed& feed, QObject* parent)
    : QObject(parent), model_(model), feed_(feed) {
    model_.model().setOpenMainWindow([opener = QPointer<MainWindowOpener>(this)] {
        if (opener) opener->open();
    });
}

MainWindowOpener::~MainWindowOpener() {
    model_.model().setOpenMainWindow({});
    delete window_.data();
}

void MainWindowOpener::open() {
    if (!window_) {
        window_ = new MainWindow(model_, feed_);
        // Closing the window ends it; opening again builds a new one.
        window_->setAttribute(Qt::WA_DeleteOnClose);
        Q_EMIT windowOpened(window_);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

bool MainWindowOpener::bringForward() {
    if (!window_ || !window_->isVisible()) return false;
    // A minimised window comes back as it was before.
    if (window_->isMinimized()) window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->raise();
    window_->activateWindow();
    return true;
}

}  // namespace lumenhollow
