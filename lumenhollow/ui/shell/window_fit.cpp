#include "lumenhollow/ui/shell/window_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lumenhollow {
namespace {

// Halves away from zero, like the picture sizes the camera reports.
int fitRound(double value) {
    return static_cast<int>(std::lround(value));
}

bool fitIsPortrait(double aspect) {
    return aspect < 1;
}

FitAnchor fitTopCentre(const FitRect& frame) {
    return FitAnchor{frame.x + frame.width / 2.0, frame.y};
}

// Whole pixels put a window of odd width half a pixel beside its anchor; the
// anchor keeps its exact place then, so turning back and forth does not
// creep sideways.
FitAnchor fitKeptAnchor(const FitRect& frame, const std::optional<FitAnchor>& current) {
    const FitAnchor placed = fitTopCentre(frame);
    if (current && current->y == placed.y && std::abs(current->x - placed.x) <= 0.5) return *current;
    return placed;
}

// A finished user resize keeps the height the user chose, whichever way the
// width went with it (a corner drag). Only a resize that left the height as
// it was (a drag of the left or right edge) keeps its width instead: keeping
// the height there would undo the drag entirely.
bool fitKeepsWidth(const FitRect& frame, const std::optional<FitSize>& before) {
    if (!before || before->width <= 0 || before->height <= 0) return false;
    return frame.height == before->height && frame.width != before->width;
}

// The part of `rect` under `chrome` rows (negative: the whole back).
FitRect fitBelowChrome(FitRect rect, int chrome) {
    rect.y += chrome;
    rect.height -= chrome;
    return rect;
}

// Raises `size` to the floor of the arrangement it gets; a size too short for
// the narrow arrangement takes the wide one's width. The wide arrangement
// raised past `areaHeight` comes back to it, down to its shortest.
FitSize fitRaisedToFloor(FitSize size, const FitFloor& floor, int areaHeight) {
    if (size.width < floor.narrowBelowWidth && size.height < floor.narrow.height) {
        size.width = std::max(size.width, floor.wide.width);
    }
    const bool narrow = size.width < floor.narrowBelowWidth;
    const FitSize& least = narrow ? floor.narrow : floor.wide;
    FitSize raised{std::max(size.width, least.width), std::max(size.height, least.height)};
    if (!narrow && floor.wideShortest > 0 && raised.height > areaHeight) {
        raised.height = std::max({size.height, areaHeight, floor.wideShortest});
    }
    return raised;
}

FitDecision fitInArea(const FitInputs& in);

}  // namespace

FitDecision computeFit(const FitInputs& in) {
    if (in.clearArea.width > 0 && in.clearArea.height > std::max(0, in.chromeHeight)) {
        FitInputs clear = in;
        clear.area = in.clearArea;
        const FitDecision below = fitInArea(clear);
        // Whole inside the clear part, or it would cover the strip anyway
        // and lose rows at the bottom besides.
        if (below.skipped || (below.frame.y >= in.clearArea.y && below.frame.bottom() <= in.clearArea.bottom())) {
            return below;
        }
    }
    return fitInArea(in);
}

FitRect areaClearOf(const FitRect& area, const FitRect& over) {
    const bool meets = over.width > 0 && over.height > 0 && over.x < area.right() && area.x < over.right() &&
                       over.y < area.bottom() && area.y < over.bottom();
    if (!meets || over.bottom() >= area.bottom()) return {};
    const int top = std::max(area.y, over.bottom());
    return FitRect{area.x, top, area.width, area.bottom() - top};
}

namespace {

FitDecision fitInArea(const FitInputs& in) {
    FitDecision decision;
    decision.memory = in.memory;
    // Everything below works on the picture's part of the window, so the
    // picture, not the window with its menu bar, takes the aspect.
    const int chrome = std::max(0, in.chromeHeight);
    const FitRect frame = fitBelowChrome(in.frame, chrome);
    // Written so a NaN aspect stops here too.
    if (in.fullScreen || in.maximized || frame.height <= 0 || !(in.aspect > 0)) {
        decision.skipped = true;
        decision.frame = in.frame;
        return decision;
    }
    const double aspect = in.aspect;
    const bool wasPortrait = in.memory.portrait.value_or(frame.height > frame.width);
    const bool portrait = fitIsPortrait(aspect);
    const bool changed = portrait != wasPortrait;
    const FitRect area =
        (in.area.width > 0 && in.area.height > chrome) ? fitBelowChrome(in.area, chrome) : frame;
    std::optional<FitSize> resizedFrom = in.resizedFrom;
    if (resizedFrom) resizedFrom->height -= chrome;
    std::optional<FitAnchor> anchor = in.memory.anchor;
    if (anchor) anchor->y += chrome;
    const std::optional<FitSize>& saved = portrait ? in.memory.portraitSize : in.memory.landscapeSize;

    int width = 0;
    int height = 0;
    if (!changed && fitKeepsWidth(frame, resizedFrom)) {
        width = frame.width;
        height = fitRound(width / aspect);
    } else {
        double target = frame.height;
        if (changed && saved) {
            target = saved->height;
        } else if (changed && portrait) {
            const double minimum = std::max(in.contentMinimumHeight - chrome, kFitPortraitMinimumHeight);
            target = std::min(std::max(kFitPortraitAreaShare * area.height, minimum), double(area.height));
        } else if (changed) {
            target = std::min(kFitLandscapeAreaShare * area.width, double(kFitLandscapeMaximumWidth)) / aspect;
        }
        width = fitRound(aspect * target);
        height = fitRound(target);
    }
    // The width first, then the height, so a tall picture on a wide screen
    // is limited by the height alone.
    if (width > area.width) {
        width = area.width;
        height = fitRound(area.width / aspect);
    }
    if (height > area.height) {
        width = fitRound(area.height * aspect);
        height = area.height;
    }
    // Below the floor the controls would not fit: the picture keeps its
    // shape inside a larger window, which on a screen smaller still may
    // reach past the area.
    const FitSize raised = fitRaisedToFloor(FitSize{width, height}, in.floor, area.height);
    width = raised.width;
    height = raised.height;

    const FitAnchor reference = anchor.value_or(fitTopCentre(frame));
    int x = changed ? fitRound(reference.x - width / 2.0) : frame.x;
    int y = changed ? reference.y : frame.y;
    // The maximum first, then the minimum: a window as wide as the area sits
    // at its left edge. One raised past the area keeps its top left on it.
    x = std::max(area.x, std::min(area.right() - width, std::max(x, area.x)));
    y = std::max(area.y, std::min(area.bottom() - height, std::max(y, area.y)));

    const FitRect picture{x, y, width, height};
    decision.frame = fitBelowChrome(picture, -chrome);
    decision.memory.portrait = portrait;
    (portrait ? decision.memory.portraitSize : decision.memory.landscapeSize) = FitSize{width, height};
    FitAnchor kept = fitKeptAnchor(picture, reference);
    kept.y -= chrome;
    decision.memory.anchor = kept;
    // Within a pixel is left alone, so the window's own notices of a fit do
    // not start another.
    decision.apply = std::abs(width - frame.width) > 1 || std::abs(height - frame.height) > 1 || x != frame.x ||
                     y != frame.y;
    return decision;
}

}  // namespace

std::optional<FitAnchor> anchorAfterMove(const FitRect& frame, bool fullScreen, bool maximized,
                                         const std::optional<FitAnchor>& current) {
    if (fullScreen || maximized) return std::nullopt;
    return fitKeptAnchor(frame, current);
}

}  // namespace lumenhollow
