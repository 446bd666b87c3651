#pragma once

// What a journey's X server really shows, read back from its root window by
// a client of the test's own (the island is an override-redirect window of
// another process: only the screen says what the user sees), and the few
// measures the journeys judge it by. One caller thread; each read opens
// and closes its own connection.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumenhollow::journey {

struct ScreenArea {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int centreX() const { return x + width / 2; }
    int centreY() const { return y + height / 2; }
};

// A state report's rectangle ({x, y, width, height}); nothing for null.
std::optional<ScreenArea> reportedArea(const nlohmann::json& rect);

struct ScreenPicture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
};

// The pixels shown in `area` of `display`'s screen; nothing when the server
// cannot be reached or the area is off the screen.
std::optional<ScreenPicture> readScreen(const std::string& display, const ScreenArea& area);

// The measures read a grid of points `inset` pixels inside the picture's
// edges (clear of rounded corners and rims).
// How far the points stray from grey, on average (0 for black, white or grey).
double screenColourfulness(const ScreenPicture& picture, int inset);
// The share of points darker than 16 in every channel.
double screenDarkShare(const ScreenPicture& picture, int inset);
// The mean per-channel difference of two pictures of one size.
double screenDifference(const ScreenPicture& a, const ScreenPicture& b, int inset);

}  // namespace lumenhollow::journey
