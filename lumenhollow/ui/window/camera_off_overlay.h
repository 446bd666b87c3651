#pragma once

// CameraOffOverlay: the dark panel over the preview while the camera is
// switched off: the power badge, "The camera is off", a small spinner with
// the promise to reconnect by itself, and the USB hint on the wireless
// route only (on USB it would warn about Wi-Fi that is not in use). Like
// the connecting panel it takes every press over its area. GUI thread only.

#include <QWidget>
#include <functional>

#include "lumenhollow/ui/window/window_layout.h"

class QLabel;

namespace lumenhollow {

class USBHint;

class CameraOffOverlay final : public QWidget {
    Q_OBJECT

public:
    static constexpr double kDimming = 0.85;
    static constexpr int kSpacing = 12;
    static constexpr int kBadgeSide = 56;

    CameraOffOverlay(std::function<void()> useUSB, QWidget* parent);

    void setState(const CameraOffOverlayState& state);
    const CameraOffOverlayState& state() const { return state_; }

    QLabel& title() const { return *title_; }
    QLabel& promise() const { return *promise_; }
    USBHint& hint() const { return *hint_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CameraOffOverlayState state_;
    QLabel* title_;
    QLabel* promise_;
    USBHint* hint_;
};

}  // namespace lumenhollow
