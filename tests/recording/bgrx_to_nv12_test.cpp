#include "hollowkit/recording/bgrx_to_nv12.h"

#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

struct Nv12 {
    int width, height;
    std::vector<uint8_t> luma, chroma;

    int y(int x, int row) const { return luma[static_cast<size_t>(row * width + x)]; }
    int cb(int cx, int cy) const { return chroma[static_cast<size_t>(cy * ((width + 1) / 2) * 2 + 2 * cx)]; }
    int cr(int cx, int cy) const { return chroma[static_cast<size_t>(cy * ((width + 1) / 2) * 2 + 2 * cx + 1)]; }
};

// Planes of exactly the picture's size, so a write past them is caught by
// the address sanitizer.
Nv12 convert(int width, int height, const std::vector<Rgb>& pixels) {
    std::vector<uint8_t> bgrx(static_cast<size_t>(width * height * 4));
    for (size_t i = 0; i < pixels.size(); ++i) {
        bgrx[4 * i] = pixels[i].b;
        bgrx[4 * i + 1] = pixels[i].g;
        bgrx[4 * i + 2] = pixels[i].r;
        bgrx[4 * i + 3] = 0x5A;  // never read
    }
    const int chromaWidth = (width + 1) / 2;
    Nv12 out{width, height, std::vector<uint8_t>(static_cast<size_t>(width * height)),
             std::vector<uint8_t>(static_cast<size_t>(chromaWidth * 2 * ((height + 1) / 2)))};
    convertBgrxToNv12(bgrx.data(), static_cast<size_t>(width) * 4, width, height, out.luma.data(),
                      static_cast<size_t>(width), out.chroma.data(), static_cast<size_t>(chromaWidth) * 2);
    return out;
}

// BT.709, limited range: Y = 16 + 219 (0.2126 R + 0.7152 G + 0.0722 B),
// Cb and Cr = 128 + 224 x the colour differences, rounded.
TEST(BgrxToNv12Test, PureColoursGiveTheBt709LimitedRangeValues) {
    struct Case {
        Rgb rgb;
        int y, cb, cr;
    };
    const Case cases[] = {
        {{0, 0, 0}, 16, 128, 128},    {{255, 255, 255}, 235, 128, 128}, {{255, 0, 0}, 63, 102, 240},
        {{0, 255, 0}, 173, 42, 26},   {{0, 0, 255}, 32, 240, 118},      {{128, 128, 128}, 126, 128, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rgb.r) + "," + std::to_string(c.rgb.g) + "," + std::to_string(c.rgb.b));
        const auto out = convert(4, 2, std::vector<Rgb>(8, c.rgb));
        for (int x = 0; x < 4; ++x) EXPECT_NEAR(out.y(x, 1), c.y, 1);
        EXPECT_NEAR(out.cb(1, 0), c.cb, 1);
        EXPECT_NEAR(out.cr(1, 0), c.cr, 1);
    }
}

// Chroma is the 2 x 2 average; odd sides pair the last row and column with
// themselves and stay inside the planes.
TEST(BgrxToNv12Test, ChromaAveragesEachBlockAndOddSidesStayInside) {
    const Rgb red{255, 0, 0};
    const Rgb blue{0, 0, 255};
    const auto mixed = convert(2, 2, {red, blue, blue, red});
    EXPECT_NEAR(mixed.cb(0, 0), (102 + 240) / 2, 1);
    EXPECT_NEAR(mixed.cr(0, 0), (240 + 118) / 2, 1);
    EXPECT_NEAR(mixed.y(1, 0), 32, 1);

    std::vector<Rgb> pixels(3 * 3, Rgb{0, 0, 0});
    pixels[2] = red;   // top-right: its column pairs with itself, over a black row
    pixels[8] = blue;  // bottom-right corner: its row and column pair with themselves
    const auto odd = convert(3, 3, pixels);
    EXPECT_NEAR(odd.cb(1, 0), (102 + 128) / 2, 1);
    EXPECT_NEAR(odd.cr(1, 0), (240 + 128) / 2, 1);
    EXPECT_NEAR(odd.cb(1, 1), 240, 1);
    EXPECT_NEAR(odd.cb(0, 1), 128, 1);
}

}  // namespace
}  // namespace hollowkit
