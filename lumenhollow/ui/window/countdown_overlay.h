#pragma once

// CountdownOverlay: the seconds left before a recording starts, in white
// 120-pixel bold digits of equal width with a soft black shadow, centred
// where it is placed. A new number rolls down into place on a spring (at
// once with animations off). Each number is drawn once, shadow and all,
// into a cached image at the screen's scale; painting only blits. Takes no mouse input. GUI
// thread only.

#include <QImage>
#include <QPointer>
#include <QWidget>

class QVariantAnimation;

namespace lumenhollow {

// The size of the overlay, in logical pixels.
QSize countdownNumberSize();
// `seconds` with its shadow, countdownNumberSize() in logical pixels, drawn
// at `devicePixelRatio` device pixels to each.
QImage countdownNumber(int seconds, qreal devicePixelRatio);

class CountdownOverlay final : public QWidget {
    Q_OBJECT

public:
    static constexpr double kDigitPx = 120;
    static constexpr double kShadowRadius = 12;
    static constexpr double kShadowOpacity = 0.5;

    explicit CountdownOverlay(QWidget* parent);

    void setRemaining(int seconds);
    // Forgets the number, so the next countdown appears without a roll.
    void clear();
    int remaining() const { return remaining_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int remaining_ = 0;
    QImage current_;
    QImage leaving_;     // the number rolling out, while the roll runs
    double roll_ = 1.0;  // 0 at the change, 1 when settled
    // Cleared by Qt when the roll ends and deletes itself, also while this
    // overlay is being destroyed.
    QPointer<QVariantAnimation> rolling_;
};

}  // namespace lumenhollow
