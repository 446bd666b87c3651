#include "hollowkit/imaging/background_treatment.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/imaging/row_workers.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/imaging_test_pictures.h"

namespace hollowkit {
namespace {

// A BGRA picture whose pixel at (x, y) is paint(x, y).
template <typename Paint>
VideoFrame paintedFrame(int width, int height, Paint paint) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const BgraPixel p = paint(x, y);
            uint8_t* out = frame.planeData(0) + static_cast<size_t>(y) * frame.stride(0) + 4 * static_cast<size_t>(x);
            out[0] = p.b;
            out[1] = p.g;
            out[2] = p.r;
            out[3] = p.a;
        }
    }
    return std::move(frame).freeze(TimePoint{} + std::chrono::seconds(7));
}

double variance(const VideoFrame& frame, const PersonMask& truth, int margin, bool person) {
    double sum = 0;
    double squares = 0;
    int count = 0;
    for (int y = margin; y < frame.height() - margin; ++y) {
        for (int x = margin; x < frame.width() - margin; ++x) {
            // Only pixels whose whole neighbourhood is of the wanted kind.
            bool pure = true;
            for (int d = -margin; d <= margin && pure; d += margin) {
                pure = (truth.at(x + d, y) >= 128) == person && (truth.at(x, y + d) >= 128) == person;
            }
            if (!pure) {
                continue;
            }
            const double g = pixelAt(frame, x, y).g;
            sum += g;
            squares += g * g;
            ++count;
        }
    }
    const double mean = sum / count;
    return squares / count - mean * mean;
}

TEST(BackgroundTreatmentTest, BlurCalmsTheRoomAndKeepsThePerson) {
    const FigureScene scene = makeFigureScene(640, 360);
    const VideoFrame blurred = applyBackground(scene.frame, &scene.truth, BubbleBackground::blur);
    ASSERT_FALSE(blurred.sharesPixelsWith(scene.frame));
    EXPECT_EQ(blurred.pts(), scene.frame.pts());
    const int sigma = static_cast<int>(0.035 * 360);
    EXPECT_LT(variance(blurred, scene.truth, 3 * sigma, false), variance(scene.frame, scene.truth, 3 * sigma, false) / 10);
    for (int y = 0; y < 360; y += 7) {
        for (int x = 0; x < 640; x += 7) {
            if (scene.truth.at(x, y) == 255) {
                ASSERT_EQ(pixelAt(blurred, x, y), pixelAt(scene.frame, x, y)) << x << "," << y;
            }
        }
    }
}

TEST(BackgroundTreatmentTest, BlurHasTheWidthOfItsSigma) {
    // A black-to-white step across the middle, all room: one sigma
    // (0.035 × 400 = 14 px) beside the edge a Gaussian reaches 15.9 % and
    // 84.1 % of the step.
    const int width = 800;
    const int height = 400;
    const VideoFrame step = paintedFrame(width, height, [&](int x, int) {
        const uint8_t v = x < width / 2 ? 0 : 255;
        return BgraPixel{v, v, v, 255};
    });
    const PersonMask room = PersonMask::filled(width, height, 0);
    const VideoFrame blurred = applyBackground(step, &room, BubbleBackground::blur);
    const int sigma = 14;
    EXPECT_NEAR(pixelAt(blurred, width / 2 - sigma, height / 2).g, 0.159 * 255, 8);
    EXPECT_NEAR(pixelAt(blurred, width / 2 + sigma - 1, height / 2).g, 0.841 * 255, 8);
    EXPECT_NEAR(pixelAt(blurred, width / 2, height / 2).g, 128, 8);
    // The picture's edges are extended, not darkened.
    EXPECT_EQ(pixelAt(blurred, width - 1, 0).g, 255);
    EXPECT_EQ(pixelAt(blurred, 0, height - 1).g, 0);
}

TEST(BackgroundTreatmentTest, RemoveShowsTheGradientCentredFromTheTop) {
    // 1000 rows put the centre on a pixel boundary (row 380), so pixels
    // above and below it pair up exactly.
    const int width = 1920;
    const int height = 1000;
    const VideoFrame image = paintedFrame(width, height, [](int, int) { return BgraPixel{200, 10, 90, 255}; });
    // The person is a column on the left.
    const PersonMask mask = FakeSegmentationBackend::rectangleMask(width, height, {0.0, 0.0, 0.1, 1.0});
    const VideoFrame removed = applyBackground(image, &mask, BubbleBackground::remove);

    struct Probe {
        const char* name;
        int x;
        int y;
        BgraPixel expected;
    };
    const Probe probes[] = {
        {"centre, 38 % from the top", 960, 380, {66, 61, 61, 255}},
        {"top right corner", 1919, 0, {23, 20, 20, 255}},
        {"bottom left corner, beside the person", 200, 999, {23, 20, 20, 255}},
        {"just beyond the radius (750)", 960 + 751, 380, {23, 20, 20, 255}},
        {"the person", 50, 540, {200, 10, 90, 255}},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(p.name);
        const BgraPixel got = pixelAt(removed, p.x, p.y);
        EXPECT_NEAR(got.b, p.expected.b, 1);
        EXPECT_NEAR(got.g, p.expected.g, 1);
        EXPECT_NEAR(got.r, p.expected.r, 1);
        EXPECT_EQ(got.a, 255);
    }
    // Symmetric about the centre, which lies above the middle: the mirrored
    // point of a bottom-left origin is darker.
    EXPECT_EQ(pixelAt(removed, 960, 380 - 200), pixelAt(removed, 960, 380 + 199));
    EXPECT_GT(pixelAt(removed, 960, 380).g, pixelAt(removed, 960, 620).g + 3);
    // Halfway out the colour lies between the two ends.
    const BgraPixel half = pixelAt(removed, 960 + 375, 380);
    EXPECT_GT(half.g, 20);
    EXPECT_LT(half.g, 61);
}

TEST(BackgroundTreatmentTest, SharingRowsAmongWorkersChangesNothing) {
    const FigureScene scene = makeFigureScene(320, 181, PixelFormat::nv12);
    RowWorkers workers(3);
    for (BubbleBackground treatment : {BubbleBackground::blur, BubbleBackground::remove}) {
        WritableVideoFrame alone = WritableVideoFrame::allocate(PixelFormat::bgra, 320, 181);
        WritableVideoFrame shared = WritableVideoFrame::allocate(PixelFormat::bgra, 320, 181);
        WritableVideoFrame converted = WritableVideoFrame::allocate(PixelFormat::bgra, 320, 181);
        ASSERT_TRUE(drawAsBgra(scene.frame, converted, &workers));
        const VideoFrame image = std::move(converted).freeze(TimePoint{});
        EXPECT_EQ(pixelAt(image, 100, 180), pixelAt(asBgra(scene.frame), 100, 180));
        ASSERT_TRUE(applyBackground(image, &scene.truth, treatment, alone));
        ASSERT_TRUE(applyBackground(image, &scene.truth, treatment, shared, &workers));
        for (int y = 0; y < 181; ++y) {
            ASSERT_EQ(0, std::memcmp(alone.row(0, y).data(), shared.row(0, y).data(), 320 * 4)) << y;
        }
    }
}

TEST(BackgroundTreatmentTest, APartialMaskMixesInProportion) {
    const VideoFrame image = paintedFrame(200, 64, [](int, int) { return BgraPixel{255, 255, 255, 255}; });
    const PersonMask mask = PersonMask::filled(200, 64, 51);  // 20 % person
    const VideoFrame removed = applyBackground(image, &mask, BubbleBackground::remove);
    // Corner: background (23, 20, 20) 80 %, white 20 %.
    const BgraPixel corner = pixelAt(removed, 0, 0);
    EXPECT_NEAR(corner.b, 0.2 * 255 + 0.8 * 23, 1);
    EXPECT_NEAR(corner.r, 0.2 * 255 + 0.8 * 20, 1);
}

TEST(BackgroundTreatmentTest, KeepNoMaskOrAMisfitMaskGiveTheImageItself) {
    const FigureScene scene = makeFigureScene(160, 90);
    const PersonMask otherSize = PersonMask::filled(80, 45, 0);
    EXPECT_TRUE(applyBackground(scene.frame, &scene.truth, BubbleBackground::keep).sharesPixelsWith(scene.frame));
    EXPECT_TRUE(applyBackground(scene.frame, nullptr, BubbleBackground::blur).sharesPixelsWith(scene.frame));
    EXPECT_TRUE(applyBackground(scene.frame, &otherSize, BubbleBackground::remove).sharesPixelsWith(scene.frame));

    // Into a buffer: copied unchanged; a buffer of another size is refused.
    WritableVideoFrame out = WritableVideoFrame::allocate(PixelFormat::bgra, 160, 90);
    ASSERT_TRUE(applyBackground(scene.frame, nullptr, BubbleBackground::remove, out));
    const VideoFrame copy = std::move(out).freeze(TimePoint{});
    EXPECT_EQ(pixelAt(copy, 80, 80), pixelAt(scene.frame, 80, 80));
    WritableVideoFrame small = WritableVideoFrame::allocate(PixelFormat::bgra, 80, 45);
    EXPECT_FALSE(applyBackground(scene.frame, &scene.truth, BubbleBackground::blur, small));
}

TEST(BackgroundTreatmentTest, Nv12IsConvertedAsBt709VideoRange) {
    // Video-range white, black and a saturated red survive the round trip.
    const VideoFrame bgra = paintedFrame(4, 2, [](int x, int) {
        switch (x) {
        case 0:
            return BgraPixel{255, 255, 255, 255};
        case 1:
            return BgraPixel{255, 255, 255, 255};
        case 2:
            return BgraPixel{0, 0, 255, 255};
        default:
            return BgraPixel{0, 0, 255, 255};
        }
    });
    const PersonMask room = PersonMask::filled(4, 2, 255);
    const VideoFrame converted = applyBackground(toNv12(bgra), &room, BubbleBackground::remove);
    ASSERT_EQ(converted.pixelFormat(), PixelFormat::bgra);
    for (int x = 0; x < 4; ++x) {
        const BgraPixel want = pixelAt(bgra, x, 1);
        const BgraPixel got = pixelAt(converted, x, 1);
        EXPECT_NEAR(got.b, want.b, 2) << x;
        EXPECT_NEAR(got.g, want.g, 2) << x;
        EXPECT_NEAR(got.r, want.r, 2) << x;
    }
}

}  // namespace
}  // namespace hollowkit
