#include "lumenhollow/ui/window/window_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>

#include "lumenhollow/ui/panels/screen_permission_text.h"
#include "lumenhollow/ui/window/sheets.h"

namespace lumenhollow {
namespace {

TEST(WindowLayoutTest, WidthClassesSwitchAtTheirBoundaries) {
    const struct {
        double width;
        WidthClasses classes;
    } cases[] = {
        {1152, {false, false}}, {1040, {false, false}}, {1039, {true, false}}, {1039.5, {true, false}},
        {640, {true, false}},   {639, {true, true}},    {420, {true, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(widthClasses(c.width), c.classes);
    }
}

TEST(WindowLayoutTest, VideoRectFitsCentresAndCollapsesOnNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        SizeF area;
        double aspect;
        RectF rect;
    } cases[] = {
        {"exact fit", {1152, 648}, 16.0 / 9.0, {0, 0, 1152, 648}},
        {"4:3 is pillarboxed", {1152, 648}, 4.0 / 3.0, {144, 0, 864, 648}},
        {"wide picture is letterboxed", {800, 800}, 2.0, {0, 200, 800, 400}},
        {"portrait in landscape", {1000, 800}, 0.5, {300, 0, 400, 800}},
        {"zero width", {0, 648}, 16.0 / 9.0, {}},
        {"zero height", {1152, 0}, 16.0 / 9.0, {}},
        {"zero aspect", {1152, 648}, 0, {}},
        {"negative aspect", {1152, 648}, -1, {}},
        {"no aspect at all", {1152, 648}, nan, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(videoRect(c.area, c.aspect), c.rect);
    }
}

TEST(WindowLayoutTest, MinimumSizeFollowsOrientation) {
    EXPECT_EQ(minimumContentSize(16.0 / 9.0), (SizeF{760, 428}));
    EXPECT_EQ(minimumContentSize(1.0), (SizeF{760, 428})) << "a square picture is landscape";
    EXPECT_EQ(minimumContentSize(9.0 / 16.0), (SizeF{420, 747}));
    // The landscape minimum never reaches the rail width: the rail needs a portrait picture.
    EXPECT_FALSE(widthClasses(minimumContentSize(16.0 / 9.0).width).rail);
    EXPECT_TRUE(widthClasses(minimumContentSize(9.0 / 16.0).width).rail);
}

TEST(WindowLayoutTest, StatusOverlayAndConnectingActions) {
    hollowkit::CameraStats live;
    live.hasPicture = true;
    hollowkit::CameraStats dark;
    dark.hasPicture = false;
    const struct {
        const char* name;
        bool cameraOff;
        std::optional<hollowkit::CameraStats> stats;
        StatusOverlay overlay;
    } cases[] = {
        {"off wins over a picture", true, live, StatusOverlay::cameraOff},
        {"no statistics yet", false, std::nullopt, StatusOverlay::connecting},
        {"statistics without a picture", false, dark, StatusOverlay::connecting},
        {"live", false, live, StatusOverlay::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PublishedState state;
        state.cameraOff = c.cameraOff;
        state.stats = c.stats;
        EXPECT_EQ(statusOverlay(state), c.overlay);
    }

    PublishedState state;
    state.statusText = "Joining the camera's Wi-Fi";
    state.connection = ConnectionMode::wireless;
    state.failure = "Timed out";
    EXPECT_EQ(connectingOverlay(state), (ConnectingOverlayState{"Joining the camera's Wi-Fi", true, true}));
    state.connection = ConnectionMode::usb;
    state.failure.reset();
    EXPECT_EQ(connectingOverlay(state), (ConnectingOverlayState{"Joining the camera's Wi-Fi", false, false}))
        << "on USB the cable is no alternative";
}

TEST(WindowLayoutTest, PanelsAndTheirUSBHintFollowTheRoute) {
    hollowkit::CameraStats live;
    live.hasPicture = true;
    const struct {
        const char* name;
        ConnectionMode connection;
        bool cameraOff;
        std::optional<hollowkit::CameraStats> stats;
        std::optional<std::string> failure;
        StatusOverlay overlay;
        bool hint;  // in the panel shown
    } cases[] = {
        {"off without a picture: only the camera-off panel", ConnectionMode::wireless, true, std::nullopt,
         std::nullopt, StatusOverlay::cameraOff, true},
        {"off on USB: no Wi-Fi warning", ConnectionMode::usb, true, std::nullopt, std::nullopt,
         StatusOverlay::cameraOff, false},
        {"a failure held while a picture arrives", ConnectionMode::wireless, false, live, "Timed out",
         StatusOverlay::none, false},
        {"a failure without a picture", ConnectionMode::usb, false, std::nullopt, "Timed out",
         StatusOverlay::connecting, false},
        {"connecting over Wi-Fi", ConnectionMode::wireless, false, std::nullopt, std::nullopt,
         StatusOverlay::connecting, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PublishedState state;
        state.connection = c.connection;
        state.cameraOff = c.cameraOff;
        state.stats = c.stats;
        state.failure = c.failure;
        ASSERT_EQ(statusOverlay(state), c.overlay);
        if (c.overlay == StatusOverlay::cameraOff) {
            EXPECT_EQ(cameraOffOverlay(state).offersUSB, c.hint);
        }
        if (c.overlay == StatusOverlay::connecting) {
            EXPECT_EQ(connectingOverlay(state).offersUSB, c.hint);
            EXPECT_EQ(connectingOverlay(state).failed, c.failure.has_value());
        }
    }
}

TEST(WindowLayoutTest, OneSheetAtATimeInQueueOrder) {
    const struct {
        bool welcome, usbGuide, shortcuts, alert;
        std::optional<SheetKind> shown;
    } cases[] = {
        {false, false, false, false, std::nullopt},
        {true, true, true, true, SheetKind::welcome},
        {false, true, true, true, SheetKind::usbGuide},
        {false, false, true, true, SheetKind::shortcuts},
        {false, false, false, true, SheetKind::screenRecordingAlert},
    };
    for (const auto& c : cases) {
        PublishedState state;
        state.showWelcome = c.welcome;
        state.showUSBGuide = c.usbGuide;
        state.showShortcuts = c.shortcuts;
        state.showScreenPermissionHelp = c.alert;
        EXPECT_EQ(sheetToShow(state), c.shown);
    }
}

// The alert says what the screen-recording panel's card says, and offers
// the card's help where a Mac would send the person to System Settings.
TEST(WindowLayoutTest, TheAlertSaysWhatThePanelsCardSays) {
    const AlertText& alert = screenRecordingAlert();
    EXPECT_EQ(alert.message.find("macOS"), std::string::npos);
    EXPECT_EQ(alert.message.find("System Settings"), std::string::npos);
    EXPECT_EQ(alert.message.rfind(screenRecordingNeed(), 0), 0u) << alert.message;
    EXPECT_EQ(screenPermissionCaption().rfind(screenRecordingNeed(), 0), 0u);
    EXPECT_EQ(alert.help, howToAllowRecordingHelp());
    const struct {
        std::string_view title;
        AlertButton::Action action;
    } buttons[] = {
        {"Quit and Reopen", AlertButton::Action::quitAndReopen},
        {howToAllowRecordingTitle(), AlertButton::Action::howToAllow},
        {"Cancel", AlertButton::Action::cancel},
    };
    ASSERT_EQ(alert.buttons.size(), std::size(buttons));
    for (size_t i = 0; i < std::size(buttons); ++i) {
        EXPECT_EQ(alert.buttons[i].title, buttons[i].title) << i;
        EXPECT_EQ(alert.buttons[i].action, buttons[i].action) << i;
    }
}

}  // namespace
}  // namespace lumenhollow
