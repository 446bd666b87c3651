// Where the X server's pointer is in the island's logical coordinates, on
// desktops of screens with different scales.

#include "lumenhollow/ui/island/island_platform.h"

#include <gtest/gtest.h>

namespace lumenhollow::ui {
namespace {

TEST(LogicalPointerPosition, ScalesByTheScreenThePointerIsOn) {
    // A 1920x1080 screen at 1 and, right of it, a 3840x2160 one at 2, which
    // Qt places from x 1920 as 1920x1080 logical pixels; and the same pair
    // the other way round.
    const std::vector<ScreenScale> plainThenDense = {{QRect(0, 0, 1920, 1080), 1}, {QRect(1920, 0, 1920, 1080), 2}};
    const std::vector<ScreenScale> denseThenPlain = {{QRect(0, 0, 1920, 1080), 2}, {QRect(3840, 0, 1920, 1080), 1}};
    struct Case {
        const char* name;
        std::vector<ScreenScale> screens;
        QPoint device;
        QPoint logical;
    };
    const Case cases[] = {
        {"on the plain screen", plainThenDense, {960, 20}, {960, 20}},
        {"on the dense screen, from its own top left", plainThenDense, {1920 + 1920, 40}, {1920 + 960, 20}},
        {"near the dense screen's bottom right", plainThenDense, {1920 + 3838, 2158}, {1920 + 1919, 1079}},
        {"on the dense primary", denseThenPlain, {1920, 40}, {960, 20}},
        {"on the plain screen beside it", denseThenPlain, {3840 + 960, 20}, {3840 + 960, 20}},
        {"a fractional scale", {{QRect(0, 0, 1280, 720), 1.5}}, {1500, 300}, {1000, 200}},
        {"off every screen: the first one's scale", denseThenPlain, {100, 3000}, {50, 1500}},
        {"no screens at all", {}, {123, 45}, {123, 45}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(logicalPointerPosition(c.device, c.screens), c.logical);
    }
}

}  // namespace
}  // namespace lumenhollow::ui
