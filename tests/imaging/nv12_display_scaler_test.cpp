#include "hollowkit/imaging/nv12_display_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/media/video_frame.h"

#include "hollowkit/testing/allocation_count.h"

namespace hollowkit {
namespace {

// An NV12 picture in planes with `padding` spare bytes per row (filled with
// a value no pixel has), random or smooth.
struct Picture {
    int width = 0;
    int height = 0;
    size_t lumaStride = 0;
    size_t chromaStride = 0;
    std::vector<uint8_t> luma;
    std::vector<uint8_t> chroma;

    Nv12Planes planes() const { return {luma.data(), lumaStride, chroma.data(), chromaStride, width, height}; }
    int chromaWidth() const { return (width + 1) / 2; }
    int chromaHeight() const { return (height + 1) / 2; }
};

enum class Content { noise, ramps, checkerboard };

Picture picture(int width, int height, size_t padding, Content content, unsigned seed = 1) {
    Picture p;
    p.width = width;
    p.height = height;
    p.lumaStride = static_cast<size_t>(width) + padding;
    p.chromaStride = 2 * static_cast<size_t>(p.chromaWidth()) + padding;
    p.luma.assign(p.lumaStride * static_cast<size_t>(height), 0xa5);
    p.chroma.assign(p.chromaStride * static_cast<size_t>(p.chromaHeight()), 0xa5);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int v = byte(random);
            if (content == Content::ramps) v = 16 + (x + y) * 219 / (width + height);
            if (content == Content::checkerboard) v = (x + y) % 2 ? 235 : 16;
            p.luma[p.lumaStride * static_cast<size_t>(y) + static_cast<size_t>(x)] = static_cast<uint8_t>(v);
        }
    }
    for (int y = 0; y < p.chromaHeight(); ++y) {
        for (int x = 0; x < p.chromaWidth(); ++x) {
            uint8_t* pair = &p.chroma[p.chromaStride * static_cast<size_t>(y) + 2 * static_cast<size_t>(x)];
            pair[0] = static_cast<uint8_t>(content == Content::noise ? byte(random) : 64 + x * 128 / p.chromaWidth());
            pair[1] = static_cast<uint8_t>(content == Content::noise ? byte(random) : 192 - y * 128 / p.chromaHeight());
        }
    }
    return p;
}

// The straightforward way: each effective pixel is the mean of its block of
// 2^k source pixels (edge repeated), sampled bilinearly between effective
// pixel centres in floating point, rounded to a byte; the scaled planes then
// go through the library's conversion.
double effectiveSample(const Picture& p, bool chroma, int channel, int ex, int ey, int shiftX, int shiftY) {
    const int width = chroma ? p.chromaWidth() : p.width;
    const int height = chroma ? p.chromaHeight() : p.height;
    double sum = 0;
    for (int j = 0; j < (1 << shiftY); ++j) {
        for (int i = 0; i < (1 << shiftX); ++i) {
            const int x = std::min((ex << shiftX) + i, width - 1);
            const int y = std::min((ey << shiftY) + j, height - 1);
            sum += chroma ? p.chroma[p.chromaStride * y + 2 * x + channel] : p.luma[p.lumaStride * y + x];
        }
    }
    return sum / (1 << (shiftX + shiftY));
}

int shiftFor(int source, int output) {
    int shift = 0;
    while (output * (2 << shift) <= source) ++shift;
    return shift;
}

uint8_t referenceSample(const Picture& p, bool chroma, int channel, int ox, int oy, int outW, int outH) {
    const int width = chroma ? p.chromaWidth() : p.width;
    const int height = chroma ? p.chromaHeight() : p.height;
    const int shiftX = shiftFor(width, outW);
    const int shiftY = shiftFor(height, outH);
    const int effW = (width + (1 << shiftX) - 1) >> shiftX;
    const int effH = (height + (1 << shiftY) - 1) >> shiftY;
    const double fx = std::clamp((ox + 0.5) * width / (1 << shiftX) / outW - 0.5, 0.0, effW - 1.0);
    const double fy = std::clamp((oy + 0.5) * height / (1 << shiftY) / outH - 0.5, 0.0, effH - 1.0);
    const int x0 = static_cast<int>(fx);
    const int y0 = static_cast<int>(fy);
    const int x1 = std::min(x0 + 1, effW - 1);
    const int y1 = std::min(y0 + 1, effH - 1);
    const double ax = fx - x0;
    const double ay = fy - y0;
    const auto at = [&](int x, int y) { return effectiveSample(p, chroma, channel, x, y, shiftX, shiftY); };
    const double v = (at(x0, y0) * (1 - ax) + at(x1, y0) * ax) * (1 - ay) + (at(x0, y1) * (1 - ax) + at(x1, y1) * ax) * ay;
    return static_cast<uint8_t>(std::lround(v));
}

hollowkit::VideoFrame referenceFrame(const Picture& p, int outW, int outH) {
    auto scaled = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::nv12, outW, outH);
    const bool asIs = outW == p.width && outH == p.height;
    for (int y = 0; y < outH; ++y) {
        for (int x = 0; x < outW; ++x) {
            scaled.planeData(0)[scaled.stride(0) * y + x] =
                asIs ? p.luma[p.lumaStride * y + x] : referenceSample(p, false, 0, x, y, outW, outH);
        }
    }
    for (int y = 0; y < (outH + 1) / 2; ++y) {
        for (int x = 0; x < (outW + 1) / 2; ++x) {
            for (int c = 0; c < 2; ++c) {
                scaled.planeData(1)[scaled.stride(1) * y + 2 * x + c] =
                    asIs ? p.chroma[p.chromaStride * y + 2 * x + c]
                         : referenceSample(p, true, c, x, y, (outW + 1) / 2, (outH + 1) / 2);
            }
        }
    }
    return hollowkit::asBgra(std::move(scaled).freeze({}));
}

struct Output {
    int width = 0;
    int height = 0;
    size_t stride = 0;
    std::vector<uint8_t> pixels;
    BgraTarget target() { return {pixels.data(), stride, width, height}; }
};

Output output(int width, int height, size_t padding) {
    Output o{width, height, 4 * static_cast<size_t>(width) + padding, {}};
    o.pixels.assign(o.stride * static_cast<size_t>(height), 0x5a);
    return o;
}

struct Comparison {
    int largest = 0;
    double mean = 0;
    bool paddingKept = true;
    bool opaque = true;
};

Comparison compare(const Output& ours, const hollowkit::VideoFrame& reference) {
    Comparison c;
    double sum = 0;
    for (int y = 0; y < ours.height; ++y) {
        const uint8_t* row = &ours.pixels[ours.stride * y];
        for (int x = 0; x < ours.width; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                const int d = std::abs(row[4 * x + ch] - reference.planeData(0)[reference.stride(0) * y + 4 * x + ch]);
                c.largest = std::max(c.largest, d);
                sum += d;
            }
            c.opaque = c.opaque && row[4 * x + 3] == 255;
        }
        for (size_t i = 4 * static_cast<size_t>(ours.width); i < ours.stride; ++i) c.paddingKept = c.paddingKept && row[i] == 0x5a;
    }
    c.mean = sum / (3.0 * ours.width * ours.height);
    return c;
}

TEST(Nv12DisplayScalerTest, AtItsOwnSizeGivesTheLibrarysColoursWithinOne) {
    const struct {
        const char* name;
        int width, height;
        size_t padding;
    } cases[] = {
        {"1080p", 1920, 1080, 0},  {"odd width and height", 37, 21, 3}, {"one pixel", 1, 1, 0},
        {"one row", 33, 1, 5},     {"portrait", 90, 160, 64},           {"two by two", 2, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture p = picture(c.width, c.height, c.padding, Content::noise);
        const hollowkit::VideoFrame reference = referenceFrame(p, c.width, c.height);
        for (const bool vectorUnits : {true, false}) {
            SCOPED_TRACE(vectorUnits ? "vector units" : "plain");
            Output ours = output(c.width, c.height, c.padding * 4 + 4);
            Nv12DisplayScaler scaler(vectorUnits);
            ASSERT_TRUE(scaler.draw(p.planes(), ours.target()));
            const Comparison result = compare(ours, reference);
            EXPECT_LE(result.largest, 1);
            EXPECT_TRUE(result.paddingKept) << "nothing is written past a row's pixels";
            EXPECT_TRUE(result.opaque);
        }
    }
}

TEST(Nv12DisplayScalerTest, ScaledPicturesFollowTheReferenceScaling) {
    const struct {
        const char* name;
        int sourceW, sourceH, width, height;
        Content content;
        int largest;  // channel steps: the reference samples in floating point
    } cases[] = {
        {"1080p into 648p", 1920, 1080, 1152, 648, Content::noise, 6},
        {"1080p into 648p, smooth", 1920, 1080, 1152, 648, Content::ramps, 2},
        {"past half: blocks averaged", 1920, 1080, 488, 275, Content::noise, 6},
        {"a checkerboard past a quarter comes out grey", 640, 360, 150, 84, Content::checkerboard, 2},
        {"odd sizes both sides", 333, 187, 121, 69, Content::noise, 6},
        {"portrait", 1080, 1920, 405, 720, Content::ramps, 2},
        {"tiny", 7, 5, 1, 1, Content::noise, 6},
        {"one column", 64, 36, 1, 20, Content::ramps, 2},
        {"growing", 64, 36, 101, 57, Content::ramps, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture p = picture(c.sourceW, c.sourceH, 16, c.content);
        Output ours = output(c.width, c.height, 8);
        Nv12DisplayScaler scaler;
        ASSERT_TRUE(scaler.draw(p.planes(), ours.target()));
        const Comparison result = compare(ours, referenceFrame(p, c.width, c.height));
        EXPECT_LE(result.largest, c.largest);
        EXPECT_LT(result.mean, 0.5);
        EXPECT_TRUE(result.paddingKept);
        EXPECT_TRUE(result.opaque);
    }
}

TEST(Nv12DisplayScalerTest, TheVectorAndPlainCopiesDrawTheSamePixels) {
    if (!Nv12DisplayScaler::usesAvx2()) GTEST_SKIP() << "no AVX2 on this processor: only the plain copy runs";
    const struct {
        const char* name;
        int sourceW, sourceH, width, height;
    } cases[] = {
        {"as it is, a row not a multiple of the vector", 1917, 33, 1917, 33},
        {"1080p into 648p", 1920, 1080, 1152, 648},
        {"past half", 1920, 1080, 488, 275},
        {"odd", 333, 187, 121, 69},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture p = picture(c.sourceW, c.sourceH, 16, Content::noise, 7);
        Output vector = output(c.width, c.height, 0);
        Output plain = output(c.width, c.height, 0);
        Nv12DisplayScaler vectorScaler;
        Nv12DisplayScaler plainScaler(false);
        ASSERT_TRUE(vectorScaler.draw(p.planes(), vector.target()));
        ASSERT_TRUE(plainScaler.draw(p.planes(), plain.target()));
        EXPECT_EQ(vector.pixels, plain.pixels);
    }
}

TEST(Nv12DisplayScalerTest, RefusesEmptySizesAndMissingPlanes) {
    const Picture p = picture(8, 8, 0, Content::ramps);
    Output o = output(4, 4, 0);
    Nv12DisplayScaler scaler;
    Nv12Planes noChroma = p.planes();
    noChroma.chroma = nullptr;
    EXPECT_FALSE(scaler.draw(noChroma, o.target()));
    Nv12Planes empty = p.planes();
    empty.width = 0;
    EXPECT_FALSE(scaler.draw(empty, o.target()));
    BgraTarget nowhere = o.target();
    nowhere.height = 0;
    EXPECT_FALSE(scaler.draw(p.planes(), nowhere));
    EXPECT_TRUE(std::all_of(o.pixels.begin(), o.pixels.end(), [](uint8_t b) { return b == 0x5a; }));
}

#if HK_COUNTS_ALLOCATIONS
TEST(Nv12DisplayScalerTest, AStreamAtOneSizeAllocatesNothingAfterTheFirstFrame) {
    const Picture p = picture(1920, 1080, 0, Content::ramps);
    Output shrunk = output(640, 360, 0);
    Output same = output(1920, 1080, 0);
    Nv12DisplayScaler scaler;
    ASSERT_TRUE(scaler.draw(p.planes(), shrunk.target()));
    const uint64_t before = hollowkit::testsupport::allocationsOnThread;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(scaler.draw(p.planes(), shrunk.target()));
    EXPECT_EQ(hollowkit::testsupport::allocationsOnThread, before);
    ASSERT_TRUE(scaler.draw(p.planes(), same.target()));
    EXPECT_GT(hollowkit::testsupport::allocationsOnThread, before) << "a new size plans again";
}
#endif

}  // namespace
}  // namespace hollowkit
