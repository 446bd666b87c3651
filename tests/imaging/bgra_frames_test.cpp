#include "hollowkit/imaging/bgra_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "hollowkit/imaging/row_workers.h"
#include "lut_test_support.h"

namespace hollowkit {
namespace {

uint8_t lumaAt(int x, int y) { return static_cast<uint8_t>(x * 5 + y * 11); }

luttest::Ycc chromaAt(int cx, int cy) {
    return {0, static_cast<uint8_t>(cx * 23 + cy * 7), static_cast<uint8_t>(250 - cx * 13 - cy * 17)};
}

// Every pixel within one step of the BT.709 video-range reference, each 2×2
// block on its own chroma sample; odd sizes put a lone pixel in the last
// column and row.
TEST(BgraFramesTest, Nv12MatchesTheBt709Reference) {
    RowWorkers workers(3);
    for (auto [width, height] : {std::pair{86, 36}, std::pair{7, 5}, std::pair{1, 1}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const VideoFrame input = luttest::nv12Frame(width, height, lumaAt, chromaAt);
        const VideoFrame out = asBgra(input);
        ASSERT_EQ(out.pixelFormat(), PixelFormat::bgra);
        ASSERT_EQ(out.width(), width);
        ASSERT_EQ(out.height(), height);
        int worst = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const luttest::Ycc c = chromaAt(x / 2, y / 2);
                const luttest::Rgb want = luttest::referenceBt709(lumaAt(x, y), c.cb, c.cr);
                const auto got = luttest::bgraAt(out, x, y);
                worst = std::max({worst, std::abs(got[2] - want.r), std::abs(got[1] - want.g),
                                  std::abs(got[0] - want.b)});
                ASSERT_EQ(got[3], 255);
            }
        }
        EXPECT_LE(worst, 1);

        // Rows shared among workers give the very same picture.
        WritableVideoFrame shared = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
        ASSERT_TRUE(drawAsBgra(input, shared, &workers));
        for (int y = 0; y < height; ++y) {
            ASSERT_TRUE(std::equal(out.row(0, y).begin(), out.row(0, y).end(), shared.row(0, y).begin()))
                << "row " << y;
        }
    }
}

TEST(BgraFramesTest, BgraComesBackAsItIsAndOtherFramesAreRefused) {
    const VideoFrame bgra = luttest::bgraFrame(4, 2, [](int x, int y) {
        return luttest::Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 9};
    });
    EXPECT_TRUE(asBgra(bgra).sharesPixelsWith(bgra));
    EXPECT_TRUE(asBgra(VideoFrame()).isNull());

    WritableVideoFrame nv12Output = WritableVideoFrame::allocate(PixelFormat::nv12, 4, 2);
    EXPECT_FALSE(drawAsBgra(bgra, nv12Output));
    WritableVideoFrame output = WritableVideoFrame::allocate(PixelFormat::bgra, 4, 2);
    EXPECT_FALSE(drawAsBgra(VideoFrame(), output));
}

}  // namespace
}  // namespace hollowkit
