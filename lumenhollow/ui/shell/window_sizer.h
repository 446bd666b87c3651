#pragma once

// WindowSizer: keeps the attached window's content in the picture's shape.
// It fits when the model's settled resolution changes, once a user resize
// has been still for a moment (X11 has no "resize ended", so a quiet spell
// on the main executor stands in for it), and at once when attached; a move
// records the top centre the window turns under. The rules are computeFit's;
// this class only reads the window and applies the result. One per process,
// owned by the application. GUI thread (the main executor's) only.

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
    };

    // `model` and `main` must outlive the sizer.
    WindowSizer(ModelSignals& model, hollowkit::MainExecutor& main, Options options, QObject* parent = nullptr);
    ~WindowSizer() override;
    WindowSizer(const WindowSizer&) = delete;
    WindowSizer& operator=(const WindowSizer&) = delete;

    // Makes `window` the sized one and fits it now and once more on a later
    // turn; the same window again does nothing. The orientation, the sizes
    // kept per orientation and the anchor carry over to a new window.
    void attach(QWidget* window);
    void fit();

    QWidget* window() const { return window_; }
    const FitMemory& memory() const { return memory_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitWithInputs(std::optional<FitSize> resizedFrom);
    void userResized(QSize from);
    // The screen's usable area less the window manager's frame, and the
    // same area below what `keepClearOf` names (empty when nothing is there).
    struct Areas {
        QRect whole;
        QRect clear;
    };
    Areas contentAreas(const QWidget& window) const;
    void fitMinimums(QWidget& window, QSize size, int chrome, double aspect, const QRect& area);

    ModelSignals& model_;
    hollowkit::MainExecutor& main_;
    Options options_;
    QPointer<QWidget> window_;
    FitMemory memory_;
    std::optional<PictureSize> lastResolution_;
    // The size the sizer asked for last: its echo is not a user's resize.
    std::optional<QSize> expectedSize_;
    // The size before the user's resize in progress, and its quiet-spell timer.
    std::optional<QSize> resizeStart_;
    // The window's minimum as its layout had it, before a small screen's fit
    // lowered it.
    std::optional<QSize> windowMinimum_;
    hollowkit::TaskId resizeTask_ = 0;
    QMetaObject::Connection screenWatch_;
    // Tasks on the executor hold this weakly and do nothing once it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace lumenhollow
