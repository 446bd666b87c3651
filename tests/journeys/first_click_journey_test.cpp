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

using hollowkit::x11::internAtom;

// A plain managed window of the test's own, in one colour, placed where
// asked (a user-given position, which the window manager keeps); it lives
// as long as its connection.
class CoverWindow {
public:
    CoverWindow(const std::string& display, const ScreenRect& rect)
        : connection_(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(connection_)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        const uint32_t background = kCoverColour;
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, static_cast<int16_t>(rect.x),
                          static_cast<int16_t>(rect.y), static_cast<uint16_t>(rect.width),
                          static_cast<uint16_t>(rect.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL, &background);
        // WM_NORMAL_HINTS with USPosition and USSize: the window stays where it is made.
        uint32_t hints[18] = {};
        hints[0] = 1 | 2;
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        const char name[] = "Cover";
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            sizeof name - 1, name);
        xcb_map_window(connection_, window_);
        const hollowkit::x11::Reply<xcb_get_input_focus_reply_t> synced(
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        made_ = synced != nullptr;
    }
    ~CoverWindow() { xcb_disconnect(connection_); }
    CoverWindow(const CoverWindow&) = delete;
    CoverWindow& operator=(const CoverWindow&) = delete;

    bool made() const { return made_; }
    std::string id() const { return std::to_string(window_); }

private:
    xcb_connection_t* connection_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    bool made_ = false;
};

// A window manager has said it runs (the root's _NET_SUPPORTING_WM_CHECK).
bool windowManagerRuns(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool runs = false;
    if (!xcb_connection_has_error(connection)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_atom_t check = internAtom(connection, "_NET_SUPPORTING_WM_CHECK");
        const hollowkit::x11::Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, screen->root, check, XCB_ATOM_WINDOW, 0, 1), nullptr));
        runs = reply && xcb_get_property_value_length(reply.get()) == 4;
    }
    xcb_disconnect(connection);
    return runs;
}

std::string activeWindow(JourneyDesktop& desktop) {
    std::string output;
    if (!xdotool(desktop, {"getactivewindow"}, &output)) return {};
    return output.substr(0, output.find('\n'));
}

// The share of `rect` on the screen that shows the other window's colour.
double coverShare(JourneyDesktop& desktop, const ScreenRect& rect) {
    const std::optional<ScreenPicture> shown = readScreen(desktop.x().displayName(), rect);
    if (!shown || shown->pixels.empty()) return 0;
    const auto count = std::count(shown->pixels.begin(), shown->pixels.end(), kCoverColour);
    return static_cast<double>(count) / static_cast<double>(shown->pixels.size());
}

// The program's main window: its visible window named after it alone and
// as wide as the picture (the island may carry that name while it starts).
// Found without activating it, as JourneyApp's look-up would.
std::optional<ScreenWindow> mainWindowOf(JourneyDesktop& desktop, pid_t pid) {
    std::optional<ScreenWindow> found;
    waitFor([&] {
        std::string output;
        if (!xdotool(desktop, {"search", "--onlyvisible", "--pid", std::to_string(pid), "--name", "^Lumenhollow$"},
                     &output)) {
            return false;
        }
        std::istringstream ids(output);
        for (std::string id; std::getline(ids, id);) {
            const std::optional<ScreenRect> rect = id.empty() ? std::nullopt : windowGeometry(desktop, id);
            if (rect && rect->width >= kPictureWidth) found = ScreenWindow{id, *rect};
        }
        return found.has_value();
    });
    return found;
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
    const std::optional<ScreenWindow> window = mainWindowOf(desktop_, app.pid());
    ASSERT_TRUE(window) << app.describe();
    const std::string& ours = window->id;
    const ScreenRect& placed = window->rect;
    const int fromX = placed.x + kDragX;
    const int fromY = placed.y + kDragY;

    CoverWindow cover(desktop_.x().displayName(),
                      {placed.x + kCoverLeft, placed.y + kCoverTop, kCoverWidth, kCoverHeight});
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
