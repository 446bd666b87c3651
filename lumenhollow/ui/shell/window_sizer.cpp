#include "lumenhollow/ui/shell/window_sizer.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <utility>

#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow {
namespace {

FitRect sizerFitRect(const QRect& rect) {
    return FitRect{rect.x(), rect.y(), rect.width(), rect.height()};
}

// The rows of a main window above its picture: the menu bar that sits
// inside the window on X11 (hidden when the desktop shows it apart). Its own
// height, not the central widget's: that lags while a new minimum is laid out.
int sizerChromeHeight(const QWidget& window) {
    const auto* main = qobject_cast<const QMainWindow*>(&window);
    const QWidget* bar = main ? main->menuWidget() : nullptr;
    return bar && bar->isVisible() ? bar->height() : 0;
}

// The content's room in a window of `size` whose menu bar takes `chrome` rows.
QSize sizerRoomBelow(QSize size, int chrome) {
    return QSize(size.width(), std::max(0, size.height() - chrome));
}

}  // namespace

WindowSizer::WindowSizer(ModelSignals& model, hollowkit::MainExecutor& main, Options options, QObject* parent)
    : QObject(parent), model_(model), main_(main), options_(std::move(options)) {
    lastResolution_ = model_.state().settledResolution;
    // Only a new settled size fits: the model may assign the same one again.
    model_.onChange({Field::settledResolution}, this, [this] {
        const std::optional<PictureSize>& now = model_.state().settledResolution;
        if (now == lastResolution_) return;
        lastResolution_ = now;
        // On a later turn, once every view has taken the new picture size in
        // (the window's minimum among them).
        main_.post([weak = std::weak_ptr<int>(alive_), this] {
            if (weak.lock()) fit();
        });
    });
}

WindowSizer::~WindowSizer() {
    main_.cancel(resizeTask_);
    if (window_) window_->removeEventFilter(this);
}

void WindowSizer::attach(QWidget* window) {
    if (!window || window == window_) return;
    if (window_) window_->removeEventFilter(this);
    disconnect(screenWatch_);
    window_ = window;
    window->installEventFilter(this);
    // Onto another screen: its room, and the minimum that room allows, apply
    // from then on.
    if (QWindow* handle = window->windowHandle()) {
        screenWatch_ = connect(handle, &QWindow::screenChanged, this, [this] {
            main_.post([weak = std::weak_ptr<int>(alive_), this] {
                if (weak.lock()) fit();
            });
        });
    }
    expectedSize_.reset();
    resizeStart_.reset();
    main_.cancel(std::exchange(resizeTask_, 0));
    lastResolution_ = model_.state().settledResolution;
    // A fit now and one on a later turn, as a new subscriber to the settled
    // size would get its current value: the second one sees the window as
    // the window system has placed it by then.
    main_.post([weak = std::weak_ptr<int>(alive_), this] {
        if (weak.lock()) fit();
    });
    fit();
}

void WindowSizer::fit() {
    fitWithInputs(std::nullopt);
}

void WindowSizer::fitWithInputs(std::optional<FitSize> resizedFrom) {
    QWidget* window = window_;
    if (!window) return;
    FitInputs inputs;
    const Areas areas = contentAreas(*window);
    inputs.frame = sizerFitRect(window->geometry());
    inputs.area = sizerFitRect(areas.whole);
    inputs.clearArea = sizerFitRect(areas.clear);
    inputs.aspect = model_.model().previewAspect();
    inputs.chromeHeight = sizerChromeHeight(*window);
    inputs.contentMinimumHeight = std::max(window->minimumHeight(), window->minimumSizeHint().height());
    inputs.fullScreen = window->isFullScreen();
    inputs.maximized = window->isMaximized();
    inputs.floor = options_.floor;
    inputs.resizedFrom = resizedFrom;
    inputs.memory = memory_;
    const FitDecision decision = computeFit(inputs);
    if (decision.skipped) return;
    memory_ = decision.memory;
    const QRect target(decision.frame.x, decision.frame.y, decision.frame.width, decision.frame.height);
    // Also when the size stays: the content may have taken its minimum again.
    // The room that counts is the one the window went to: under the strip
    // when it fitted there.
    const bool underStrip = !areas.clear.isEmpty() && areas.clear.contains(target);
    fitMinimums(*window, target.size(), inputs.chromeHeight, inputs.aspect, underStrip ? areas.clear : areas.whole);
    if (!decision.apply) return;

    if (target.size() != window->size()) expectedSize_ = target.size();
    // A user resize still waiting to be fitted started from a shape this fit
    // has replaced.
    main_.cancel(std::exchange(resizeTask_, 0));
    resizeStart_.reset();
    window->setGeometry(target);
}

void WindowSizer::userResized(QSize from) {
    if (!resizeStart_ && from.isValid()) resizeStart_ = from;
    main_.cancel(resizeTask_);
    resizeTask_ = main_.after(options_.resizeSettle, [weak = std::weak_ptr<int>(alive_), this] {
        if (!weak.lock()) return;
        resizeTask_ = 0;
        std::optional<FitSize> before;
        if (resizeStart_) before = FitSize{resizeStart_->width(), resizeStart_->height()};
        resizeStart_.reset();
        fitWithInputs(before);
    });
}

WindowSizer::Areas WindowSizer::contentAreas(const QWidget& window) const {
    QRect available;
    if (options_.availableArea) {
        available = options_.availableArea(window);
    } else {
        QScreen* screen = window.screen();
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) available = screen->availableGeometry();
    }
    if (available.isEmpty()) return {};
    QRect clear;
    if (const std::optional<QRect> over = options_.keepClearOf ? options_.keepClearOf() : std::nullopt) {
        const FitRect below = areaClearOf(sizerFitRect(available), sizerFitRect(*over));
        clear = QRect(below.x, below.y, below.width, below.height);
    }
    // The areas hold the whole window; the fit places its content, so the
    // window manager's frame comes off each side.
    const QRect frame = window.frameGeometry();
    const QRect content = window.geometry();
    const QMargins decoration(std::max(0, content.left() - frame.left()), std::max(0, content.top() - frame.top()),
                              std::max(0, frame.right() - content.right()),
                              std::max(0, frame.bottom() - content.bottom()));
    return Areas{available - decoration, clear.isEmpty() ? QRect() : clear - decoration};
}

void WindowSizer::fitMinimums(QWidget& window, QSize size, int chrome, double aspect, const QRect& area) {
    auto* main = qobject_cast<QMainWindow*>(&window);
    QWidget* content = main ? main->centralWidget() : nullptr;
    const QSize room = sizerRoomBelow(size, chrome);
    const QSize own = options_.contentMinimum && content ? options_.contentMinimum(aspect) : QSize();
    if (own.isValid() && !area.isEmpty()) {
        // A screen with room for the content's own minimum gives it back,
        // also after a smaller screen lowered it; one without holds both the
        // window and its content at what the fit gave.
        const bool holds = sizerRoomBelow(area.size(), chrome).expandedTo(own) == sizerRoomBelow(area.size(), chrome);
        const QSize wanted = holds ? own : own.boundedTo(room);
        if (holds && windowMinimum_) {
            // Zero clears the explicit minimum: the layout's (the content's
            // and the menu bar's) holds again.
            window.setMinimumSize(0, 0);
            windowMinimum_.reset();
        }
        if (content->minimumSize() != wanted) content->setMinimumSize(wanted);
        if (!holds && (size.width() < window.minimumWidth() || size.height() < window.minimumHeight())) {
            if (!windowMinimum_) windowMinimum_ = window.minimumSize();
            window.setMinimumSize(window.minimumSize().boundedTo(size));
        }
        return;
    }
    // Qt holds a window at its minimum, and a main window's content at the
    // content's own: on a screen too small for them the screen wins, so both
    // are lowered to what fits. Lowering the window's alone would leave the
    // content at its minimum, reaching past the window's right and bottom edges.
    if (size.width() < window.minimumWidth() || size.height() < window.minimumHeight()) {
        if (!windowMinimum_) windowMinimum_ = window.minimumSize();
        window.setMinimumSize(window.minimumSize().boundedTo(size));
    }
    if (content && (room.width() < content->minimumWidth() || room.height() < content->minimumHeight())) {
        content->setMinimumSize(content->minimumSize().boundedTo(room));
    }
}

bool WindowSizer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_) return QObject::eventFilter(watched, event);
    QWidget* window = window_;
    if (event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        if (expectedSize_ && *expectedSize_ == resize->size()) {
            expectedSize_.reset();
        } else if (!window->isFullScreen() && !window->isMaximized()) {
            userResized(resize->oldSize());
        }
    } else if (event->type() == QEvent::Move) {
        if (auto anchor = anchorAfterMove(sizerFitRect(window->geometry()), window->isFullScreen(),
                                          window->isMaximized(), memory_.anchor)) {
            memory_.anchor = *anchor;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace lumenhollow
