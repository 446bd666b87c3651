#pragma once

// The island's small status marks, drawn by the views that place them:
// BatteryGlyph (the level as "85%" and a battery with its bar, red at 15 %
// and below, yellow to 30 %, green above, a bolt while charging) and
// PulsingDot (the recording dot, 1 ↔ 0.35 opacity every 0.8 s). Each is set
// up once per change and then painted without allocating. GUI thread.

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QSizeF>

#include "lumenhollow/ui/kit/typography.h"

class QPainter;

namespace lumenhollow::ui {

// The island's green for a live camera and its dimmed white for second-rank
// glyphs and texts, the same in every part that shows them.
inline const QColor kIslandGreen(0x32, 0xd7, 0x4b);
inline const QColor kIslandSecondary(255, 255, 255, 140);

class BatteryGlyph {
public:
    BatteryGlyph();
    // `percent` outside 0...100 is clamped, so the bar stays in its outline.
    void set(int percent, bool charging);

    QSizeF size() const;
    // Draws the glyph with its left edge at `left`, centred on `midY`.
    void paint(QPainter& painter, double left, double midY) const;

    // The level bar's width (at least 2 of the 16 points inside the outline).
    double barWidth() const;
    QColor barColor() const;
    QColor textColor() const;

private:
    int percent_ = 0;
    bool charging_ = false;
    QFont font_;
    TabularLine text_;
};

class PulsingDot {
public:
    static constexpr double kDiameter = 7;
    static constexpr double kDimOpacity = 0.35;
    static constexpr double kHalfPeriodSeconds = 0.8;

    // The dot's opacity `seconds` after it was first shown: from full down
    // to 0.35 and back, eased in and out, 0.8 s each way.
    static double opacityAt(double seconds);

    static void paint(QPainter& painter, const QPointF& centre, const QColor& color, double opacity);
};

}  // namespace lumenhollow::ui
