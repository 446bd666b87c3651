#pragma once

// LevelMeter: a row of small segments showing how loud the camera's sound
// is. It keeps nothing but what it shows: a new level that lights another
// number of segments fades the row over 0.08 s; one that lights the same
// number changes nothing. GUI thread.

#include <QPainterPath>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include <optional>
#include <vector>

namespace lumenhollow {

class LevelMeter final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSegmentWidth = 3;
    static constexpr int kSegmentHeight = 10;
    static constexpr int kSegmentSpacing = 2;

    LevelMeter(int segments, QWidget* parent);

    void setLevel(std::optional<float> level);
    int segments() const { return segments_; }
    int litCount() const { return lit_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const int segments_;
    int lit_ = 0;
    int fromLit_ = 0;
    double progress_ = 1.0;  // from fromLit_ to lit_
    QPointer<QVariantAnimation> animation_;  // deletes itself when done
    std::vector<QPainterPath> paths_;  // one per segment, made once
};

}  // namespace lumenhollow
