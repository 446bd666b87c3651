#include "lumenhollow/ui/window/bar_state.h"

#include <gtest/gtest.h>

#include <QKeySequence>

namespace lumenhollow {
namespace {

namespace hk = hollowkit;

constexpr CameraTraits kUSBCamera{true, false};
constexpr CameraTraits kWirelessCamera{false, true};

hk::ColorLUT namedLook(std::string name) {
    hk::ColorLUT lut;
    lut.id = "builtin." + name;
    lut.name = std::move(name);
    return lut;
}

TEST(BarStateTest, TheBarFollowsTheRouteTheWidthAndTheRail) {
    struct Case {
        const char* name;
        ConnectionMode route;
        CameraTraits camera;
        bool compact;
        bool rail;
        std::string connectionTitle;
        std::string connectionSymbol;
        bool cameraSettings;
        bool tools;
        std::string guideTitle;
        bool autoFrameNeedsUSB;
    };
    const std::vector<Case> cases{
        {"USB, wide", ConnectionMode::usb, kUSBCamera, false, false, "Osmo Pocket \u00B7 USB", "cable.connector", false,
         true, "Guide", false},
        {"USB, compact", ConnectionMode::usb, kUSBCamera, true, false, "USB", "cable.connector", false, true, "", false},
        {"USB, rail", ConnectionMode::usb, kUSBCamera, true, true, "USB", "cable.connector", false, false, "", false},
        {"Wi-Fi, wide", ConnectionMode::wireless, kWirelessCamera, false, false, "Osmo Pocket \u00B7 Wireless", "wifi",
         true, true, "Guide", true},
        {"Wi-Fi, compact", ConnectionMode::wireless, kWirelessCamera, true, false, "Wireless", "wifi", true, true, "",
         true},
        {"Wi-Fi, rail", ConnectionMode::wireless, kWirelessCamera, true, true, "Wireless", "wifi", true, false, "",
         true},
        // The route switched but the old camera still stands: the controls follow the camera.
        {"route and camera apart", ConnectionMode::usb, kWirelessCamera, false, false, "Osmo Pocket \u00B7 USB",
         "cable.connector", true, true, "Guide", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PublishedState state;
        state.connection = c.route;
        const BottomBarState bar = bottomBarState(state, c.camera, c.compact, c.rail);
        EXPECT_EQ(bar.connectionTitle, c.connectionTitle);
        EXPECT_EQ(bar.connectionSymbol, c.connectionSymbol);
        EXPECT_EQ(bar.showsCameraSettings, c.cameraSettings);
        EXPECT_EQ(bar.showsTools, c.tools);
        EXPECT_EQ(bar.guideTitle, c.guideTitle);
        EXPECT_EQ(bar.autoFrameNeedsUSB, c.autoFrameNeedsUSB);
    }
}

TEST(BarStateTest, FormatAndLookTitlesFallBackAndIgnoreTheWidth) {
    const hk::VideoFormatOption hd{1920, 1080, 30};
    struct Case {
        const char* name;
        ConnectionMode route;
        std::vector<hk::VideoFormatOption> formats;
        std::optional<hk::VideoFormatOption> active;
        std::optional<hk::ColorLUT> look;
        std::string formatTitle;
        bool formatEnabled;
        std::string lookTitle;
    };
    const std::vector<Case> cases{
        {"USB, nothing known", ConnectionMode::usb, {}, std::nullopt, std::nullopt, "Format", false, "LUT"},
        {"Wi-Fi, nothing known", ConnectionMode::wireless, {}, std::nullopt, std::nullopt, "720p Preview", false,
         "LUT"},
        {"formats but none active", ConnectionMode::usb, {hd}, std::nullopt, namedLook("Warm"), "Format", true,
         "Warm"},
        {"the active format's label", ConnectionMode::usb, {hd}, hd, namedLook("Teal & Orange"), hd.description(),
         true, "Teal & Orange"},
        {"an active format the list lacks still names the menu", ConnectionMode::wireless, {}, hd, std::nullopt,
         hd.description(), false, "LUT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PublishedState state;
        state.connection = c.route;
        state.formats = c.formats;
        state.activeFormat = c.active;
        state.selectedLUT = c.look;
        for (bool compact : {false, true}) {
            const BottomBarState bar = bottomBarState(state, kUSBCamera, compact, false);
            EXPECT_EQ(bar.formatTitle, c.formatTitle);
            EXPECT_EQ(bar.formatEnabled, c.formatEnabled);
            EXPECT_EQ(bar.lookTitle, c.lookTitle);
        }
    }
}

TEST(BarStateTest, TheRailTintsFollowTheGuidesAndTheLook) {
    struct Case {
        const char* name;
        std::set<GuideKind> guides;
        std::optional<hk::ColorLUT> look;
        CameraTraits camera;
        bool guidesActive;
        bool lookActive;
        std::string lookHelp;
        bool autoFrameNeedsUSB;
    };
    const std::vector<Case> cases{
        {"nothing on", {}, std::nullopt, kUSBCamera, false, false, "Color look", false},
        {"a look", {}, namedLook("Warm"), kUSBCamera, false, true, "Look: Warm", false},
        {"one guide", {GuideKind::horizon}, std::nullopt, kUSBCamera, true, false, "Color look", false},
        {"all guides and a look over Wi-Fi", {GuideKind::grid, GuideKind::horizon, GuideKind::vertical},
         namedLook("Faded Film"), kWirelessCamera, true, true, "Look: Faded Film", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PublishedState state;
        state.guides = c.guides;
        state.selectedLUT = c.look;
        const ToolRailState rail = toolRailState(state, c.camera);
        EXPECT_EQ(rail.guidesActive, c.guidesActive);
        EXPECT_EQ(rail.lookActive, c.lookActive);
        EXPECT_EQ(rail.lookHelp, c.lookHelp);
        EXPECT_EQ(rail.autoFrameNeedsUSB, c.autoFrameNeedsUSB);
    }
}

TEST(BarStateTest, TooltipsNameTheKeysThatWork) {
    // The menu's keys in the desktop's spelling, so a changed key changes the tooltip.
    const auto keys = [](QKeyCombination key) {
        return QKeySequence(key).toString(QKeySequence::NativeText).toStdString();
    };
    EXPECT_EQ(fullScreenHelp(), "Full screen (" + keys(Qt::CTRL | Qt::META | Qt::Key_F) + ")");
    EXPECT_EQ(autoFrameHelp(), "Auto frame (" + keys(Qt::CTRL | Qt::Key_F) + ")");
    EXPECT_EQ(flipHelp(), "Flip to face you (" + keys(Qt::CTRL | Qt::SHIFT | Qt::Key_F) + ")");
    EXPECT_EQ(outputFolderHelp(), "Open the output folder (" + keys(Qt::CTRL | Qt::Key_O) + ")");
    EXPECT_EQ(recenterHelp(), "Center the gimbal (C)");
}

TEST(BarStateTest, TheConnectionClusterStaysClearOfTheTools) {
    // A 616-wide bar: menus end at 152, circles start at 454, 8 apart.
    const struct {
        const char* name;
        double cluster;
        double leftEnd;
        double expected;
    } cases[] = {
        {"room to spare: centred in the bar", 200, 152, 208},
        {"centred it would cover the look menu: centred in the room", 200, 230, 242},
        {"centred it would cover the circles: centred in the room", 280, 100, 137},
        {"not even room between: clear of the menus", 300, 260, 268},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(connectionClusterLeft(616, c.cluster, c.leftEnd, 454, 8), c.expected);
    }
}

}  // namespace
}  // namespace lumenhollow
