// The window's views hear only the fields they show: the level meter's 15
// changes a second reach none of them, while a change of what a view shows
// still does.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bars_harness.h"
#include "level_meter.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/scenes_button.h"
#include "lumenhollow/ui/window/settings_menu.h"
#include "lumenhollow/ui/window/tool_rail.h"

namespace lumenhollow::test {
namespace {

TEST(ViewSubscriptions, TheLevelMeterReachesNoneOfTheBarsViewsWhatTheyShowDoes) {
    struct View {
        std::string name;
        std::function<std::unique_ptr<QWidget>(ModelSignals&)> make;
        // A change of something the view shows.
        std::function<void(CameraModel&)> changeShown;
    };
    const std::vector<View> views = {
        {"tool rail", [](ModelSignals& s) { return std::make_unique<ToolRail>(s, 34, nullptr); },
         [](CameraModel& m) { m.setGuides({GuideKind::grid}); }},
        {"bottom bar", [](ModelSignals& s) { return std::make_unique<BottomBar>(s, nullptr); },
         [](CameraModel& m) { m.setSelectedLUT(std::nullopt); }},
        {"scenes button", [](ModelSignals& s) { return std::make_unique<ScenesButton>(s, false, nullptr); },
         [](CameraModel& m) { m.saveCurrentPositionAsScene(); }},
        {"settings menu", [](ModelSignals& s) { return std::make_unique<SettingsMenu>(s, nullptr); },
         [](CameraModel& m) { m.setCodec(hollowkit::VideoCodec::h264); }},
    };
    for (const View& view : views) {
        SCOPED_TRACE(view.name);
        BarsHarness h;
        const std::unique_ptr<QWidget> widget = view.make(*h.modelSignals);
        EXPECT_EQ(deliveriesDuringLevelMeter(h, *h.modelSignals), 0u);
        const uint64_t before = h.modelSignals->deliveries();
        view.changeShown(*h.model);
        h.main.runUntilIdle();
        EXPECT_GT(h.modelSignals->deliveries(), before) << "a change of what it shows went unheard";
    }
}

}  // namespace
}  // namespace lumenhollow::test
