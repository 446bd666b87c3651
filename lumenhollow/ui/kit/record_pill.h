#pragma once

// The record button: a 40-high glass capsule with the accent dot (a stop
// square while recording), the status text and the target chip, painting
// RecordPillState. While recording, the text is redrawn on each whole second
// of the recording, by the clock it is given.

#include <QAbstractButton>
#include <functional>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/record_pill_state.h"
#include "lumenhollow/ui/kit/typography.h"

#include <QFont>
#include <QSizeF>
#include <QString>

namespace lumenhollow::ui {

class Ticker;

class RecordPill : public QAbstractButton {
    Q_OBJECT
public:
    using WallNow = std::function<hollowkit::WallTime()>;

    RecordPill(WallNow now, QWidget* parent);
    void setInputs(const RecordPillInputs& inputs);
    // What is drawn now.
    const RecordPillState& state() const { return state_; }
    // Recomputes the state for the clock's time (also what each tick does).
    void refresh();

    QSize sizeHint() const override;
    QRectF chipRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    bool event(QEvent* event) override;

private:
    std::chrono::milliseconds untilNextSecond() const;
    // Sets the text and the chip's title for painting, once per change.
    void measure();

    WallNow now_;
    RecordPillInputs inputs_;
    RecordPillState state_;
    Ticker* ticker_;
    QFont textFont_;
    QFont chipFont_;
    TabularLine text_;
    QString chipTitle_;
    TextRun chipTitleRun_;
    double chipBaselineShift_ = 0;  // from the chip's middle line to its baseline
    QSizeF chipSize_;
    GlassLook glass_;
};

}  // namespace lumenhollow::ui
