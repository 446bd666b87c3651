#include "hollowkit/simulation/virtual_lens.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

// 10 scene pixels per degree, pan 0 / tilt 0 at (1000, 500): at zoom 1.0x the
// 80-degree window is 800 pixels wide.
struct WindowCase {
    const char* name;
    LensPose pose;
    int outWidth;
    int outHeight;
    SceneWindow expected;
};

class VirtualLensWindowTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(VirtualLensWindowTest, PicksTheWindowOfThePose) {
    const VirtualLens lens(10, 1000, 500);
    const WindowCase& c = GetParam();
    const SceneWindow window = lens.window(c.pose, c.outWidth, c.outHeight);
    EXPECT_DOUBLE_EQ(window.centerX, c.expected.centerX);
    EXPECT_DOUBLE_EQ(window.centerY, c.expected.centerY);
    EXPECT_DOUBLE_EQ(window.width, c.expected.width);
    EXPECT_DOUBLE_EQ(window.height, c.expected.height);
}

INSTANTIATE_TEST_SUITE_P(
    Poses, VirtualLensWindowTest,
    ::testing::Values(WindowCase{"centre", {0, 0, 100}, 1920, 1080, {1000, 500, 800, 450}},
                      // Half the field of view moves the window by half its width.
                      WindowCase{"panRightHalfView", {40, 0, 100}, 1920, 1080, {1400, 500, 800, 450}},
                      WindowCase{"panLeftHalfView", {-40, 0, 100}, 1920, 1080, {600, 500, 800, 450}},
                      // Tilting up moves the window up the scene.
                      WindowCase{"tiltUp", {0, 10, 100}, 1920, 1080, {1000, 400, 800, 450}},
                      WindowCase{"tiltDown", {0, -22.5, 100}, 1920, 1080, {1000, 725, 800, 450}},
                      WindowCase{"zoomTwoHalves", {0, 0, 200}, 1920, 1080, {1000, 500, 400, 225}},
                      WindowCase{"zoomFourPanned", {20, 5, 400}, 1920, 1080, {1200, 450, 200, 112.5}},
                      WindowCase{"smallerPictureSameWindow", {0, 0, 100}, 1280, 720, {1000, 500, 800, 450}},
                      WindowCase{"fourByThreeIsTaller", {0, 0, 100}, 640, 480, {1000, 500, 800, 600}},
                      // The gimbal's travel and the zoom range clamp.
                      WindowCase{"panBeyondRight", {200, 0, 100}, 1920, 1080, {2700, 500, 800, 450}},
                      WindowCase{"panBeyondLeft", {-171, 0, 100}, 1920, 1080, {-700, 500, 800, 450}},
                      WindowCase{"tiltBeyondDown", {0, -120, 100}, 1920, 1080, {1000, 1400, 800, 450}},
                      WindowCase{"zoomBelowRange", {0, 0, 50}, 1920, 1080, {1000, 500, 800, 450}},
                      WindowCase{"zoomAboveRange", {0, 0, 1000}, 1920, 1080, {1000, 500, 200, 112.5}}),
    [](const ::testing::TestParamInfo<WindowCase>& param) { return param.param.name; });

TEST(VirtualLensTest, OtherLimitsClampToThemselves) {
    LensLimits limits;
    limits.panMinDegrees = -30;
    limits.panMaxDegrees = 30;
    limits.tiltMinDegrees = -5;
    limits.tiltMaxDegrees = 5;
    limits.zoom = {100, 300};
    const VirtualLens lens(10, 1000, 500, limits);
    const SceneWindow window = lens.window({45, -9, 400}, 1920, 1080);
    EXPECT_DOUBLE_EQ(window.centerX, 1300);
    EXPECT_DOUBLE_EQ(window.centerY, 550);
    EXPECT_NEAR(window.width, 800.0 / 3, 1e-9);
}

TEST(VirtualLensTest, ScenePointsMapIntoTheWindowOppositeToThePan) {
    const VirtualLens lens(10, 1000, 500);
    // What lies straight ahead at pan 0 sits a quarter of the width left of
    // the middle once the lens has turned 20 degrees right.
    const SceneWindow window = lens.window({20, 0, 100}, 1920, 1080);
    EXPECT_DOUBLE_EQ(window.normalizedX(lens.sceneX(0)), 0.25);
    EXPECT_DOUBLE_EQ(window.normalizedY(lens.sceneY(0)), 0.5);
    // Above the middle when the lens tilts down.
    const SceneWindow down = lens.window({0, -9, 100}, 1920, 1080);
    EXPECT_DOUBLE_EQ(down.normalizedY(lens.sceneY(0)), 0.3);
}

}  // namespace
}  // namespace hollowkit
