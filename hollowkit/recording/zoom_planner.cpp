#include "hollowkit/recording/zoom_planner.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hollowkit {

namespace {

// Looks the pointer up this far ahead, so the view starts moving as the
// pointer does rather than after it.
constexpr double kPointerLookAhead = 0.1;
// Below this log-zoom the view is practically the whole screen and its centre
// need not glide.
constexpr double kUnzoomedLogScale = 0.002;

bool insideScreen(double x, double y) {
    return x >= 0 && x <= 1 && y >= 0 && y <= 1;
}

// Appends `segment`, or merges it into the last one when it starts less than
// the merge gap after that one ends (the last keeps its start and focus).
void appendOrMerge(std::vector<ZoomPlanner::Segment>& list, const ZoomPlanner::Segment& segment, double mergeGap) {
    if (list.empty() || segment.start - list.back().end >= mergeGap) {
        list.push_back(segment);
    } else {
        list.back().end = std::max(list.back().end, segment.end);
    }
}

// Angular frequency of a spring with this period; 0 (no spring: jump to the
// target) for a period that is not a positive number.
double angularFrequency(double period) {
    return std::isfinite(period) && period > 0 ? 2 * std::numbers::pi / period : 0;
}

// One semi-implicit Euler step of a critically damped spring.
void springStep(double& value, double& velocity, double target, double omega, double dt) {
    if (omega <= 0) {
        value = target;
        velocity = 0;
        return;
    }
    velocity += (-2 * omega * velocity - omega * omega * (value - target)) * dt;
    value += velocity * dt;
}

}  // namespace

ZoomRect ZoomPath::rect(double seconds) const {
    if (rects.empty()) return ZoomRect{};
    const double f = std::isfinite(seconds) ? std::max(0.0, seconds) * kRectsPerSecond
                                            : (seconds > 0 ? HUGE_VAL : 0.0);
    const size_t last = rects.size() - 1;
    // Clamped in floating point before the conversion: a huge time must not
    // overflow the index.
    const double whole = std::floor(std::min(f, static_cast<double>(last)));
    const auto i = static_cast<size_t>(whole);
    if (i >= last) return rects[last];
    const double fraction = f - whole;
    const ZoomRect& a = rects[i];
    const ZoomRect& b = rects[i + 1];
    const auto mix = [fraction](double from, double to) { return from + fraction * (to - from); };
    return {mix(a.x, b.x), mix(a.y, b.y), mix(a.width, b.width), mix(a.height, b.height)};
}

bool ZoomPath::isFullFrame() const {
    return std::all_of(rects.begin(), rects.end(), [](const ZoomRect& r) { return r.width > 0.999; });
}

std::vector<ZoomPlanner::Segment> ZoomPlanner::segments(const CursorTimeline& timeline, double duration,
                                                        const ZoomSettings& settings) {
    std::vector<Segment> list;
    if (!std::isfinite(duration)) return list;

    const double limit = std::max(0.0, duration - settings.endMargin);
    for (const CursorSample& click : timeline.pressOnsets()) {
        // Clicks on the app's own windows never zoom, nor clicks in the
        // recording's last moments or off the recorded display.
        if (click.overApp || !(click.time >= 0 && click.time < duration - settings.ignoreTail) ||
            !insideScreen(click.x, click.y)) {
            continue;
        }
        const Segment segment{std::max(0.0, click.time - settings.leadIn), std::min(click.time + settings.hold, limit),
                              Point{click.x, click.y}};
        appendOrMerge(list, segment, settings.mergeGap);
    }

    // Typing shortly after a segment keeps the view where the user works.
    for (const double key : timeline.keyPresses) {
        for (Segment& segment : list) {
            if (segment.start <= key && key <= segment.end + settings.mergeGap) {
                segment.end = std::min(limit, std::max(segment.end, key + settings.hold));
                break;
            }
        }
    }

    // Extended segments may now reach their neighbours.
    std::vector<Segment> merged;
    merged.reserve(list.size());
    for (const Segment& segment : list) appendOrMerge(merged, segment, settings.mergeGap);
    return merged;
}

ZoomPath ZoomPlanner::plan(const CursorTimeline& timeline, double duration, const ZoomSettings& settings) {
    if (!std::isfinite(duration) || duration <= 0) return ZoomPath::none();
    const std::vector<Segment> list = segments(timeline, duration, settings);
    if (list.empty()) return ZoomPath::none();

    // A zoom factor below 1 (or not a number) would show more than the
    // screen; such settings plan no zoom.
    const double scale = std::isfinite(settings.scale) && settings.scale >= 1 ? settings.scale : 1.0;
    const double zoomTarget = std::log(scale);
    const double margin = 0.5 / scale;
    const double omegaZoom = angularFrequency(settings.zoomResponse);
    const double omegaPan = angularFrequency(settings.panResponse);
    const double dt = 1.0 / ZoomPath::kRectsPerSecond;

    const double planned = std::min(duration, kMaxDuration);
    const auto frames = static_cast<size_t>(std::ceil(planned * ZoomPath::kRectsPerSecond)) + 1;

    ZoomPath path;
    path.rects.reserve(frames);
    double z = 0;
    double vz = 0;
    double cx = 0.5;
    double cy = 0.5;
    double vcx = 0;
    double vcy = 0;
    double tx = 0.5;
    double ty = 0.5;
    size_t first = 0;  // segments before this one ended before the current frame

    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) * dt;
        // Frames run forward, so segments that have ended stay behind.
        while (first < list.size() && list[first].end < t) ++first;
        const Segment* segment = nullptr;
        for (size_t s = first; s < list.size(); ++s) {
            if (list[s].start <= t && t <= list[s].end) {
                segment = &list[s];
                break;
            }
        }

        double zt = 0;
        if (segment != nullptr) {
            if (t < segment->start + settings.leadIn) {
                tx = segment->focus.x;
                ty = segment->focus.y;
            } else if (const auto p = timeline.position(t + kPointerLookAhead); p && insideScreen(p->x, p->y)) {
                // The pointer may move freely inside a box around the
                // target; beyond it, it drags the target along.
                const double h = (0.5 / std::exp(z)) * settings.safeArea;
                const auto follow = [h](double& target, double pointer) {
                    if (target + h < pointer) target = pointer - h;
                    if (pointer < target - h) target = pointer + h;
                };
                follow(tx, p->x);
                follow(ty, p->y);
            }
            // Keep the target where a fully zoomed view still fits.
            tx = std::min(1 - margin, tx <= margin ? margin : tx);
            ty = std::min(1 - margin, ty <= margin ? margin : ty);
            zt = zoomTarget;
        } else {
            tx = 0.5;
            ty = 0.5;
        }

        springStep(z, vz, zt, omegaZoom, dt);
        if (z < kUnzoomedLogScale) {
            cx = tx;
            cy = ty;
            vcx = 0;
            vcy = 0;
        } else {
            springStep(cx, vcx, tx, omegaPan, dt);
            springStep(cy, vcy, ty, omegaPan, dt);
        }

        const double side = 1 / std::exp(z);
        const double x = std::min(1 - side, std::max(0.0, cx - side / 2));
        const double y = std::min(1 - side, std::max(0.0, cy - side / 2));
        path.rects.push_back({x, y, side, side});
    }
    return path;
}

}  // namespace hollowkit
