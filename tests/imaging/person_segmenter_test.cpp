#include "hollowkit/imaging/person_segmenter.h"

#include <gtest/gtest.h>

#include "hollowkit/imaging/grabcut_segmentation_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/imaging_test_pictures.h"

namespace hollowkit {
namespace {

VideoFrame blankFrame(int width, int height) {
    return WritableVideoFrame::allocate(PixelFormat::bgra, width, height).freeze(TimePoint{});
}

class PersonSegmenterTest : public ::testing::Test {
protected:
    PersonSegmenterTest() {
        auto backend = std::make_unique<FakeSegmentationBackend>();
        backend_ = backend.get();
        segmenter_ = std::make_unique<PersonSegmenter>(std::move(backend));
    }

    FakeSegmentationBackend* backend_ = nullptr;
    std::unique_ptr<PersonSegmenter> segmenter_;
};

TEST_F(PersonSegmenterTest, PicturesBelowTwoPixelsGetNoMaskAndNoRequest) {
    backend_->setResult(PersonMask::filled(8, 8, 255));
    EXPECT_EQ(segmenter_->scaledMask(blankFrame(1, 1000)), std::nullopt);
    EXPECT_EQ(segmenter_->scaledMask(blankFrame(1000, 1)), std::nullopt);
    EXPECT_EQ(segmenter_->scaledMask(VideoFrame{}), std::nullopt);
    EXPECT_EQ(backend_->callCount(), 0U);
    EXPECT_TRUE(segmenter_->scaledMask(blankFrame(2, 2)));
}

TEST_F(PersonSegmenterTest, TheMaskCoversExactlyThePictureWhateverTheBackendResolution) {
    // The backend answers at 256 × 144 with the person in the right half.
    backend_->setResult(FakeSegmentationBackend::rectangleMask(256, 144, {0.5, 0.0, 0.5, 1.0}));
    const NormalizedRect face{0.6, 0.2, 0.1, 0.2};
    const std::optional<PersonMask> mask = segmenter_->scaledMask(blankFrame(1920, 1080), face);
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->width, 1920);
    EXPECT_EQ(mask->height, 1080);
    EXPECT_TRUE(mask->isValid());
    EXPECT_EQ(mask->at(100, 540), 0);
    EXPECT_EQ(mask->at(1800, 540), 255);
    EXPECT_EQ(backend_->faces(), (std::vector<std::optional<NormalizedRect>>{face}));
}

TEST_F(PersonSegmenterTest, AFailedFrameReusesTheLastMaskOnlyAtTheSameSize) {
    const PersonMask made = FakeSegmentationBackend::rectangleMask(64, 36, {0.25, 0.25, 0.5, 0.5});
    backend_->setResult(made);
    const std::optional<PersonMask> first = segmenter_->scaledMask(blankFrame(640, 360));
    ASSERT_TRUE(first);

    backend_->setResult(std::nullopt);
    EXPECT_EQ(segmenter_->scaledMask(blankFrame(640, 360)), first);
    EXPECT_EQ(segmenter_->scaledMask(blankFrame(1280, 720)), std::nullopt);
    // A backend answer that does not hold its own size counts as a failure.
    backend_->setResult(PersonMask{4, 4, std::vector<uint8_t>(3, 255)});
    EXPECT_EQ(segmenter_->scaledMask(blankFrame(640, 360)), first);
    EXPECT_EQ(backend_->callCount(), 4U);
}

TEST(ScaleMaskTest, ScalesUpSoftlyAndRefusesBrokenInput) {
    const PersonMask half = FakeSegmentationBackend::rectangleMask(4, 1, {0.5, 0.0, 0.5, 1.0});
    const std::optional<PersonMask> wide = scaleMask(half, 40, 2);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->at(0, 0), 0);
    EXPECT_EQ(wide->at(39, 1), 255);
    EXPECT_GT(wide->at(20, 0), 0);  // the edge fades
    EXPECT_LT(wide->at(19, 0), 255);
    EXPECT_EQ(scaleMask(half, 4, 1), half);
    EXPECT_EQ(scaleMask(PersonMask{}, 4, 4), std::nullopt);
    EXPECT_EQ(scaleMask(half, 0, 4), std::nullopt);
}

// --- GrabCut on a synthetic figure.

struct MaskScore {
    double accuracy = 0;       // share of pixels labelled right
    double personRecall = 0;   // share of the person found
    double roomPrecision = 0;  // share of the found "person" that is person
};

MaskScore score(const PersonMask& mask, const PersonMask& truth) {
    size_t right = 0;
    size_t person = 0;
    size_t found = 0;
    size_t foundRight = 0;
    for (size_t i = 0; i < truth.pixels.size(); ++i) {
        const bool isPerson = truth.pixels[i] >= 128;
        const bool saidPerson = mask.pixels[i] >= 128;
        right += isPerson == saidPerson ? 1 : 0;
        person += isPerson ? 1 : 0;
        found += saidPerson ? 1 : 0;
        foundRight += isPerson && saidPerson ? 1 : 0;
    }
    const double total = static_cast<double>(truth.pixels.size());
    return {right / total, person ? static_cast<double>(foundRight) / person : 0,
            found ? static_cast<double>(foundRight) / found : 0};
}

TEST(GrabCutSegmentationTest, SeparatesASyntheticFigureFromTheRoom) {
    struct Case {
        const char* name;
        PixelFormat format;
        bool faceKnown;
    };
    for (const Case& c : {Case{"BGRA with the face box", PixelFormat::bgra, true},
                          Case{"NV12 with the face box", PixelFormat::nv12, true},
                          Case{"BGRA, person assumed in the middle", PixelFormat::bgra, false}}) {
        SCOPED_TRACE(c.name);
        const FigureScene scene = makeFigureScene(1280, 720, c.format);
        PersonSegmenter segmenter(std::make_unique<GrabCutSegmentationBackend>());
        std::optional<PersonMask> mask;
        // Twice: the second frame runs on the colour models of the first.
        for (int frame = 0; frame < 2; ++frame) {
            mask = segmenter.scaledMask(scene.frame, c.faceKnown ? std::optional(scene.face) : std::nullopt);
            ASSERT_TRUE(mask);
            ASSERT_EQ(mask->width, 1280);
            const MaskScore s = score(*mask, scene.truth);
            EXPECT_GT(s.accuracy, 0.97);
            EXPECT_GT(s.personRecall, 0.95);
            EXPECT_GT(s.roomPrecision, 0.88);
        }
    }
}

TEST(GrabCutSegmentationTest, TheHairAboveADetectedFaceIsThePersons) {
    // A face detector's box ends at the brows; the hair above it belongs
    // to the person all the same.
    for (const double hair : {0.04, 0.06}) {
        SCOPED_TRACE(hair);
        const FigureScene scene = makeFigureScene(1280, 720, FigurePlace{0.45, 0.34, hair});
        PersonSegmenter segmenter(std::make_unique<GrabCutSegmentationBackend>());
        const std::optional<PersonMask> mask = segmenter.scaledMask(scene.frame, scene.face);
        ASSERT_TRUE(mask);
        size_t hairPixels = 0;
        size_t hairKept = 0;
        for (size_t i = 0; i < scene.hair.pixels.size(); ++i) {
            if (scene.hair.pixels[i] < 128) continue;
            ++hairPixels;
            hairKept += mask->pixels[i] >= 128 ? 1 : 0;
        }
        ASSERT_GT(hairPixels, 0u);
        EXPECT_GT(static_cast<double>(hairKept) / hairPixels, 0.85);
        const MaskScore s = score(*mask, scene.truth);
        EXPECT_GT(s.accuracy, 0.97);
        EXPECT_GT(s.roomPrecision, 0.88);
    }
}

TEST(GrabCutSegmentationTest, AFaceAtTheVeryEdgeFailsCleanly) {
    GrabCutSegmentationBackend backend;
    const FigureScene scene = makeFigureScene(320, 180);
    // Nothing of the seed lies inside the picture; no crash, just no mask
    // or a mask of the backend's size.
    const std::optional<PersonMask> mask = backend.segment(scene.frame, NormalizedRect{1.15, 1.1, 0.05, 0.05});
    if (mask) {
        EXPECT_TRUE(mask->isValid());
    }
}

}  // namespace
}  // namespace hollowkit
