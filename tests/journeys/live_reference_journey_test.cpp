// Pictures of the running program against its references: the real
// lumenhollow-demo with a picture that stands still (LUMENHOLLOW_DEMO_FROZEN)
// on a 1512 x 944 screen, brought by keys and clicks into the states a
// person sees (the welcome sheet, the window on USB, the shortcuts sheet, a
// notice, a recording, the open island, the window on Wi-Fi, the camera
// settings panel; the countdown, all three guides, the compact window; the
// connecting window over USB and Wi-Fi; the camera off and the USB guide;
// the tool rail beside an upright picture; full screen under a window
// manager, its 16:9 picture letterboxed) and once more at twice the
// scale. The camera's own doings (never answering, turned off, not on the
// cable, standing upright) are the demo's environment knobs. Each time the state
// report says it is there and the screen has held still, the whole screen is
// read and compared with its reference (live_reference_journey.h). The
// smallest screen's states are small_screen_journey_test.cpp's.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>

#include "tests/journeys/live_reference_journey.h"

namespace lumenhollow::journey {
namespace {

// The island's shadow reaches this far past its shape (radius 18, offset 8).
constexpr int kLiveIslandShadow = 28;
// In the window of a 16:9 picture 1152 wide under the menu bar: the bottom
// bar's guide and connection pills, the top row's gear.
constexpr int kLiveGuidePillX = 68;
constexpr int kLiveConnectionPillX = 499;
constexpr int kLiveBottomPillY = 631;
constexpr int kLiveGearX = 1124;
constexpr int kLiveGearY = 41;
// The camera-off panel's "Use USB-C Instead" pill, under its words.
constexpr int kLiveCameraOffUseUSBX = 575;
constexpr int kLiveCameraOffUseUSBY = 420;
// Full screen on the reference screen: the bottom bar's guide pill, and a
// point of the bar's glass between its clusters (inside its top edge,
// right of the 9:16 column) with one of the picture just above the bar.
constexpr int kLiveFullGuidePillX = 68;
constexpr int kLiveFullBottomPillY = 906;
constexpr int kLiveFullGlassX = 1250;
constexpr int kLiveFullGlassY = 889;
constexpr int kLiveFullAboveBarY = 872;
// The compact window: a 16:9 picture this wide, narrower than the width
// where the bars shorten their pills.
constexpr int kLiveCompactWidth = 1000;
// Around the notice, at the top of the picture in the middle, with a margin.
constexpr int kLiveNoticeX = 500;
constexpr int kLiveNoticeY = 110;
constexpr int kLiveNoticeWidth = 152;
constexpr int kLiveNoticeHeight = 46;
// Around the record pill, which is all a recording changes at 00:00.
constexpr int kLiveRecordPillX = 490;
constexpr int kLiveRecordPillY = 545;
constexpr int kLiveRecordPillWidth = 120;
constexpr int kLiveRecordPillHeight = 50;

TEST_F(LiveReferenceJourney, EachStateLooksAsItsReference) {
    JourneyApp& app = launch(1, false);
    ASSERT_TRUE(app.moveOnScreen(kLiveRestX, kLiveRestY));
    // A first launch: the welcome sheet over the live picture.
    ASSERT_TRUE(check("welcome-sheet", [](const nlohmann::json& s) { return s["picture"] == true && s["welcome"] == true; }));
    const std::optional<std::string> window = app.window();
    ASSERT_TRUE(window);
    const std::optional<ScreenRect> windowRect = windowGeometry(desktop_, *window);
    ASSERT_TRUE(windowRect);
    const ScreenRect& w = *windowRect;

    // The welcome sheet's "Keyboard Shortcuts", at its bottom left; the
    // shortcuts sheet's "Done" at its bottom right.
    ASSERT_TRUE(clickAt(w, 436, 542));
    check("sheet-shortcuts", [](const nlohmann::json& s) { return s["shortcuts"] == true; });
    ASSERT_TRUE(clickAt(w, 721, 607));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["shortcuts"] == false; })) << app.describe();
    // "Get Started", at the welcome sheet's bottom right, when the sheet is back.
    if (app.state()["welcome"] == true) {
        ASSERT_TRUE(clickAt(w, 739, 542));
    }
    check("window-usb", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });
    writeReadmePicture("window-usb", "window-usb", w);

    // The photo circle; its notice goes by itself after a few seconds.
    ASSERT_NO_FATAL_FAILURE(catchPassingState(
        "notice-photo-saved", "the notice", [&] { return clickAt(w, kLivePhotoX, kLiveRecordY); },
        [](const nlohmann::json& s) { return s["notice"] == "Photo saved"; },
        ScreenRect{w.x + kLiveNoticeX, w.y + kLiveNoticeY, kLiveNoticeWidth, kLiveNoticeHeight},
        [&] { return app.waitForState(liveSettled); }));

    // The record pill, in the middle of the capture group. The calendar
    // stands still: the recording's time stays 00:00.
    ASSERT_TRUE(clickAt(w, kLiveRecordX, kLiveRecordY));
    check("recording", [](const nlohmann::json& s) { return s["recording"] == true && s["countdown"].is_null(); },
          ScreenRect{w.x + kLiveRecordPillX, w.y + kLiveRecordPillY, kLiveRecordPillWidth, kLiveRecordPillHeight});
    ASSERT_TRUE(clickAt(w, kLiveRecordX, kLiveRecordY));
    ASSERT_TRUE(app.waitForState(liveSettled)) << app.describe();

    // The pointer resting on the island opens it.
    const std::optional<ScreenRect> closed = reportedArea(app.state()["islandRect"]);
    ASSERT_TRUE(closed);
    ASSERT_TRUE(app.moveOnScreen(closed->centreX(), closed->centreY()));
    check("island-open",
          [](const nlohmann::json& s) { return s["island"] == true && s["islandPicture"].is_object(); });
    if (const std::optional<ScreenRect> open = reportedArea(app.state()["islandRect"])) {
        writeReadmePicture("island-open", "island-open",
                           {open->x - kLiveIslandShadow, 0, open->width + 2 * kLiveIslandShadow,
                            open->y + open->height + kLiveIslandShadow});
    }
    ASSERT_TRUE(app.moveOnScreen(kLiveRestX, kLiveRestY));
    ASSERT_TRUE(app.waitForState(liveSettled)) << app.describe();

    // The connection pill, centred in the bottom bar; its menu's second row.
    ASSERT_TRUE(chooseFromPill(w, kLiveConnectionPillX, kLiveBottomPillY, 2));
    check("window-wifi", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "wireless"; });

    // The camera settings pill, beside the connection pill over Wi-Fi.
    ASSERT_TRUE(clickAt(w, 682, 631));
    check("panel-camera-settings", [](const nlohmann::json& s) { return s["cameraSettings"] == true; });
    writeReadmePicture("panel-camera-settings", "panel-camera-settings", w);
}

// A returning user's tools on the 16:9 picture: the countdown's "3" (three
// seconds chosen in the gear's menu), all three guides from the guide
// pill's menu, then, the guides off again, the window made narrow enough to
// be compact.
TEST_F(LiveReferenceJourney, TheCountdownTheGuidesAndTheCompactWindowLookAsTheirReferences) {
    JourneyApp& app = launch(1, true);
    ASSERT_TRUE(app.moveOnScreen(kLiveRestX, kLiveRestY));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; }))
        << app.describe();
    const std::optional<ScreenRect> windowRect = mainWindow();
    ASSERT_TRUE(windowRect);
    const ScreenRect& w = *windowRect;

    // The gear's menu: its second row, "Countdown", and that one's second,
    // "3 seconds".
    ASSERT_TRUE(chooseFromMenuAt(w, kLiveGearX, kLiveGearY, {"Down", "Down", "Right", "Down", "Return"}));
    // The record pill starts the countdown and ends it, or the recording it
    // became.
    ASSERT_NO_FATAL_FAILURE(catchPassingState(
        "countdown-3", "the countdown's \"3\"", [&] { return clickAt(w, kLiveRecordX, kLiveRecordY); },
        [](const nlohmann::json& s) { return s["countdown"] == 3; }, std::nullopt,
        [&] { return clickAt(w, kLiveRecordX, kLiveRecordY) && app.waitForState(liveSettled); }));

    // The guide pill's menu holds the three guides in order; each row taken
    // turns one on.
    for (int row = 1; row <= 3; ++row) {
        ASSERT_TRUE(chooseFromPill(w, kLiveGuidePillX, kLiveBottomPillY, row));
        ASSERT_TRUE(app.waitForState([row](const nlohmann::json& s) { return s["guides"].size() == size_t(row); }))
            << app.describe();
    }
    check("guides", [](const nlohmann::json& s) {
        return liveSettled(s) && s["guides"] == nlohmann::json{"grid", "horizon", "vertical"};
    });
    for (int row = 1; row <= 3; ++row) {
        ASSERT_TRUE(chooseFromPill(w, kLiveGuidePillX, kLiveBottomPillY, row));
        ASSERT_TRUE(
            app.waitForState([row](const nlohmann::json& s) { return s["guides"].size() == size_t(3 - row); }))
            << app.describe();
    }

    // Narrowed as a person drags its edge: the picture's shape kept, so the
    // window needs no fitting after; the rows above the picture are the
    // menu bar.
    const int bar = w.height - w.width * 9 / 16;
    const int compactHeight = (kLiveCompactWidth * 9 + 8) / 16 + bar;
    ASSERT_TRUE(xdotool(desktop_, {"windowsize", "--sync", window_, std::to_string(kLiveCompactWidth),
                                   std::to_string(compactHeight)}));
    ASSERT_TRUE(waitFor([&] {
        const std::optional<ScreenRect> now = windowGeometry(desktop_, window_);
        return now && now->width == kLiveCompactWidth;
    })) << "the window stayed " << w.width << " wide";
    check("window-compact", [](const nlohmann::json& s) { return liveSettled(s) && s["guides"].empty(); });
}

// A camera that never answers: the window says it connects over USB, and,
// Wi-Fi taken from the connection pill's menu (its second row), over Wi-Fi
// with its sentence and "Use USB-C Instead".
TEST_F(LiveReferenceJourney, TheConnectingWindowLooksAsItsReferences) {
    JourneyApp& app = launch(1, true, {"LUMENHOLLOW_DEMO_CAMERA=connecting"});
    ASSERT_TRUE(app.moveOnScreen(kLiveRestX, kLiveRestY));
    const auto connecting = [](const char* route) {
        return [route](const nlohmann::json& s) {
            return s["connection"] == route && s["status"] == "Connecting" && s["picture"] == false &&
                   s["cameraOff"] == false && s["welcome"] == false;
        };
    };
    check("connecting-usb", connecting("usb"));
    const std::optional<ScreenRect> windowRect = mainWindow();
    ASSERT_TRUE(windowRect);
    ASSERT_TRUE(chooseFromPill(*windowRect, kLiveConnectionPillX, kLiveBottomPillY, 2));
    check("connecting-wifi", connecting("wireless"));
}

// The camera, not on the cable, is off: the window says so over Wi-Fi with
// the USB hint; its "Use USB-C Instead" opens the USB guide, which waits for
// the camera.
TEST_F(LiveReferenceJourney, TheCameraOffAndTheUsbGuideLookAsTheirReferences) {
    JourneyApp& app = launch(1, true, {"LUMENHOLLOW_DEMO_CAMERA=off", "LUMENHOLLOW_DEMO_UNPLUGGED=1"});
    ASSERT_TRUE(app.moveOnScreen(kLiveRestX, kLiveRestY));
    check("camera-off", [](const nlohmann::json& s) {
        return s["connection"] == "wireless" && s["cameraOff"] == true && s["picture"] == false &&
               s["usbGuide"] == false && s["welcome"] == false;
    });
    const std::optional<ScreenRect> windowRect = mainWindow();
    ASSERT_TRUE(windowRect);
    ASSERT_TRUE(clickAt(*windowRect, kLiveCameraOffUseUSBX, kLiveCameraOffUseUSBY));
    check("usb-guide", [](const nlohmann::json& s) { return s["usbGuide"] == true && s["connection"] == "wireless"; });
}

// An upright camera: the window turns to the picture's shape, so narrow
// that the tools leave the bars for the rail on its right.
TEST_F(LiveReferenceJourney, TheToolRailBesideAnUprightPictureLooksAsItsReference) {
    JourneyApp& app = launch(1, true, {"LUMENHOLLOW_DEMO_UPRIGHT=1"});
    ASSERT_TRUE(app.waitForState(liveSettled)) << app.describe();
    std::optional<ScreenRect> w;
    ASSERT_TRUE(waitFor([&] {
        w = mainWindow();
        return w && w->height > w->width;
    })) << "the window never turned upright";
    // At rest on the picture, as in the other states.
    ASSERT_TRUE(app.moveOnScreen(w->x + w->width / 3, w->y + w->height / 3));
    check("window-rail", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });
}

// Full screen on the 16:10 screen the 16:9 picture is letterboxed: the
// glass of the top row and of the bottom area floats over the black bars.
TEST_F(LiveReferenceJourney, TheFullScreenWindowLooksAsItsReference) {
    if (!std::filesystem::exists(kLiveWindowManager)) GTEST_SKIP() << "no " << kLiveWindowManager;
    JourneyApp& app = launch(1, true, {}, true);
    ASSERT_TRUE(app.moveOnScreen(kLiveRestX, kLiveRestY));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; }))
        << app.describe();
    // The main window: of the program's windows named after it alone (under
    // a window manager the search meets others of them too), the largest.
    std::string mainWindow;
    const auto largest = [&]() -> std::optional<ScreenRect> {
        const hollowkit::CommandResult found = desktop_.x().xdotool(
            {"search", "--onlyvisible", "--pid", std::to_string(app.pid()), "--name", "^Lumenhollow$"});
        std::optional<ScreenRect> best;
        std::istringstream ids(found.output);
        for (std::string id; std::getline(ids, id);) {
            const std::optional<ScreenRect> rect = windowGeometry(desktop_, id);
            if (rect && (!best || rect->width * rect->height > best->width * best->height)) {
                best = rect;
                mainWindow = id;
            }
        }
        return best;
    };
    ASSERT_TRUE(largest());
    // View > "Enter Full Screen", by its key, in the main window made active.
    desktop_.x().xdotool({"windowactivate", "--sync", mainWindow});
    ASSERT_EQ(desktop_.x().xdotool({"key", "F11"}).status, 0);
    std::optional<ScreenRect> full;
    ASSERT_TRUE(waitFor(
        [&] {
            full = largest();
            return full && full->x == 0 && full->y == 0 && full->width == width_ && full->height == height_;
        },
        10s))
        << "the window never filled the screen: it stays at " << (full ? full->x : -1) << "," << (full ? full->y : -1)
        << " " << (full ? full->width : -1) << "x" << (full ? full->height : -1);
    check("window-full-screen", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });

    // The 9:16 guide, the guide pill's third row: the sides beside its
    // column darken to 0.55, and so does the bottom bar's glass over them,
    // which blurs what lies under it, the darkening included.
    const std::optional<ScreenPicture> plain = liveStillScreen(desktop_, width_, height_);
    ASSERT_TRUE(plain);
    ASSERT_TRUE(chooseFromPill(*full, kLiveFullGuidePillX, kLiveFullBottomPillY, 3));
    const std::optional<ScreenPicture> guided = capture("window-full-screen, 9:16 guide", [](const nlohmann::json& s) {
        return liveSettled(s) && s["guides"] == nlohmann::json{"vertical"};
    });
    ASSERT_TRUE(guided);
    // The three channels' sum over a few pixels, for a steadier ratio of
    // dark values.
    const auto brightness = [](const ScreenPicture& shot, int x, int y) {
        int sum = 0;
        for (int dx = -2; dx <= 2; ++dx) {
            const uint32_t pixel = shot.at(x + dx, y);
            sum += static_cast<int>((pixel >> 16 & 0xFF) + (pixel >> 8 & 0xFF) + (pixel & 0xFF));
        }
        return std::max(sum, 1);
    };
    const double beside = static_cast<double>(brightness(*guided, kLiveFullGlassX, kLiveFullAboveBarY)) /
                          brightness(*plain, kLiveFullGlassX, kLiveFullAboveBarY);
    const double glass = static_cast<double>(brightness(*guided, kLiveFullGlassX, kLiveFullGlassY)) /
                         brightness(*plain, kLiveFullGlassX, kLiveFullGlassY);
    std::fprintf(stderr, "with the 9:16 guide: the picture above the bar at %.2f, the glass at %.2f\n", beside, glass);
    EXPECT_NEAR(beside, 0.55, 0.05) << "the picture above the bar is not darkened where it was looked at";
    EXPECT_NEAR(glass, beside, 0.1) << "the glass over the darkened side: " << glass << " of its brightness";
}

TEST_F(LiveReferenceJourney, TheWindowAtTwiceTheScaleLooksAsItsReference) {
    launch(2, true);
    ASSERT_TRUE(app_->moveOnScreen(2 * kLiveRestX, 2 * kLiveRestY));
    check("window-usb-scale-2", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });
}

}  // namespace
}  // namespace lumenhollow::journey
