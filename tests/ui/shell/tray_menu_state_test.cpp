#include "lumenhollow/ui/shell/tray_menu_state.h"

#include <gtest/gtest.h>

#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow {
namespace {

TEST(TrayMenuStateTest, TheIconShowsRecordingBeforeThePicture) {
    struct Case {
        const char* name;
        bool recording;
        bool picture;
        std::string_view symbol;
    };
    const std::vector<Case> cases{
        {"recording with a picture", true, true, "record.circle.fill"},
        {"recording after the picture dropped", true, false, "record.circle.fill"},
        {"a picture", false, true, "video.fill"},
        {"nothing", false, false, "video"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MenuFacts facts;
        facts.recording = c.recording;
        facts.livePicture = c.picture;
        EXPECT_EQ(traySymbol(facts), c.symbol);
        // The icon draws nothing for a name the registry lacks.
        EXPECT_TRUE(ui::Symbols::instance().glyph(traySymbol(facts)).has_value());
    }
}

TEST(TrayMenuStateTest, RowsFollowTheCamera) {
    struct Case {
        const char* name;
        MenuFacts facts;
        std::string statusLine;
        std::optional<std::string> batteryLine;
        CommandState recording;
        bool photo;
        CommandState tracking;
        bool positioningRows;  // "Auto Frame" and the scenes submenu
        bool zoomItems;
    };
    auto facts = [](bool picture, bool positioning, bool recording, bool tracking, ConnectionMode connection,
                    std::optional<int> battery, bool zoom) {
        MenuFacts f;
        f.livePicture = picture;
        f.positioning = positioning;
        f.recording = recording;
        f.busy = recording;
        f.faceTracking = tracking;
        f.connection = connection;
        f.statusText = "Waiting for video";
        f.batteryPercent = battery;
        f.zoomRangeKnown = zoom;
        f.sceneNames = {"Desk"};
        return f;
    };
    const std::vector<Case> cases{
        {"USB with a picture, battery and zoom known", facts(true, true, false, false, ConnectionMode::usb, 87, true),
         "Osmo Pocket · USB", "Camera battery 87%", {"Start Recording", true}, true, {"Start Tracking", true}, true, true},
        {"Wi-Fi with a picture: positioning rows greyed, zoom kept",
         facts(true, false, false, false, ConnectionMode::wireless, 5, true), "Osmo Pocket · Wireless",
         "Camera battery 5%", {"Start Recording", true}, true, {"Start Tracking", false}, false, true},
        {"no picture: the status text, and nothing that could only be refused",
         facts(false, true, false, false, ConnectionMode::usb, std::nullopt, false), "Waiting for video",
         std::nullopt, {"Start Recording", false}, false, {"Start Tracking", true}, true, false},
        {"recording after the picture dropped: stop stays available",
         facts(false, true, true, true, ConnectionMode::usb, 0, true), "Waiting for video", "Camera battery 0%",
         {"Stop Recording", true}, false, {"Stop Tracking", true}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TrayMenuState menu = trayMenuState(c.facts);
        EXPECT_EQ(menu.statusLine, c.statusLine);
        EXPECT_EQ(menu.batteryLine, c.batteryLine);
        EXPECT_EQ(menu.recording, c.recording);
        EXPECT_EQ(menu.takePhoto, (CommandState{"Take Photo", c.photo}));
        EXPECT_EQ(menu.faceTracking, c.tracking);
        EXPECT_EQ(menu.autoFrame.enabled, c.positioningRows);
        EXPECT_EQ(menu.scenesEnabled, c.positioningRows);
        EXPECT_EQ(menu.zoomItems, c.zoomItems);
        EXPECT_EQ(menu.recordScreen.enabled, !c.facts.busy);
    }
}

TEST(TrayMenuStateTest, ScenesAreListedByBareNameOrNotAtAll) {
    MenuFacts facts;
    EXPECT_TRUE(trayMenuState(facts).sceneTitles.empty());
    facts.sceneNames = {"Desk", "R&D"};
    EXPECT_EQ(trayMenuState(facts).sceneTitles, (std::vector<std::string>{"Desk", "R&D"}));
}

}  // namespace
}  // namespace lumenhollow
