// The click that only brings the window forward, under a real window
// manager that focuses on click (openbox, as Debian ships it): with another
// window in front of ours, a press-and-drag on our picture brings our
// window forward and leaves the gimbal still; a second press-and-drag turns
// it; after Alt+Tab brings the window forward from the keyboard, the first
// drag turns it too. The camera is the USB journey's Pocket on a faked bus,
// its pose read from its own controls.

#include <unistd.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "hollowkit/x11/xcb_connection.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/journey_windows.h"
#include "tests/journeys/usb_journey_steps.h"

namespace lumenhollow::journey {
namespace {

constexpr const char* kOpenbox = "/usr/bin/openbox";
// Where the drag starts in the window (the picture's centre under the
// menu bar, as in usb_journey_test.cpp) and how far it goes to the right.
constexpr int kPictureWidth = 1152;
constexpr int kDragX = kPictureWidth / 2;
constexpr int kDragY = 324;
constexpr int kDragLength = 120;
// The other window lies over the right part of ours, clear of the drag.
constexpr int kCoverLeft = 800;
constexpr int kCoverTop = 100;
constexpr int kCoverWidth = 400;
constexpr int kCoverHeight = 300;
constexpr uint32_t kCoverColour = 0xFF00FF;
// A drag of 120 points turns the camera at least this far (usb_journey_test.cpp).
constexpr double kTurnedDegrees = 2.0;
constexpr double kStillDegrees = 0.2;

// The share of `rect` on the screen that shows the other window's colour.
double coverShare(JourneyDesktop& desktop, const ScreenRect& rect) {
    const std::optional<ScreenPicture> shown = readScreen(desktop.x().displayName(), rect);
    if (!shown || shown->pixels.empty()) return 0;
    const auto count = std::count(shown->pixels.begin(), shown->pixels.end(), kCoverColour);
    return static_cast<double>(count) / static_cast<double>(shown->pixels.size());
}

class FirstClickJourney : public ReturningUserJourney {};

TEST_F(FirstClickJourney, TheClickThatBringsTheWindowForwardLeavesTheGimbalStill) {
    if (::access(kOpenbox, X_OK) != 0) GTEST_SKIP() << "openbox is not installed";
    JourneyApp openbox(desktop_, "openbox", kOpenbox, {}, {"--sm-disable"});
    ASSERT_TRUE(waitFor([&] { return windowManagerRuns(desktop_.x().displayName()); }))
        << "openbox did not start: " << openbox.log();

    JourneyApp app(desktop_, "usb", LUMENHOLLOW_JOURNEY_USB_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["connection"] == "usb" && s["picture"] == true; },
                                 60s))
        << app.describe();
    const std::optional<ScreenWindow> window = mainWindowOf(desktop_, app.pid(), kPictureWidth);
    ASSERT_TRUE(window) << app.describe();
    const std::string& ours = window->id;
    const ScreenRect& placed = window->rect;
    const int fromX = placed.x + kDragX;
    const int fromY = placed.y + kDragY;

    CoverWindow cover(desktop_.x().displayName(),
                      {placed.x + kCoverLeft, placed.y + kCoverTop, kCoverWidth, kCoverHeight}, kCoverColour);
    ASSERT_TRUE(cover.made());
    // Inside both windows, where the one in front shows.
    const ScreenRect overlap{placed.x + kCoverLeft + 40, placed.y + kCoverTop + 40, 60, 60};
    ASSERT_TRUE(waitFor([&] { return activeWindow(desktop_) == cover.id() && coverShare(desktop_, overlap) > 0.9; }))
        << "the other window did not come in front; active " << activeWindow(desktop_);

    const std::optional<ReportedPose> before = settledPose(app);
    ASSERT_TRUE(before) << app.describe();
    ASSERT_TRUE(app.dragOnScreen(fromX, fromY, fromX + kDragLength, fromY));
    EXPECT_TRUE(waitFor([&] { return activeWindow(desktop_) == ours && coverShare(desktop_, overlap) < 0.1; }))
        << "our window did not come forward; active " << activeWindow(desktop_);
    const std::optional<ReportedPose> after = settledPose(app);
    ASSERT_TRUE(after) << app.describe();
    EXPECT_NEAR(after->pan, before->pan, kStillDegrees) << "the click that brought the window forward turned it";
    EXPECT_NEAR(after->tilt, before->tilt, kStillDegrees) << describe(*after);
    EXPECT_NEAR(after->zoom, before->zoom, 0.5) << describe(*after);

    // The window is in front: the same drag turns the camera left.
    ASSERT_TRUE(app.dragOnScreen(fromX, fromY, fromX + kDragLength, fromY));
    std::optional<ReportedPose> turned;
    EXPECT_TRUE(app.waitForState([&](const nlohmann::json& s) {
        turned = poseOf(s);
        return turned && after->pan - turned->pan >= kTurnedDegrees;
    })) << "the second drag did not turn the camera: from " << describe(*after) << " to "
        << (turned ? describe(*turned) : "nothing");

    // Sent to the back and brought forward with Alt+Tab: the first drag turns it.
    ASSERT_TRUE(xdotool(desktop_, {"windowactivate", "--sync", cover.id()}));
    ASSERT_TRUE(waitFor([&] { return activeWindow(desktop_) == cover.id(); }));
    // Openbox now and then lets an Alt+Tab typed at once after an activation
    // pass; a person would type it again.
    bool switched = false;
    for (int attempt = 0; attempt < 3 && !switched; ++attempt) {
        ASSERT_TRUE(xdotool(desktop_, {"key", "alt+Tab"}));
        switched = waitFor([&] { return activeWindow(desktop_) == ours; }, 3s);
    }
    ASSERT_TRUE(switched) << "Alt+Tab did not bring our window forward; active " << activeWindow(desktop_);
    const std::optional<ReportedPose> fromKeyboard = settledPose(app);
    ASSERT_TRUE(fromKeyboard) << app.describe();
    ASSERT_TRUE(app.dragOnScreen(fromX, fromY, fromX + kDragLength, fromY));
    EXPECT_TRUE(app.waitForState([&](const nlohmann::json& s) {
        turned = poseOf(s);
        return turned && fromKeyboard->pan - turned->pan >= kTurnedDegrees;
    })) << "the first drag after Alt+Tab did not turn the camera: from " << describe(*fromKeyboard) << " to "
        << (turned ? describe(*turned) : "nothing");
}

}  // namespace
}  // namespace lumenhollow::journey
