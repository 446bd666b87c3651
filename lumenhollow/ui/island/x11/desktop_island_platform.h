#pragma once

// The island's desktop services on a real display: Qt's screens, the X
// server's pointer (polled, since X11 tells an application only about its
// own windows), the panel's input pass-through and the compositor check.
// GUI thread only.

#include <QPointer>
#include <QWidget>

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

// Asks the X server every ~16 ms, and at once for moves over our own windows
// (an application event filter). Elsewhere than on X11, Qt's cursor and the
// buttons it knows of.
class DesktopPointerSource final : public PointerSource {
    Q_OBJECT
public:
    static constexpr auto kPollInterval = std::chrono::milliseconds(16);

    DesktopPointerSource(hollowkit::MainExecutor& main, QObject* parent = nullptr);
    ~DesktopPointerSource() override;
    PointerSample sample() const override { return last_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void poll();
    PointerSample query() const;

    hollowkit::MainExecutor& main_;
    hollowkit::TaskId pollTask_ = 0;
    PointerSample last_;
};

// The window's input region: empty while passing through.
class WindowPanelInput final : public PanelInput {
public:
    explicit WindowPanelInput(QWidget& panel) : panel_(&panel) {}
    void setPassThrough(bool on) override;
    bool passThrough() const override { return on_; }

private:
    QPointer<QWidget> panel_;
    bool on_ = true;
};

// Translucent when a compositing manager owns the screen's _NET_WM_CM_S<n>
// selection, a shape mask otherwise; translucent away from X11.
IslandWindowMode detectIslandWindowMode();

}  // namespace lumenhollow::ui
