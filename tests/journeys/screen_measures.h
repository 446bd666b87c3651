#pragma once

// The few measures the journeys judge what the screen shows by (readScreen
// in journey_screen.h reads it), and the report's rectangles on it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/journeys/journey_screen.h"

namespace lumenhollow::journey {

// A state report's rectangle ({x, y, width, height}); nothing for null.
std::optional<ScreenRect> reportedArea(const nlohmann::json& rect);

// The measures read a grid of points `inset` pixels inside the picture's
// edges (clear of rounded corners and rims).
// How far the points stray from grey, on average (0 for black, white or grey).
double screenColourfulness(const ScreenPicture& picture, int inset);
// The share of points darker than 16 in every channel.
double screenDarkShare(const ScreenPicture& picture, int inset);
// The mean per-channel difference of two pictures of one size.
double screenDifference(const ScreenPicture& a, const ScreenPicture& b, int inset);

}  // namespace lumenhollow::journey
