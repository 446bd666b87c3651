#pragma once

// USBHint: the warning that the wireless route takes the computer off the
// internet, with a "Use USB-C Instead" pill that runs the action it was
// given. Placed inside the connecting and camera-off panels. GUI thread only.

#include <QWidget>
#include <functional>

class QLabel;

namespace lumenhollow {

namespace ui {
class PillButton;
}

class USBHint final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kTextMaxWidth = 340;
    static constexpr int kSpacing = 8;

    USBHint(std::function<void()> action, QWidget* parent);

    QLabel& warning() const { return *warning_; }
    ui::PillButton& button() const { return *button_; }

private:
    std::function<void()> action_;
    QLabel* warning_;
    ui::PillButton* button_;
};

}  // namespace lumenhollow
