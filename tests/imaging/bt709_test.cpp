// The BT.709 numbers every conversion derives its fixed point from: coding
// a colour and decoding it again gives it back, white and black land on the
// ends of the limited range, and fixed point rounds as std::lround does.

#include "hollowkit/imaging/bt709.h"

#include <cmath>

#include <gtest/gtest.h>

namespace hollowkit::bt709 {
namespace {

struct Coded {
    double y, cb, cr;
};

Coded encode(double r, double g, double b) {
    return {kLumaBlack + (kRed * r + kGreen * g + kBlue * b) * kLumaScale,
            kChromaZero + kRToCb * r + kGToCb * g + kBToCb * b, kChromaZero + kRToCr * r + kGToCr * g + kBToCr * b};
}

TEST(Bt709Test, CodingAndDecodingGiveTheColourBack) {
    const struct {
        double r, g, b;
    } colours[] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {12, 200, 77}};
    for (const auto& c : colours) {
        const Coded coded = encode(c.r, c.g, c.b);
        const double y = (coded.y - kLumaBlack) * kLumaGain;
        const double cb = coded.cb - kChromaZero;
        const double cr = coded.cr - kChromaZero;
        EXPECT_NEAR(y + kCrToR * cr, c.r, 1e-9);
        EXPECT_NEAR(y + kCbToG * cb + kCrToG * cr, c.g, 1e-9);
        EXPECT_NEAR(y + kCbToB * cb, c.b, 1e-9);
    }
    const Coded white = encode(255, 255, 255);
    EXPECT_NEAR(white.y, 235, 1e-9);
    EXPECT_NEAR(white.cb, 128, 1e-9);
    EXPECT_NEAR(white.cr, 128, 1e-9);
    EXPECT_NEAR(encode(0, 0, 255).cb, 240, 1e-9) << "pure blue is the top of Cb";
    EXPECT_NEAR(encode(255, 0, 0).cr, 240, 1e-9) << "pure red is the top of Cr";
}

TEST(Bt709Test, FixedPointRoundsAsLround) {
    for (const double v : {0.0, 0.49, 0.5, 1.5, -0.5, -1.49, -2.5, 1.79274, -0.21325, 0.112402}) {
        for (const int bits : {0, 8, 14, 20}) {
            EXPECT_EQ(fixedPoint(v, bits), std::lround(v * (1 << bits))) << v << " at " << bits;
        }
    }
}

}  // namespace
}  // namespace hollowkit::bt709
