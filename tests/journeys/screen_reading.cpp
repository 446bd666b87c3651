#include "tests/journeys/screen_reading.h"

#include <xcb/xcb.h>

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

std::optional<ScreenArea> reportedArea(const nlohmann::json& rect) {
    if (!rect.is_object()) return std::nullopt;
    return ScreenArea{rect.value("x", 0), rect.value("y", 0), rect.value("width", 0), rect.value("height", 0)};
}

std::optional<ScreenPicture> readScreen(const std::string& display, const ScreenArea& area) {
    if (area.width <= 0 || area.height <= 0) return std::nullopt;
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return std::nullopt;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    std::optional<ScreenPicture> picture;
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<int16_t>(area.x),
                      static_cast<int16_t>(area.y), static_cast<uint16_t>(area.width),
                      static_cast<uint16_t>(area.height), ~0U),
        nullptr);
    // A 24-bit screen keeps each pixel in 32 bits, blue first.
    const size_t count = static_cast<size_t>(area.width) * static_cast<size_t>(area.height);
    if (image && image->depth == 24 && static_cast<size_t>(xcb_get_image_data_length(image)) >= count * 4) {
        const uint8_t* bytes = xcb_get_image_data(image);
        picture.emplace();
        picture->width = area.width;
        picture->height = area.height;
        picture->pixels.resize(count);
        for (size_t i = 0; i < count; ++i) {
            picture->pixels[i] = (uint32_t{bytes[4 * i + 2]} << 16) | (uint32_t{bytes[4 * i + 1]} << 8) | bytes[4 * i];
        }
    }
    std::free(image);
    xcb_disconnect(connection);
    return picture;
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
