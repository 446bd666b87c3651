#pragma once

// SwitchButton: the on/off switch of the panels, a rounded track with a
// round knob, tinted when on. It shows the value it is given and reports a
// click through clicked() without flipping itself: the owner asks its model
// and sets the value back, so a refused change never shows. A screen reader
// finds it as a check box, checked while on, whose toggle and press actions
// are a click on it. GUI thread.

#include <QAbstractButton>
#include <QColor>

namespace lumenhollow::ui {

class SwitchButton final : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kWidth = 38;
    static constexpr int kHeight = 22;

    SwitchButton(const QColor& tint, QWidget* parent);
    void setOn(bool on);
    bool isOn() const { return on_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor tint_;
    bool on_ = false;
};

}  // namespace lumenhollow::ui
