#pragma once

// The click zoom of a combined screen-and-camera video. ZoomPlanner turns a
// take's cursor timeline into zoom segments (clicks, and the typing that
// follows them, grouped) and then runs two critically damped springs over
// them, one on the logarithm of the zoom factor and one on the view's centre,
// giving a ZoomPath: one view rectangle of the screen per 1/60 s. Rectangles
// are normalised to the screen with the origin at the top left, y downwards.
// Pure functions and plain values, any thread; a path is read by the
// compositor without locking.

#include <cstddef>
#include <vector>

#include "hollowkit/recording/cursor_timeline.h"

namespace hollowkit {

struct ZoomSettings {
    double scale = 1.8;         // zoom factor of a click zoom
    double leadIn = 0.4;        // seconds a segment starts before its first click
    double hold = 2.5;          // seconds a segment lasts after its last click or key press
    double mergeGap = 2.5;      // seconds: closer segments merge; key presses this late extend
    double zoomResponse = 0.85;  // period of the zoom spring, seconds
    double panResponse = 0.65;   // period of the centre spring, seconds
    double safeArea = 0.5;      // share of the visible half-size the pointer may roam freely
    double ignoreTail = 1.0;    // clicks in the recording's last seconds are ignored
    double endMargin = 0.8;     // no segment lasts beyond duration - endMargin

    bool operator==(const ZoomSettings&) const = default;
};

// A rectangle normalised to the screen, origin at the top left.
struct ZoomRect {
    double x = 0;
    double y = 0;
    double width = 1;
    double height = 1;

    double maxX() const { return x + width; }
    double maxY() const { return y + height; }

    bool operator==(const ZoomRect&) const = default;
};

struct ZoomPath {
    static constexpr double kRectsPerSecond = 60.0;

    // Rectangle i is the view at i/60 s from the start of the take.
    std::vector<ZoomRect> rects;

    bool operator==(const ZoomPath&) const = default;

    // The path that never zooms.
    static ZoomPath none() { return {}; }

    // The view at `seconds`, interpolated between the two rectangles around
    // it; the whole screen for an empty path. Times before 0 (or not a
    // number) use the first rectangle, times after the end the last one.
    // Constant time.
    ZoomRect rect(double seconds) const;

    // True when no rectangle is narrower than 0.999 of the screen (an empty
    // path too).
    bool isFullFrame() const;
};

class ZoomPlanner {
public:
    ZoomPlanner() = delete;

    struct Point {
        double x = 0;
        double y = 0;
        bool operator==(const Point&) const = default;
    };

    struct Segment {
        double start = 0;  // seconds
        double end = 0;
        Point focus;       // the first click's position

        bool operator==(const Segment&) const = default;
    };

    // Longest recording planned, in seconds; a longer one is planned up to
    // here and its end keeps the last view (bounds the path's memory).
    static constexpr double kMaxDuration = 12.0 * 3600.0;

    // The zoom segments of a take lasting `duration` seconds, with the
    // timeline counted from the take's start.
    static std::vector<Segment> segments(const CursorTimeline& timeline, double duration,
                                         const ZoomSettings& settings = {});

    // The view rectangles: ceil(60 x duration) + 1 of them; ZoomPath::none()
    // when nothing zooms or the duration is not positive.
    static ZoomPath plan(const CursorTimeline& timeline, double duration, const ZoomSettings& settings = {});
};

}  // namespace hollowkit
