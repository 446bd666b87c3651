#pragma once

// WindowSizer: keeps the attached window's content in the picture's shape.
// It fits when the model's settled resolution changes, once a user resize
// has ended (X11 has no "resize ended": the resize has been still for a
// moment on the main executor with no pointer button held, and one moment
// more after a held button is let go, so the window manager's live resize
// is over and its last configure has come), when the window manager's
// frame around the window takes a new size (it frames a window some time
// after it is shown), when the window goes to another screen or its screen
// changes size or usable area, and at once when attached; a move records the top
// centre the window turns under. A fit's rectangle is asked of the window
// system, and the content takes the size the window system answers, never
// ahead of it; a request whose answer never comes (the window manager's own
// configure of the window crossed it, or it was lost) is asked again, and
// one granted only after the window manager's own last configure of a live
// resize is fitted again from the size the user left; one cause to fit
// makes a bounded number of requests, whatever the answers. The
// rules are computeFit's; this class only reads the window and applies the
// result. One per process, owned by the application. GUI thread (the main
// executor's) only.

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "hollowkit/base/executor.h"
#include "lumenhollow/model/model_types.h"
#include "lumenhollow/ui/shell/window_fit.h"

class QScreen;

namespace lumenhollow {

class ModelSignals;

class WindowSizer final : public QObject {
    Q_OBJECT

public:
    struct Options {
        // How long a user resize must be still before it counts as finished.
        std::chrono::milliseconds resizeSettle{300};
        // The usable area of the window's screen; empty: the screen's own
        // available geometry (tests give a screen of their choosing).
        std::function<QRect(const QWidget& window)> availableArea;
        // The smallest picture part in which the window's controls fit.
        FitFloor floor;
        // What lies over the top of the window's screen and must not cover
        // the window's title and menus (the island's closed strip, hover
        // margin included), in global coordinates; none: nothing.
        std::function<std::optional<QRect>()> keepClearOf;
        // The content's own minimum for a picture of the aspect, which holds
        // wherever the screen has room for it; none: the content's minimum
        // is only ever lowered to what a small screen holds.
        std::function<QSize(double aspect)> contentMinimum;
        // Whether a pointer button is held down anywhere: while it is, the
        // window manager's live resize of the window may still go on, and
        // its own configure at the end would undo a fit made before. None:
        // never held.
        std::function<bool()> pointerHeld;
        // The window manager's frame around the window, each side; nothing
        // (or none): what the window system reports (its frame geometry less
        // its geometry).
        std::function<std::optional<QMargins>(const QWidget& window)> frameMargins;
        // Asks the window system for the window's content rectangle; none:
        // its native window is asked (a hidden window is set directly).
        std::function<void(QWidget& window, const QRect& content)> place;
    };

    // How many quiet spells in a row the sizer waits for the answer to a
    // request, asking it again when another size came in its place, before
    // it leaves the window as the window system has it.
    static constexpr int kUnansweredRetries = 3;
    // The most rectangles the sizer asks for after one cause to fit (a
    // settled picture, a screen or frame that changed, a user's resize),
    // whatever the window system answers: a window manager that grants
    // another size than asked (a few pixels less, say) would otherwise have
    // the window refitted from that size, and shrink, at every quiet spell.
    static constexpr int kRequestsPerCause = kUnansweredRetries + 1;

    // `model` and `main` must outlive the sizer.
    WindowSizer(ModelSignals& model, hollowkit::MainExecutor& main, Options options, QObject* parent = nullptr);
    ~WindowSizer() override;
    WindowSizer(const WindowSizer&) = delete;
    WindowSizer& operator=(const WindowSizer&) = delete;

    // Makes `window` the sized one and fits it now and once more on a later
    // turn; the same window again does nothing. The orientation, the sizes
    // kept per orientation and the anchor carry over to a new window.
    void attach(QWidget* window);
    // A fit for a new cause: the sizer may ask again up to kRequestsPerCause.
    void fit();
    // The window manager's frame around the attached window may have taken
    // a new size: on a later turn, a fit when it has.
    void frameMayHaveChanged();

    QWidget* window() const { return window_; }
    const FitMemory& memory() const { return memory_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // `as`: the rectangle to fit from, where the window is not where the
    // user left it; none: where the window is.
    void fitWithInputs(std::optional<QSize> resizedFrom, std::optional<QRect> as = std::nullopt);
    void userResized(QSize from);
    void resizeSettled();
    void answerMissing();
    void armAnswerCheck();
    void clearExpectation();
    // fit() on a later turn, once the sizer is still alive.
    void fitLater();
    // Fits again whenever `screen`'s size or usable area changes.
    void watchScreen(QScreen* screen);
    void placeWindow(QWidget& window, const QRect& target);
    QMargins frameMargins(const QWidget& window) const;
    // The screen's usable area less the window manager's frame
    // (`decoration`), and the same area below what `keepClearOf` names
    // (empty when nothing is there).
    struct Areas {
        QRect whole;
        QRect clear;
    };
    Areas contentAreas(const QWidget& window, const QMargins& decoration) const;
    void fitMinimums(QWidget& window, QSize size, int chrome, double aspect, const QRect& area);

    ModelSignals& model_;
    hollowkit::MainExecutor& main_;
    Options options_;
    QPointer<QWidget> window_;
    FitMemory memory_;
    std::optional<PictureSize> lastResolution_;
    // The rectangle the sizer asked for last, until the window has it; the
    // size, while its echo (not a user's resize) is still to come.
    std::optional<QRect> expectedRect_;
    std::optional<QSize> expectedSize_;
    // The size before the user's resize that request fitted, while the
    // request is not answered: asked again with it when no answer comes.
    std::optional<QSize> expectedFrom_;
    hollowkit::TaskId answerTask_ = 0;
    // The requests the sizer may still make for the present cause.
    int requestsLeft_ = kRequestsPerCause;
    // A request the window manager's own configure overtook (a live resize
    // it ended after the fit was asked), which it may still grant later,
    // and the rectangle that configure gave the window: the user's.
    struct Overtaken {
        QRect request;
        QRect user;
    };
    std::optional<Overtaken> overtaken_;
    // Where the user left the window, for the next fit of a user resize,
    // while an overtaken request granted late holds it elsewhere.
    std::optional<QRect> userRect_;
    // The window manager's frame the last fit placed the window in.
    QMargins fittedFrame_;
    // The size before the user's resize in progress, and its quiet-spell
    // timer; whether a button was held at its last still moment.
    std::optional<QSize> resizeStart_;
    bool heldInResize_ = false;
    // The window's minimum as its layout had it, before a small screen's fit
    // lowered it.
    std::optional<QSize> windowMinimum_;
    hollowkit::TaskId resizeTask_ = 0;
    // The window's move to another screen, and its screen's size and usable area.
    QMetaObject::Connection screenWatch_;
    QMetaObject::Connection screenGeometryWatch_;
    QMetaObject::Connection screenAreaWatch_;
    // Tasks on the executor hold this weakly and do nothing once it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace lumenhollow
