#include "hollowkit/recording/bgrx_to_nv12.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

enum class Layout { nv12, i420 };

// Either layout read back the same way; each plane is its own vector of
// exactly the picture's size, so a write past one is caught by the address
// sanitizer.
struct Yuv {
    int width, height;
    Layout layout;
    std::vector<uint8_t> luma, chroma, cr2;  // cr2: I420's separate Cr plane

    int chromaWidth() const { return (width + 1) / 2; }
    int y(int x, int row) const { return luma[static_cast<size_t>(row * width + x)]; }
    int cb(int cx, int cy) const {
        return layout == Layout::nv12 ? chroma[static_cast<size_t>(cy * chromaWidth() * 2 + 2 * cx)]
                                      : chroma[static_cast<size_t>(cy * chromaWidth() + cx)];
    }
    int cr(int cx, int cy) const {
        return layout == Layout::nv12 ? chroma[static_cast<size_t>(cy * chromaWidth() * 2 + 2 * cx + 1)]
                                      : cr2[static_cast<size_t>(cy * chromaWidth() + cx)];
    }
};

Yuv convert(Layout layout, int width, int height, const std::vector<Rgb>& pixels) {
    std::vector<uint8_t> bgrx(static_cast<size_t>(width * height * 4));
    for (size_t i = 0; i < pixels.size(); ++i) {
        bgrx[4 * i] = pixels[i].b;
        bgrx[4 * i + 1] = pixels[i].g;
        bgrx[4 * i + 2] = pixels[i].r;
        bgrx[4 * i + 3] = 0x5A;  // never read
    }
    const auto chromaWidth = static_cast<size_t>((width + 1) / 2);
    const auto chromaRows = static_cast<size_t>((height + 1) / 2);
    Yuv out{width, height, layout, std::vector<uint8_t>(static_cast<size_t>(width * height)), {}, {}};
    if (layout == Layout::nv12) {
        out.chroma.resize(chromaWidth * 2 * chromaRows);
        convertBgrxToNv12(bgrx.data(), static_cast<size_t>(width) * 4, width, height, out.luma.data(),
                          static_cast<size_t>(width), out.chroma.data(), chromaWidth * 2);
    } else {
        out.chroma.resize(chromaWidth * chromaRows);
        out.cr2.resize(chromaWidth * chromaRows);
        convertBgrxToI420(bgrx.data(), static_cast<size_t>(width) * 4, width, height, out.luma.data(),
                          static_cast<size_t>(width), out.chroma.data(), out.cr2.data(), chromaWidth);
    }
    return out;
}

class BgrxToYuvTest : public ::testing::TestWithParam<Layout> {
protected:
    Yuv convert(int width, int height, const std::vector<Rgb>& pixels) const {
        return hollowkit::convert(GetParam(), width, height, pixels);
    }
};

// BT.709, limited range: Y = 16 + 219 (0.2126 R + 0.7152 G + 0.0722 B),
// Cb and Cr = 128 + 224 x the colour differences, rounded.
TEST_P(BgrxToYuvTest, PureColoursGiveTheBt709LimitedRangeValues) {
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
TEST_P(BgrxToYuvTest, ChromaAveragesEachBlockAndOddSidesStayInside) {
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

// The two layouts come from one kernel: every sample agrees, on a picture
// with detail in every 2 x 2 block and odd sides.
TEST(BgrxToYuvLayoutsTest, Nv12AndThreePlanesCarryTheSameSamples) {
    constexpr int kWidth = 37;
    constexpr int kHeight = 9;
    std::vector<Rgb> pixels;
    uint32_t seed = 7;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        seed = seed * 1664525u + 1013904223u;
        pixels.push_back(Rgb{static_cast<uint8_t>(seed >> 24), static_cast<uint8_t>(seed >> 16),
                             static_cast<uint8_t>(seed >> 8)});
    }
    const Yuv nv12 = convert(Layout::nv12, kWidth, kHeight, pixels);
    const Yuv planar = convert(Layout::i420, kWidth, kHeight, pixels);
    EXPECT_EQ(nv12.luma, planar.luma);
    for (int cy = 0; cy < (kHeight + 1) / 2; ++cy) {
        for (int cx = 0; cx < (kWidth + 1) / 2; ++cx) {
            ASSERT_EQ(nv12.cb(cx, cy), planar.cb(cx, cy)) << cx << "," << cy;
            ASSERT_EQ(nv12.cr(cx, cy), planar.cr(cx, cy)) << cx << "," << cy;
        }
    }
}

// Pictures wide enough for the many-pixels-at-once paths, with a remainder
// past them: every sample of random pixels is the BT.709 value of its pixel
// (luma) or of its 2 x 2 block (chroma), so a sample read from or written to
// the wrong place shows.
TEST_P(BgrxToYuvTest, WideRowsGiveEachSampleItsOwnPixelsValue) {
    for (const int width : {8, 16, 53}) {
        SCOPED_TRACE("width " + std::to_string(width));
        constexpr int kHeight = 4;
        std::vector<Rgb> pixels;
        uint32_t seed = 11;
        for (int i = 0; i < width * kHeight; ++i) {
            seed = seed * 1664525u + 1013904223u;
            pixels.push_back(Rgb{static_cast<uint8_t>(seed >> 24), static_cast<uint8_t>(seed >> 16),
                                 static_cast<uint8_t>(seed >> 8)});
        }
        const Yuv out = convert(width, kHeight, pixels);
        const auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y * width + std::min(x, width - 1))]; };
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < width; ++x) {
                const Rgb p = at(x, y);
                const double luma = 16 + 219.0 / 255 * (0.2126 * p.r + 0.7152 * p.g + 0.0722 * p.b);
                ASSERT_NEAR(out.y(x, y), luma, 1.0) << x << "," << y;
            }
        }
        for (int cy = 0; cy < kHeight / 2; ++cy) {
            for (int cx = 0; cx < (width + 1) / 2; ++cx) {
                double r = 0, g = 0, b = 0;
                for (const Rgb& p : {at(2 * cx, 2 * cy), at(2 * cx + 1, 2 * cy), at(2 * cx, 2 * cy + 1),
                                     at(2 * cx + 1, 2 * cy + 1)}) {
                    r += p.r / 4.0;
                    g += p.g / 4.0;
                    b += p.b / 4.0;
                }
                const double cb = 128 + 224.0 / 255 * (-0.1146 * r - 0.3854 * g + 0.5 * b);
                const double cr = 128 + 224.0 / 255 * (0.5 * r - 0.4542 * g - 0.0458 * b);
                ASSERT_NEAR(out.cb(cx, cy), cb, 1.0) << cx << "," << cy;
                ASSERT_NEAR(out.cr(cx, cy), cr, 1.0) << cx << "," << cy;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BgrxToYuvTest, ::testing::Values(Layout::nv12, Layout::i420),
                         [](const auto& param) { return param.param == Layout::nv12 ? "Nv12" : "ThreePlanes"; });

}  // namespace
}  // namespace hollowkit
