#pragma once

// WindowDragArea: the strip at the top of the window that moves it, as a
// title bar would: a press held while the pointer goes the drag distance
// starts the window manager's move, or moves the window by hand when no
// window manager answers (a bare X server); a plain click moves nothing,
// and a double click maximises or restores. Controls laid over it keep their own clicks.
// WindowOps is the seam to the window, so tests see what the strip asks.
// GUI thread only.

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace lumenhollow {

class WindowOps {
public:
    virtual ~WindowOps() = default;
    // The window manager moves the window until the button goes up; false
    // when it will not.
    virtual bool startSystemMove() = 0;
    virtual QPoint windowPosition() const = 0;
    virtual void moveWindowTo(QPoint topLeft) = 0;
    virtual void toggleMaximized() = 0;
};

// WindowOps on the top-level window of `widget`.
class QtWindowOps final : public WindowOps {
public:
    explicit QtWindowOps(QWidget* widget) : widget_(widget) {}
    bool startSystemMove() override;
    QPoint windowPosition() const override;
    void moveWindowTo(QPoint topLeft) override;
    void toggleMaximized() override;

private:
    QPointer<QWidget> widget_;
};

class WindowDragArea final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 40;

    // `ops` must outlive the strip.
    WindowDragArea(WindowOps& ops, QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // From a left press until its release.
    struct Press {
        QPoint pressGlobal;
        QPoint windowStart;
        bool moving = false;  // past the drag distance: the move began
        bool manual = false;  // no window manager took it: moved by hand
    };

    WindowOps& ops_;
    std::optional<Press> press_;
};

}  // namespace lumenhollow
