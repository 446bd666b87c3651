#include "tests/journeys/screen_measures.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace lumenhollow::journey {
namespace {

constexpr int kScreenGridStep = 6;
constexpr int kScreenBlackLevel = 16;

int screenRed(uint32_t pixel) { return static_cast<int>((pixel >> 16) & 0xFF); }
int screenGreen(uint32_t pixel) { return static_cast<int>((pixel >> 8) & 0xFF); }
int screenBlue(uint32_t pixel) { return static_cast<int>(pixel & 0xFF); }

// The mean of `measure` over the grid; 0 for a grid without points.
double screenGridMean(const ScreenPicture& picture, int inset, const std::function<double(int, int)>& measure) {
    double sum = 0;
    int points = 0;
    for (int y = inset; y < picture.height - inset; y += kScreenGridStep) {
        for (int x = inset; x < picture.width - inset; x += kScreenGridStep) {
            sum += measure(x, y);
            ++points;
        }
    }
    return points ? sum / points : 0;
}

}  // namespace

std::optional<ScreenRect> reportedArea(const nlohmann::json& rect) {
    if (!rect.is_object()) return std::nullopt;
    return ScreenRect{rect.value("x", 0), rect.value("y", 0), rect.value("width", 0), rect.value("height", 0)};
}

double screenColourfulness(const ScreenPicture& picture, int inset) {
    return screenGridMean(picture, inset, [&](int x, int y) {
        const uint32_t p = picture.at(x, y);
        const int r = screenRed(p);
        const int g = screenGreen(p);
        const int b = screenBlue(p);
        return static_cast<double>(std::max({r, g, b}) - std::min({r, g, b}));
    });
}

double screenDarkShare(const ScreenPicture& picture, int inset) {
    return screenGridMean(picture, inset, [&](int x, int y) {
        const uint32_t p = picture.at(x, y);
        const bool dark = screenRed(p) < kScreenBlackLevel && screenGreen(p) < kScreenBlackLevel &&
                          screenBlue(p) < kScreenBlackLevel;
        return dark ? 1.0 : 0.0;
    });
}

double screenDifference(const ScreenPicture& a, const ScreenPicture& b, int inset) {
    if (a.width != b.width || a.height != b.height) return 255;
    return screenGridMean(a, inset, [&](int x, int y) {
        const uint32_t p = a.at(x, y);
        const uint32_t q = b.at(x, y);
        return (std::abs(screenRed(p) - screenRed(q)) + std::abs(screenGreen(p) - screenGreen(q)) +
                std::abs(screenBlue(p) - screenBlue(q))) /
               3.0;
    });
}

}  // namespace lumenhollow::journey
