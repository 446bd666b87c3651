#pragma once

// computeFit: where the main window goes so that the part of it under its
// menu bar keeps the picture's shape, as a plain function of the window's
// rectangle, the usable area of its screen, the picture's aspect, the rows
// the menu bar takes and what earlier fits remembered. The sizes and rules
// (the 747 portrait minimum, the 1152 landscape width) are the picture's;
// the bar comes on top, so the picture fills its part edge to edge.
// Integer screen pixels, y down (the anchor is the window's top centre).
// No Qt, so every rule is tested alone; WindowSizer feeds it from the real
// window.

#include <optional>

namespace lumenhollow {

struct FitSize {
    int width = 0;
    int height = 0;

    bool operator==(const FitSize&) const = default;
};

struct FitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int right() const { return x + width; }    // one past the last column
    int bottom() const { return y + height; }  // one past the last row
    bool operator==(const FitRect&) const = default;
};

// The top centre under which the window stays when it turns.
struct FitAnchor {
    double x = 0;
    int y = 0;

    bool operator==(const FitAnchor&) const = default;
};

// What one fit hands to the next.
struct FitMemory {
    std::optional<bool> portrait;              // the orientation of the last fit
    // The last picture size (the window below its bar) set per orientation.
    std::optional<FitSize> landscapeSize;
    std::optional<FitSize> portraitSize;
    std::optional<FitAnchor> anchor;

    bool operator==(const FitMemory&) const = default;
};

// The smallest picture part in which the window's controls still fit, for
// the narrow arrangement (below `narrowBelowWidth`) and the wide one. A
// picture whose shape would give less gets bars beside or above it instead:
// a portrait picture on a short screen takes the wide arrangement's width.
// Where the area is shorter than the wide floor, the wide arrangement goes
// down to `wideShortest` instead (zero: not below the wide floor), so the
// window stays in the area. All zero: no floor.
struct FitFloor {
    int narrowBelowWidth = 0;
    FitSize narrow;
    FitSize wide;
    int wideShortest = 0;

    bool operator==(const FitFloor&) const = default;
};

struct FitInputs {
    FitRect frame;  // the window's content rectangle now, menu bar included
    FitRect area;   // where the content may go; empty: the frame itself
    // The part of the area clear of what lies over the screen's top (the
    // island's closed strip): the window goes there when it fits there whole,
    // else the whole area holds it. Empty: none.
    FitRect clearArea;
    double aspect = 0;  // picture width over height
    // The rows of the frame above (or below) the picture: the menu bar.
    int chromeHeight = 0;
    int contentMinimumHeight = 0;  // the window's, menu bar included
    bool fullScreen = false;
    bool maximized = false;
    FitFloor floor;
    // Set when the user has just finished resizing: the size before it.
    std::optional<FitSize> resizedFrom;
    FitMemory memory;
};

struct FitDecision {
    bool skipped = false;  // nothing to do: the frame and the memory stay
    FitRect frame;         // the new content rectangle, menu bar included
    bool apply = false;    // false: within a pixel of the current size, same place
    FitMemory memory;

    bool operator==(const FitDecision&) const = default;
};

inline constexpr int kFitPortraitMinimumHeight = 747;
inline constexpr double kFitPortraitAreaShare = 0.86;
inline constexpr double kFitLandscapeAreaShare = 0.75;
inline constexpr int kFitLandscapeMaximumWidth = 1152;

FitDecision computeFit(const FitInputs& inputs);

// The area less the band at its top down to the bottom of `over` (a shape
// lying over the screen's top edge, such as the island's closed strip), when
// `over` meets the area; empty when it does not, or leaves no room.
FitRect areaClearOf(const FitRect& area, const FitRect& over);

// The anchor a move of the window to `frame` leaves (`current` when the
// window's top centre is within half a pixel of it); nothing in full screen
// or maximised, where the anchor stays what it was.
std::optional<FitAnchor> anchorAfterMove(const FitRect& frame, bool fullScreen, bool maximized,
                                         const std::optional<FitAnchor>& current);

}  // namespace lumenhollow
