#include "hollowkit/imaging/auto_framer.h"

#include <cmath>
#include <limits>
#include <optional>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

// A face box of the given height centred at (midX, midY).
NormalizedRect faceAt(double midX, double midY, double height) {
    return {midX - height / 2, midY - height / 2, height, height};
}

struct FramingCase {
    const char* name;
    NormalizedRect face;
    std::optional<int> zoom;
    std::optional<ZoomRange> range;
    double panChange;
    double tiltChange;
    std::optional<int> expectedZoom;
};

TEST(AutoFramerTest, MatchesTheFramingVectors) {
    constexpr double kVertical = 39.375;
    const FramingCase cases[] = {
        {"no zoom reported counts as 100", faceAt(0.5, 0.5, 0.1), std::nullopt, ZoomRange{100, 400}, 0,
         -0.12 * kVertical / 2.0, 200},
        {"large face zooms out", faceAt(0.5, 0.5, 0.4), 200, ZoomRange{100, 400}, 0,
         -0.12 * kVertical / 1.0, 100},
        {"tiny face is clamped to the top", faceAt(0.5, 0.5, 0.02), 100, ZoomRange{100, 300}, 0,
         -0.12 * kVertical / 3.0, 300},
        {"66.67 rounds to 67, raised to 100", faceAt(0.5, 0.5, 0.3), 100, ZoomRange{100, 400}, 0,
         -0.12 * kVertical, 100},
        {"a half rounds away from zero", faceAt(0.5, 0.5, 0.4), 301, ZoomRange{100, 400}, 0,
         -0.12 * kVertical / 1.51, 151},
        {"no range: no zoom, tilt at the present zoom", faceAt(0.5, 0.5, 0.1), 100, std::nullopt, 0,
         -0.12 * kVertical, std::nullopt},
        {"zero height keeps the zoom", faceAt(0.5, 0.5, 0.0), 150, ZoomRange{100, 400}, 0,
         -0.12 * kVertical / 1.5, 150},
        {"face on the target stays put", faceAt(0.5, 0.38, 0.2), 100, ZoomRange{100, 400}, 0, 0, 100},
        {"right and low", faceAt(0.6, 0.5, 0.2), 100, ZoomRange{100, 400}, 7.0, -4.725, 100},
        {"zooming in lowers the aim less", faceAt(0.5, 0.5, 0.1), 100, ZoomRange{100, 400}, 0, -2.3625, 200},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const CameraPosition result = AutoFramer::target(c.face, c.zoom, c.range, 10.0, -5.0);
        EXPECT_NEAR(result.pan, 10.0 + c.panChange, 1e-9);
        EXPECT_NEAR(result.tilt, -5.0 + c.tiltChange, 1e-9);
        EXPECT_EQ(result.zoom, c.expectedZoom);
    }
}

TEST(AutoFramerTest, ExtremeHeightsAreClampedBeforeBecomingIntegers) {
    const ZoomRange range{100, 400};
    // A quotient far beyond int's range lands on the upper bound.
    EXPECT_EQ(AutoFramer::target(faceAt(0.5, 0.5, 1e-300), 100, range, 0, 0).zoom, 400);
    EXPECT_EQ(AutoFramer::target(faceAt(0.5, 0.5, std::numeric_limits<double>::denorm_min()), 100, range, 0, 0).zoom,
              400);
    // A huge height asks for almost no zoom: raised to the lower bound.
    EXPECT_EQ(AutoFramer::target(faceAt(0.5, 0.5, 1e300), 300, range, 0, 0).zoom, 100);
}

TEST(AutoFramerTest, AFaceThatIsNotFiniteLeavesTheCameraWhereItIs) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const CameraPosition result = AutoFramer::target({nan, 0.3, 0.2, nan}, 200, ZoomRange{100, 400}, 12.5, -3.0);
    EXPECT_EQ(result, (CameraPosition{12.5, -3.0, 200}));
    EXPECT_EQ(AutoFramer::target({0.4, 0.3, 0.2, nan}, 200, std::nullopt, 1.0, 2.0), (CameraPosition{1.0, 2.0, {}}));
}

}  // namespace
}  // namespace hollowkit
