#pragma once

// The island's desktop services on a real display: Qt's screens, the X
// server's pointer (asked for, since X11 tells an application only about
// its own windows), the panel's input pass-through and the compositor
// check. GUI thread only.

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "hollowkit/base/executor.h"
#include "lumenhollow/ui/island/island_platform.h"

namespace lumenhollow::ui {

class QtScreenSource final : public ScreenSource {
    Q_OBJECT
public:
    QtScreenSource(const NotchSource& notches, QObject* parent = nullptr);
    std::vector<ScreenInfo> screens() const override;

private:
    void watch(QScreen* screen);

    const NotchSource& notches_;
};

// Only while watched, asks the X server where the pointer is when the
// server says the pointer moved or a button changed (XInput 2 raw events on
// the root window, over a connection of its own) and when our own windows
// hear of it (an application event filter: a pointer moved by a program
// sends no raw event), at most once every ~16 ms, and at once for a press
// or release over our windows. A still pointer costs nothing. Without raw
// events (an X server without XInput 2.1, or away from X11, where Qt's
// cursor and the buttons it knows of stand in) it also asks every ~16 ms.
// Unwatched, it holds no connection, runs no timer and filters nothing.
class DesktopPointerSource final : public PointerSource {
    Q_OBJECT
public:
    static constexpr auto kPollInterval = std::chrono::milliseconds(16);

    DesktopPointerSource(hollowkit::MainExecutor& main, QObject* parent = nullptr);
    ~DesktopPointerSource() override;
    PointerSample sample() const override { return last_; }
    void setWatching(bool watching) override;

    // How often the pointer has been asked for, and whether moves are heard
    // as the server's events (rather than asked for on a timer).
    uint64_t queries() const { return queries_; }
    bool hearsRawEvents() const { return raw_ != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct RawEvents;

    void poll();
    void activity();
    void holdBack();
    void readRawEvents();
    bool drainRawEvents();
    void stopRawEvents();
    PointerSample query() const;

    hollowkit::MainExecutor& main_;
    bool watching_ = false;
    hollowkit::TaskId pollTask_ = 0;     // the timer, without raw events
    hollowkit::TaskId holding_ = 0;  // the end of an interval after a query
    bool heldBack_ = false;          // activity heard while holding

    std::unique_ptr<RawEvents> raw_;
    PointerSample last_;
    uint64_t queries_ = 0;
};

// The window's input region: the island's area while passing through, the
// whole window otherwise. Away from X11, Qt's all-or-nothing flag.
class WindowPanelInput final : public PanelInput {
public:
    explicit WindowPanelInput(QWidget& panel);
    void setPassThrough(bool on) override;
    bool passThrough() const override { return on_; }
    void setIslandArea(const QRect& area) override;

private:
    void apply();

    QPointer<QWidget> panel_;
    bool on_ = true;
    QRect area_;
};

// Translucent while a compositing manager owns the screen's _NET_WM_CM_S<n>
// selection, a shape mask otherwise. The X server tells of every change of
// that owner (XFixes selection events, over a connection of its own), so a
// compositor that starts or stops later is followed. Away from X11, or
// where the server cannot tell, the mode found at start stays (translucent
// away from X11).
class CompositorWatch final : public WindowModeSource {
    Q_OBJECT
public:
    explicit CompositorWatch(QObject* parent = nullptr);
    ~CompositorWatch() override;
    IslandWindowMode mode() const override { return mode_; }

private:
    struct Connection;

    void read();

    std::unique_ptr<Connection> x_;
    IslandWindowMode mode_ = IslandWindowMode::translucent;
};

}  // namespace lumenhollow::ui
