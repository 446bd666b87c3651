#pragma once

// The activity spinner: twelve spokes whose brightness runs round once a
// second. With animations off its phase stays at the start, so screenshots
// are stable.

#include <QColor>
#include <QWidget>

class QVariantAnimation;

namespace lumenhollow::ui {

class Spinner : public QWidget {
    Q_OBJECT
public:
    enum class Size { large, mini };  // 32 and 12 pixels across

    Spinner(Size size, QWidget* parent);
    void setColor(const QColor& color);
    double phase() const { return phase_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor color_{Qt::white};
    double phase_ = 0;  // 0...1, the leading spoke's place in the turn
    QVariantAnimation* turning_ = nullptr;
};

}  // namespace lumenhollow::ui
