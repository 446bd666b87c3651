#pragma once

// What the status pill shows: up to three figures (battery, card, the
// computer's free space), each a symbol, a text and a tooltip. An absent
// value leaves its figure out; nothing stands in for it.

#include <span>
#include <string>
#include <vector>

#include "hollowkit/camera/camera_types.h"
#include "lumenhollow/model/published_state.h"

namespace lumenhollow::ui {

struct StatusFigure {
    std::string symbol;
    std::string text;
    std::string tooltip;

    bool operator==(const StatusFigure&) const = default;
};

struct StatusPillState {
    std::vector<StatusFigure> figures;  // battery, card, computer, in that order

    bool operator==(const StatusPillState&) const = default;
};

// The battery symbol: charging wins, then >75, >50, >25, >=11, else empty.
std::string batterySymbol(const hollowkit::BatteryStatus& battery);

// Spacing between figures and the capsule's inset at each end.
inline constexpr double kStatusPillSpacing = 12;
inline constexpr double kStatusPillInset = 12;

// The capsule's width around figures of `figureWidths` (symbol and text
// each). With no figure it is the two insets alone: the empty capsule is
// still placed, with its background, by the window.
double statusPillWidth(std::span<const double> figureWidths);

// `compact`: the narrow window, where the card shows its free space alone and
// the computer's figure is left out.
StatusPillState statusPill(const PublishedState& state, bool compact);

}  // namespace lumenhollow::ui
