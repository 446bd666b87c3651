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
// read and compared with tests/journeys/live-references/<state>.png
// (live_pictures.h: a tolerance for hinting noise, none for a moved or
// recoloured control). A capture that differs is left with its diff in the
// build's tests/journeys/live-actual/.
//
// LUMENHOLLOW_LIVE_REFERENCES=write (tools/live-references) writes the
// captures as the new references instead, and the README's pictures in
// docs/screenshots/ cut from them.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/live_pictures.h"
#include "tests/journeys/screen_measures.h"

namespace lumenhollow::journey {
namespace {

constexpr int kLiveScreenWidth = 1512;
constexpr int kLiveScreenHeight = 944;
// The smallest screen the window is made for: the window takes 16:9 of what
// is left under its menu bar.
constexpr int kSmallestScreenWidth = 760;
constexpr int kSmallestScreenHeight = 428;
// The island's closed strip without a notch ends 6 + 30 below the screen's
// top; a pointer within 6 more opens it.
constexpr int kIslandStripBottom = 6 + 30 + 6;
// The screen-recording options' window.
constexpr int kScreenOptionsWidth = 360;
// Where the pointer rests while a picture is taken, in the window: on the
// picture, clear of every control, so none shows its hover. Inside the
// window, because without a window manager the keys go where the pointer is.
constexpr int kLiveRestX = 300;
constexpr int kLiveRestY = 330;
// A window manager that takes a window full screen when it asks (without
// one, nothing does).
constexpr const char* kLiveWindowManager = "/usr/bin/openbox";
// The island's shadow reaches this far past its shape (radius 18, offset 8).
constexpr int kLiveIslandShadow = 28;
// In the window of a 16:9 picture 1152 wide under the menu bar: the record
// pill, the bottom bar's guide and connection pills, the top row's gear.
constexpr int kLiveRecordX = 548;
constexpr int kLiveRecordY = 570;
constexpr int kLiveGuidePillX = 68;
constexpr int kLiveConnectionPillX = 499;
constexpr int kLiveBottomPillY = 631;
constexpr int kLiveGearX = 1124;
constexpr int kLiveGearY = 41;
// The camera-off panel's "Use USB-C Instead" pill, under its words.
constexpr int kLiveCameraOffUseUSBX = 575;
constexpr int kLiveCameraOffUseUSBY = 420;
// How often the countdown is started before its first second counts as
// never caught.
constexpr int kLiveCountdownAttempts = 4;
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

bool liveWritesReferences() {
    const char* value = std::getenv("LUMENHOLLOW_LIVE_REFERENCES");
    return value && std::string(value) == "write";
}

std::filesystem::path liveReferenceFolder() {
    return std::filesystem::path(LUMENHOLLOW_SOURCE_DIR) / "tests" / "journeys" / "live-references";
}

// The screen once two reads a moment apart are alike pixel for pixel;
// nothing when it did not settle within `limit`.
std::optional<ScreenPicture> liveStillScreen(JourneyDesktop& desktop, int width, int height,
                                             std::chrono::milliseconds limit = 15s) {
    std::optional<ScreenPicture> last;
    std::optional<ScreenPicture> still;
    waitFor(
        [&] {
            std::optional<ScreenPicture> now = readScreen(desktop.x().displayName(), {0, 0, width, height});
            if (now && last && now->pixels == last->pixels) {
                still = std::move(now);
                return true;
            }
            last = std::move(now);
            std::this_thread::sleep_for(200ms);
            return false;
        },
        limit);
    return still;
}

bool liveSettled(const nlohmann::json& s) {
    return s["picture"] == true && s["notice"].is_null() && s["welcome"] == false && s["shortcuts"] == false &&
           s["cameraSettings"] == false && s["island"] == false && s["recording"] == false &&
           s["countdown"].is_null();
}

class LiveReferenceJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
    }

    // Starts the frozen demonstration on a screen of `scale` times the
    // reference size (or of `screen`); `welcomed`: a returning user, no
    // welcome sheet; `camera`: the demo's knobs for its camera;
    // `windowManager`: under openbox, which full screen needs.
    JourneyApp& launch(int scale, bool welcomed, const std::vector<std::string>& camera = {},
                       bool windowManager = false, std::optional<std::pair<int, int>> screen = std::nullopt) {
        width_ = screen ? screen->first : kLiveScreenWidth * scale;
        height_ = screen ? screen->second : kLiveScreenHeight * scale;
        desktop_.start(width_, height_);
        if (welcomed) storeWelcomed(desktop_);
        std::vector<std::string> environment{"LUMENHOLLOW_DEMO_FROZEN=1", "QT_SCALE_FACTOR=" + std::to_string(scale)};
        environment.insert(environment.end(), camera.begin(), camera.end());
        if (windowManager) windowManager_.emplace(desktop_, "openbox", kLiveWindowManager);
        app_.emplace(desktop_, "live", LUMENHOLLOW_DEMO_PATH, environment);
        return *app_;
    }

    // The main window's place once it is up; nothing when it never came.
    std::optional<ScreenRect> mainWindow() {
        const std::optional<std::string> id = app_->window();
        if (!id) return std::nullopt;
        window_ = *id;
        return windowGeometry(desktop_, *id);
    }

    // Waits for the report to say `reached` and compares the still screen
    // with the reference `name`; false when the state or a still screen
    // never came. (xdotool's "mousemove --sync" to where the pointer already
    // is waits for a move that never comes: the callers rest the pointer.)
    bool check(const std::string& name, const std::function<bool(const nlohmann::json&)>& reached) {
        SCOPED_TRACE(name);
        const std::optional<ScreenPicture> shot = capture(name, reached);
        return shot && judge(name, *shot);
    }

    // The still screen once the report says `reached`, and (with `held`) a
    // report written after the screen was read still says `held`: a state
    // that passes by itself was on the screen through both reads. Nothing,
    // with the failure added, when the state or a still screen never came;
    // nothing alone when the state passed before the report came.
    std::optional<ScreenPicture> capture(const std::string& name,
                                         const std::function<bool(const nlohmann::json&)>& reached,
                                         const std::function<bool(const nlohmann::json&)>& held = {}) {
        JourneyApp& app = *app_;
        const auto began = std::chrono::steady_clock::now();
        if (!app.waitForState(reached)) {
            ADD_FAILURE() << "the state never came: " << app.describe();
            return std::nullopt;
        }
        std::optional<ScreenPicture> shot = liveStillScreen(desktop_, width_, height_);
        if (!shot) {
            ADD_FAILURE() << "the screen never held still";
            return std::nullopt;
        }
        missed_ = false;
        if (held) {
            const uint64_t read = app.state().value("sample", uint64_t{0});
            nlohmann::json after;
            if (!app.waitForState([&](const nlohmann::json& s) {
                    after = s;
                    return s.value("sample", uint64_t{0}) > read;
                })) {
                ADD_FAILURE() << "no report came after the screen was read: " << app.describe();
                return std::nullopt;
            }
            if (!held(after)) {
                missed_ = true;
                return std::nullopt;
            }
        }
        std::fprintf(stderr, "%s: still after %lld ms\n", name.c_str(),
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - began)
                                                .count()));
        return shot;
    }

    // Compares `shot` with the reference `name`, or writes it as the
    // reference; true, a difference being a failure added.
    bool judge(const std::string& name, const ScreenPicture& shot) {
        shots_[name] = shot;
        const std::filesystem::path reference = liveReferenceFolder() / (name + ".png");
        if (liveWritesReferences()) {
            EXPECT_TRUE(savePicture(shot, reference)) << reference;
            std::printf("reference: %s\n", reference.c_str());
            return true;
        }
        const std::optional<ScreenPicture> expected = loadPicture(reference);
        if (!expected) {
            ADD_FAILURE() << "no reference " << reference << "; tools/live-references writes it";
            return true;
        }
        const PictureVerdict verdict = comparePictures(shot, *expected);
        if (!verdict.passes) {
            const std::filesystem::path actual = std::filesystem::path(LUMENHOLLOW_LIVE_ACTUAL_DIR) / (name + ".png");
            const std::filesystem::path diff =
                std::filesystem::path(LUMENHOLLOW_LIVE_ACTUAL_DIR) / (name + "-diff.png");
            savePicture(shot, actual);
            if (verdict.sameSize) savePicture(verdict.diff, diff);
            ADD_FAILURE() << name << " differs from its reference: " << verdict.differing << " pixels ("
                          << verdict.share * 100 << " %), the worst tile " << verdict.worstTile * 100
                          << " % different; the capture is " << actual << ", the difference " << diff;
        }
        return true;
    }

    // A click at (x, y) in the main window, the pointer then back at rest.
    bool clickAt(const ScreenRect& window, int x, int y) {
        JourneyApp& app = *app_;
        return app.clickOnScreen(window.x + x, window.y + y) && app.moveOnScreen(kLiveRestX, kLiveRestY);
    }

    // Opens the bottom bar's pill at (x, y) in the window and takes its
    // menu's row `row` (from 1) with the keys.
    bool chooseFromPill(const ScreenRect& window, int x, int y, int row) {
        if (!clickAt(window, x, y)) return false;
        for (int i = 0; i < row; ++i) {
            if (!app_->key("Down")) return false;
        }
        return app_->key("Return");
    }

    // Takes the countdown's first second: the record pill starts it; when the
    // "3" passed before the screen was read (a loaded machine), the pill
    // ends the countdown, or the recording it became, and it starts again.
    void checkCountdown(const ScreenRect& window) {
        SCOPED_TRACE("countdown-3");
        const auto three = [](const nlohmann::json& s) { return s["countdown"] == 3; };
        for (int attempt = 0; attempt < kLiveCountdownAttempts; ++attempt) {
            ASSERT_TRUE(clickAt(window, kLiveRecordX, kLiveRecordY));
            if (const std::optional<ScreenPicture> shot = capture("countdown-3", three, three)) {
                judge("countdown-3", *shot);
                ASSERT_TRUE(clickAt(window, kLiveRecordX, kLiveRecordY));
                ASSERT_TRUE(app_->waitForState(liveSettled)) << app_->describe();
                return;
            }
            ASSERT_TRUE(missed_) << "the countdown never showed";
            ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["countdown"] != 3; }));
            ASSERT_TRUE(clickAt(window, kLiveRecordX, kLiveRecordY));
            ASSERT_TRUE(app_->waitForState(liveSettled)) << app_->describe();
        }
        ADD_FAILURE() << "the countdown's \"3\" passed before the screen was read, " << kLiveCountdownAttempts
                      << " times";
    }

    // When writing references: the README's picture `name` cut from the
    // capture `from`.
    void writeReadmePicture(const std::string& name, const std::string& from, const ScreenRect& rect) {
        if (!liveWritesReferences() || !shots_.count(from)) return;
        const std::filesystem::path path =
            std::filesystem::path(LUMENHOLLOW_SOURCE_DIR) / "docs" / "screenshots" / (name + ".png");
        EXPECT_TRUE(savePicture(cropPicture(shots_.at(from), rect), path)) << path;
        std::printf("readme picture: %s\n", path.c_str());
    }

    JourneyDesktop desktop_;
    std::optional<JourneyApp> windowManager_;  // ends after the program
    std::optional<JourneyApp> app_;
    std::string window_;
    // The last capture's state passed before a report after it came.
    bool missed_ = false;
    int width_ = 0;
    int height_ = 0;
    std::map<std::string, ScreenPicture> shots_;
};

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

    // The photo circle, left of the record pill; its notice goes by itself
    // after a few seconds.
    ASSERT_TRUE(clickAt(w, 462, 570));
    check("notice-photo-saved", [](const nlohmann::json& s) { return s["notice"] == "Photo saved"; });
    EXPECT_EQ(app.state()["notice"], "Photo saved") << "the notice went before its picture was taken";
    ASSERT_TRUE(app.waitForState(liveSettled)) << app.describe();

    // The record pill, in the middle of the capture group. The calendar
    // stands still: the recording's time stays 00:00.
    ASSERT_TRUE(clickAt(w, 548, 570));
    check("recording", [](const nlohmann::json& s) { return s["recording"] == true && s["countdown"].is_null(); });
    ASSERT_TRUE(clickAt(w, 548, 570));
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
    ASSERT_TRUE(app.clickOnScreen(w.x + 499, w.y + 631));
    ASSERT_TRUE(app.key("Down"));
    ASSERT_TRUE(app.key("Down"));
    ASSERT_TRUE(app.key("Return"));
    ASSERT_TRUE(app.moveOnScreen(kLiveRestX, kLiveRestY));
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
    ASSERT_TRUE(clickAt(w, kLiveGearX, kLiveGearY));
    for (const char* key : {"Down", "Down", "Right", "Down", "Return"}) ASSERT_TRUE(app.key(key));
    checkCountdown(w);
    if (HasFatalFailure()) return;

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

// The window on the smallest screen: every control inside it, the gear,
// the joystick and the bottom bar's last circle too, and all of it under the
// island's closed strip, so a pointer on its way to the title or the menus
// never opens the island over them. The pointer rests on the picture above
// the capture controls. The screen-recording options open beside their
// button: a second click on it reaches the button and closes them.
TEST_F(LiveReferenceJourney, TheSmallestWindowLooksAsItsReference) {
    launch(1, true, {}, false, std::pair{kSmallestScreenWidth, kSmallestScreenHeight});
    ASSERT_TRUE(app_->moveOnScreen(200, 200));
    check("window-smallest", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });
    const std::optional<std::string> window = app_->window();
    ASSERT_TRUE(window);
    const std::optional<ScreenRect> rect = windowGeometry(desktop_, *window);
    ASSERT_TRUE(rect);
    EXPECT_LE(rect->x + rect->width, kSmallestScreenWidth);
    EXPECT_LE(rect->y + rect->height, kSmallestScreenHeight);
    EXPECT_GE(rect->y, kIslandStripBottom) << "the island's strip lies over the window's menus";

    // The button after the record pill: 60 right of the window's middle, 99
    // above its bottom edge.
    const int buttonX = rect->width / 2 + 60;
    const int buttonY = rect->height - 99;
    for (const bool open : {true, false}) {
        SCOPED_TRACE(open ? "opening" : "closing");
        ASSERT_TRUE(app_->clickInWindow(buttonX, buttonY));
        ASSERT_TRUE(app_->waitForState([open](const nlohmann::json& s) { return s["screenOptions"] == open; }))
            << app_->describe();
        if (open) {
            std::optional<ScreenRect> options;
            ASSERT_TRUE(waitFor([&] {
                options = visibleWindowOfWidth(desktop_, app_->pid(), kScreenOptionsWidth);
                return options.has_value();
            })) << "the options never showed";
            const int x = rect->x + buttonX;
            const int y = rect->y + buttonY;
            EXPECT_FALSE(x >= options->x && x < options->x + options->width && y >= options->y &&
                         y < options->y + options->height)
                << "the options cover their button";
        }
    }
}

}  // namespace
}  // namespace lumenhollow::journey
