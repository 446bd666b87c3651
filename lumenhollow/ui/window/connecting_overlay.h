#pragma once

// ConnectingOverlay: the dimmed panel over the preview while no picture
// arrives: a spinner and the status line, or after a failure the warning
// triangle and a "Reconnect" pill; the USB hint on the wireless route. It
// takes every press, drag and scroll over its area, so nothing steers the
// camera through it. What it shows comes from ConnectingOverlayState; its
// buttons only run the actions it was given. GUI thread only.

#include <QWidget>
#include <functional>

#include "lumenhollow/ui/window/window_layout.h"

class QLabel;

namespace lumenhollow {

namespace ui {
class PillButton;
class Spinner;
}  // namespace ui

class USBHint;

class ConnectingOverlay final : public QWidget {
    Q_OBJECT

public:
    static constexpr double kDimming = 0.62;
    static constexpr int kSpacing = 14;
    static constexpr int kTextMaxWidth = 360;

    // Either action may be empty: without `retry` no "Reconnect", without
    // `useUSB` no hint, whatever the state says.
    ConnectingOverlay(std::function<void()> retry, std::function<void()> useUSB, QWidget* parent);

    void setState(const ConnectingOverlayState& state);
    const ConnectingOverlayState& state() const { return state_; }

    // The parts, for the window's tests.
    QLabel& statusLine() const { return *status_; }
    ui::Spinner& spinner() const { return *spinner_; }
    QWidget& warning() const { return *warning_; }
    USBHint& hint() const { return *hint_; }
    ui::PillButton& reconnect() const { return *reconnect_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void()> retry_;
    std::function<void()> useUSB_;
    ConnectingOverlayState state_;
    ui::Spinner* spinner_;
    QWidget* warning_;
    QLabel* status_;
    USBHint* hint_;
    ui::PillButton* reconnect_;
};

}  // namespace lumenhollow
