#include "hollowkit/simulation/scene_panorama.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/testing/imaging_test_pictures.h"

namespace hollowkit {
namespace {

bool havePhoto() { return std::filesystem::exists(ScenePanorama::kFacePhotoPath); }

// Largest difference between two planes' bytes over `rows` × `rowBytes`.
int largestDifference(const VideoFrame& a, int planeA, int ax, int ay, const VideoFrame& b, int planeB, int rows,
                      int rowBytes) {
    int largest = 0;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* rowA = a.planeData(planeA) + static_cast<size_t>(ay + y) * a.stride(planeA) + ax;
        const uint8_t* rowB = b.planeData(planeB) + static_cast<size_t>(y) * b.stride(planeB);
        for (int x = 0; x < rowBytes; ++x) largest = std::max(largest, std::abs(rowA[x] - rowB[x]));
    }
    return largest;
}

// A window one scene pixel per picture pixel, placed on whole pixels,
// renders the scene's own pixels: no half-pixel shift in luma or chroma.
TEST(ScenePanoramaTest, AWindowAtTheScenesOwnScaleIsACopyOfTheScene) {
    const auto scene = ScenePanorama::build({12, {}});
    const VirtualLens lens = scene->lens();
    const SceneWindow window = lens.window({10, 5, 100}, 960, 540);
    ASSERT_DOUBLE_EQ(window.width, 960);
    const VideoFrame frame = scene->render(window, 960, 540, TimePoint{});
    ASSERT_EQ(frame.pixelFormat(), PixelFormat::nv12);
    const int left = static_cast<int>(window.left());
    const int top = static_cast<int>(window.top());
    ASSERT_EQ(left, window.left());
    ASSERT_EQ(left % 2, 0);
    ASSERT_EQ(top % 2, 0);
    EXPECT_EQ(largestDifference(scene->picture(), 0, left, top, frame, 0, 540, 960), 0);
    EXPECT_EQ(largestDifference(scene->picture(), 1, left, top / 2, frame, 1, 270, 960), 0);
}

// The scene is a whole turn: looking past its right end shows its left end.
// The windows reach up to 206 degrees either way, as far as the widest
// window at the end of the pan travel.
TEST(ScenePanoramaTest, TheTurnContinuesAcrossItsEnds) {
    const auto scene = ScenePanorama::build({12, {}});
    const VirtualLens lens = scene->lens();
    const double halfTurn = 180 * lens.pixelsPerDegree();
    for (double offset : {-15.0, 0.0, 15.0}) {
        SCOPED_TRACE(offset);
        const SceneWindow right{lens.sceneX(offset) + halfTurn, lens.sceneY(0), 640, 360};
        const SceneWindow left{lens.sceneX(offset) - halfTurn, lens.sceneY(0), 640, 360};
        const VideoFrame a = scene->render(right, 640, 360, TimePoint{});
        const VideoFrame b = scene->render(left, 640, 360, TimePoint{});
        EXPECT_EQ(largestDifference(a, 0, 0, 0, b, 0, 360, 640), 0);
        EXPECT_EQ(largestDifference(a, 1, 0, 0, b, 1, 180, 640), 0);
    }
}

// A photograph hung at its own size, its corner at pan 0 / tilt 0, comes
// back with the imaging library's colours (BT.709, limited range).
TEST(ScenePanoramaTest, AHungPhotographKeepsItsPlaceAndColours) {
    if (!havePhoto()) GTEST_SKIP() << ScenePanorama::kFacePhotoPath << " is missing: install opencv-doc";
    const VideoFrame photo = loadImageFile(ScenePanorama::kFacePhotoPath);
    ASSERT_FALSE(photo.isNull());
    const double ppd = 12;
    const auto scene =
        ScenePanorama::build({ppd, {{ScenePanorama::kFacePhotoPath, 0, 0, photo.width() / ppd, 0, 0}}});
    ASSERT_EQ(scene->hungPictures().size(), 1U);
    const VirtualLens lens = scene->lens();
    const SceneWindow window{lens.sceneX(0) + photo.width() / 2.0, lens.sceneY(0) + photo.height() / 2.0,
                             static_cast<double>(photo.width()), static_cast<double>(photo.height())};
    const VideoFrame frame = scene->render(window, photo.width(), photo.height(), TimePoint{});
    const VideoFrame expected = toNv12(photo);
    EXPECT_LE(largestDifference(expected, 0, 0, 0, frame, 0, photo.height(), photo.width()), 1);
    EXPECT_LE(largestDifference(expected, 1, 0, 0, frame, 1, photo.height() / 2, photo.width()), 1);
}

TEST(ScenePanoramaTest, PicturesThatCannotBeReadAreLeftOut) {
    if (!havePhoto()) GTEST_SKIP() << ScenePanorama::kFacePhotoPath << " is missing: install opencv-doc";
    const auto scene = ScenePanorama::build(
        {8, {{"/nonexistent/picture.jpg", 10, 0, 20}, {ScenePanorama::kFacePhotoPath, 0, 0, 30}, {"", 0, 0, 20}}});
    EXPECT_EQ(scene->hungPictures(), std::vector<std::string>{ScenePanorama::kFacePhotoPath});
    EXPECT_FALSE(scene->picture().isNull());
}

TEST(ScenePanoramaTest, OddOrEmptyPictureSizesGiveNoFrame) {
    const auto scene = ScenePanorama::build({4, {}});
    const SceneWindow window = scene->lens().window({}, 640, 360);
    for (auto [width, height] : {std::pair{641, 360}, {640, 361}, {0, 360}, {640, -2}}) {
        EXPECT_TRUE(scene->render(window, width, height, TimePoint{}).isNull()) << width << "x" << height;
    }
}

}  // namespace
}  // namespace hollowkit
