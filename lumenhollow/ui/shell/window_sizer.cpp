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

// Where the window is, or is about to be: its native window holds the
// rectangle last asked for until the window system answers, while the
// widget keeps its size until then.
QRect sizerWindowRect(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    return handle && window.isVisible() ? handle->geometry() : window.geometry();
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
        fitLater();
    });
}

WindowSizer::~WindowSizer() {
    main_.cancel(resizeTask_);
    main_.cancel(answerTask_);
    if (window_) window_->removeEventFilter(this);
}

void WindowSizer::fitLater() {
    main_.post([weak = std::weak_ptr<int>(alive_), this] {
        if (weak.lock()) fit();
    });
}

void WindowSizer::watchScreen(QScreen* screen) {
    disconnect(screenGeometryWatch_);
    disconnect(screenAreaWatch_);
    if (!screen) return;
    // A screen made smaller (its resolution changed, a monitor taken away
    // from a shared desktop) or a panel that takes room leaves the window
    // where it was, partly off the screen: fitted again into the new area,
    // its minimum as low as that area needs. On a later turn, once the
    // screen's other changes (size and usable area come apart) are in.
    // A user's resize waiting to be fitted is fitted into the new area then.
    const auto refit = [this] {
        if (!resizeTask_) fitLater();
    };
    screenGeometryWatch_ = connect(screen, &QScreen::geometryChanged, this, refit);
    screenAreaWatch_ = connect(screen, &QScreen::availableGeometryChanged, this, refit);
}

void WindowSizer::attach(QWidget* window) {
    if (!window || window == window_) return;
    if (window_) window_->removeEventFilter(this);
    disconnect(screenWatch_);
    window_ = window;
    window->installEventFilter(this);
    // Onto another screen: its room, and the minimum that room allows, apply
    // from then on.
    QWindow* handle = window->windowHandle();
    if (handle) {
        screenWatch_ = connect(handle, &QWindow::screenChanged, this, [this](QScreen* screen) {
            watchScreen(screen);
            fitLater();
        });
    }
    watchScreen(handle ? handle->screen() : nullptr);
    clearExpectation();
    overtaken_.reset();
    userRect_.reset();
    resizeStart_.reset();
    heldInResize_ = false;
    main_.cancel(std::exchange(resizeTask_, 0));
    lastResolution_ = model_.state().settledResolution;
    // A fit now and one on a later turn, as a new subscriber to the settled
    // size would get its current value: the second one sees the window as
    // the window system has placed it by then.
    fitLater();
    fit();
}

void WindowSizer::fit() {
    requestsLeft_ = kRequestsPerCause;
    fitWithInputs(std::nullopt);
}

void WindowSizer::frameMayHaveChanged() {
    main_.post([weak = std::weak_ptr<int>(alive_), this] {
        if (!weak.lock() || !window_) return;
        // In full screen or maximised the frame is the window manager's
        // business; back from there the window has its fitted frame again.
        if (window_->isFullScreen() || window_->isMaximized()) return;
        if (frameMargins(*window_) != fittedFrame_) fit();
    });
}

void WindowSizer::fitWithInputs(std::optional<QSize> resizedFrom, std::optional<QRect> as) {
    QWidget* window = window_;
    if (!window) return;
    FitInputs inputs;
    const QMargins frame = frameMargins(*window);
    const Areas areas = contentAreas(*window, frame);
    const QRect now = sizerWindowRect(*window);
    inputs.frame = sizerFitRect(as.value_or(now));
    inputs.area = sizerFitRect(areas.whole);
    inputs.clearArea = sizerFitRect(areas.clear);
    inputs.aspect = model_.model().previewAspect();
    inputs.chromeHeight = sizerChromeHeight(*window);
    inputs.contentMinimumHeight = std::max(window->minimumHeight(), window->minimumSizeHint().height());
    inputs.fullScreen = window->isFullScreen();
    inputs.maximized = window->isMaximized();
    inputs.floor = options_.floor;
    if (resizedFrom) inputs.resizedFrom = FitSize{resizedFrom->width(), resizedFrom->height()};
    inputs.memory = memory_;
    const FitDecision decision = computeFit(inputs);
    if (decision.skipped) return;
    const QRect target(decision.frame.x, decision.frame.y, decision.frame.width, decision.frame.height);
    // Fitted from where the user left the window, it goes there even when
    // that needs no change of the user's rectangle.
    const bool places = decision.apply || (as && target != now);
    // This cause has asked often enough: the window stays as the window
    // system has it, and what this fit would have remembered is not so.
    if (places && requestsLeft_ <= 0) return;
    memory_ = decision.memory;
    fittedFrame_ = frame;
    // Also when the size stays: the content may have taken its minimum again.
    // The room that counts is the one the window went to: under the strip
    // when it fitted there.
    const bool underStrip = !areas.clear.isEmpty() && areas.clear.contains(target);
    fitMinimums(*window, target.size(), inputs.chromeHeight, inputs.aspect, underStrip ? areas.clear : areas.whole);
    if (!places) return;

    // A user resize still waiting to be fitted started from a shape this fit
    // has replaced.
    main_.cancel(std::exchange(resizeTask_, 0));
    resizeStart_.reset();
    userRect_.reset();
    // The widget has the size the window system last answered: a new size
    // comes back as a resize, a new place alone as a move. With no answer
    // within the settle time the window system merged the request with a
    // configure of its own, refused it, or lost it.
    expectedRect_ = target;
    expectedSize_ = target.size() != window->size() ? std::optional<QSize>(target.size()) : std::nullopt;
    expectedFrom_ = resizedFrom;
    armAnswerCheck();
    --requestsLeft_;
    placeWindow(*window, target);
}

void WindowSizer::clearExpectation() {
    expectedRect_.reset();
    expectedSize_.reset();
    expectedFrom_.reset();
    main_.cancel(std::exchange(answerTask_, 0));
}

void WindowSizer::answerMissing() {
    if (!expectedRect_ || !window_) return;
    if (!expectedSize_ && window_->geometry() == *expectedRect_) {
        clearExpectation();
        return;
    }
    // A window manager that holds the window at a place or size of its own
    // answers every request so; after a few the window stays as it has it.
    if (requestsLeft_ <= 0) {
        clearExpectation();
        return;
    }
    if (sizerWindowRect(*window_) == *expectedRect_) {
        // Nothing came back in its place: still on its way, or lost without
        // a word (a window manager busy taking the window in). Asked again,
        // the window system first told where the window last was: the same
        // request twice does no harm.
        QWindow* handle = window_->windowHandle();
        if (!options_.place && handle && window_->isVisible()) handle->setGeometry(window_->geometry());
        armAnswerCheck();
        --requestsLeft_;
        placeWindow(*window_, *expectedRect_);
        return;
    }
    // The window system reported another rectangle in its place: the same
    // fit again, from the window as it is now.
    const std::optional<QSize> from = expectedFrom_;
    clearExpectation();
    fitWithInputs(from);
}

void WindowSizer::armAnswerCheck() {
    main_.cancel(answerTask_);
    answerTask_ = main_.after(options_.resizeSettle, [weak = std::weak_ptr<int>(alive_), this] {
        if (!weak.lock()) return;
        answerTask_ = 0;
        answerMissing();
    });
}

void WindowSizer::placeWindow(QWidget& window, const QRect& target) {
    if (options_.place) {
        options_.place(window, target);
        return;
    }
    // Through the native window, so the content is laid out at a new size
    // only once the window system has given the window that size: set on the
    // widget, the content would take it at once, and keep it even when the
    // window system's answer, merged with a configure of the window
    // manager's own, reports the size the window had before.
    QWindow* handle = window.windowHandle();
    if (handle && window.isVisible()) {
        handle->setGeometry(target);
    } else {
        window.setGeometry(target);
    }
}

QMargins WindowSizer::frameMargins(const QWidget& window) const {
    if (options_.frameMargins) {
        if (const std::optional<QMargins> told = options_.frameMargins(window)) return *told;
    }
    const QRect frame = window.frameGeometry();
    const QRect content = window.geometry();
    return QMargins(std::max(0, content.left() - frame.left()), std::max(0, content.top() - frame.top()),
                    std::max(0, frame.right() - content.right()), std::max(0, frame.bottom() - content.bottom()));
}

void WindowSizer::userResized(QSize from) {
    if (!resizeStart_ && from.isValid()) resizeStart_ = from;
    main_.cancel(resizeTask_);
    resizeTask_ = main_.after(options_.resizeSettle, [weak = std::weak_ptr<int>(alive_), this] {
        if (!weak.lock()) return;
        resizeTask_ = 0;
        resizeSettled();
    });
}

void WindowSizer::resizeSettled() {
    // A button still held: the window manager's live resize goes on, and it
    // configures the window once more when the button is let go; just let
    // go, that last configure may still be on its way: one more still spell.
    const bool held = options_.pointerHeld && options_.pointerHeld();
    if (held || heldInResize_) {
        heldInResize_ = held;
        resizeTask_ = main_.after(options_.resizeSettle, [weak = std::weak_ptr<int>(alive_), this] {
            if (!weak.lock()) return;
            resizeTask_ = 0;
            resizeSettled();
        });
        return;
    }
    fitWithInputs(std::exchange(resizeStart_, std::nullopt), std::exchange(userRect_, std::nullopt));
}

WindowSizer::Areas WindowSizer::contentAreas(const QWidget& window, const QMargins& decoration) const {
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
        if (expectedSize_ && *expectedSize_ != resize->size() && !event->spontaneous()) {
            // The window's own doing while the answer is on its way (a new
            // minimum grows the widget, still at its old size, and asks the
            // window system for that size after the sizer's request): the
            // request is asked again, so it is the last the window system
            // hears.
            placeWindow(*window, *expectedRect_);
            return QObject::eventFilter(watched, event);
        }
        if (expectedSize_ && *expectedSize_ == resize->size()) {
            expectedSize_.reset();
            overtaken_.reset();
            if (window->geometry() == *expectedRect_) clearExpectation();
        } else if (overtaken_ && overtaken_->request.size() == resize->size()) {
            // The overtaken request granted after all, once the window
            // manager's live resize had ended: it undid the size the user
            // chose last. The user's resize is fitted from that size (a fit
            // asked for since was made from it, and its answer comes next).
            if (!expectedSize_) {
                userRect_ = overtaken_->user;
                clearExpectation();
                userResized(resize->oldSize());
            }
            overtaken_.reset();
        } else if (!window->isFullScreen() && !window->isMaximized()) {
            // The user's resize, or the window manager's own configure in
            // place of the answer to the sizer's request (which it may still
            // grant later): the user's resize that request fitted then goes
            // on from where it started.
            QSize from = resize->oldSize();
            if (expectedRect_ && expectedFrom_) from = *expectedFrom_;
            // From the window system with no request of the sizer's on its
            // way: the user's own, a new cause to fit. One in the place of a
            // request's answer is the window manager's, and one of the
            // window's own making (a new minimum) the sizer's: their fits
            // count with the request that led to them.
            if (!expectedRect_ && event->spontaneous()) requestsLeft_ = kRequestsPerCause;
            overtaken_.reset();
            if (expectedSize_) overtaken_ = Overtaken{*expectedRect_, window->geometry()};
            userRect_.reset();
            clearExpectation();
            userResized(from);
        }
    } else if (event->type() == QEvent::Move) {
        if (auto anchor = anchorAfterMove(sizerFitRect(window->geometry()), window->isFullScreen(),
                                          window->isMaximized(), memory_.anchor)) {
            memory_.anchor = *anchor;
        }
        if (expectedRect_ && !expectedSize_ && window->geometry() == *expectedRect_) clearExpectation();
        // A window manager that frames the window moves it.
        if (!window->isFullScreen() && !window->isMaximized() && frameMargins(*window) != fittedFrame_) {
            frameMayHaveChanged();
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace lumenhollow
