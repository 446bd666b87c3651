// Pictures of the running program against its references: the real
// lumenhollow-demo with a picture that stands still (LUMENHOLLOW_DEMO_FROZEN)
// on a 1512 x 944 screen, brought by keys and clicks into the states a
// person sees (the welcome sheet, the window on USB, the shortcuts sheet, a
// notice, a recording, the open island, the window on Wi-Fi, the camera
// settings panel) and once more at twice the scale; each time the state
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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/live_pictures.h"
#include "tests/journeys/screen_measures.h"

namespace lumenhollow::journey {
namespace {

constexpr int kLiveScreenWidth = 1512;
constexpr int kLiveScreenHeight = 944;
// Where the pointer rests while a picture is taken, in the window: on the
// picture, clear of every control, so none shows its hover. Inside the
// window, because without a window manager the keys go where the pointer is.
constexpr int kLiveRestX = 300;
constexpr int kLiveRestY = 330;
// The island's shadow reaches this far past its shape (radius 18, offset 8).
constexpr int kLiveIslandShadow = 28;

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

class LiveReferenceJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
    }

    // Starts the frozen demonstration on a screen of `scale` times the
    // reference size; `welcomed`: a returning user, no welcome sheet.
    JourneyApp& launch(int scale, bool welcomed) {
        width_ = kLiveScreenWidth * scale;
        height_ = kLiveScreenHeight * scale;
        desktop_.start(width_, height_);
        if (welcomed) storeWelcomed(desktop_);
        app_.emplace(desktop_, "live", LUMENHOLLOW_DEMO_PATH,
                     std::vector<std::string>{"LUMENHOLLOW_DEMO_FROZEN=1", "QT_SCALE_FACTOR=" + std::to_string(scale)});
        return *app_;
    }

    // Waits for the report to say `reached` and compares the still screen
    // with the reference `name`; false when the state or a still screen
    // never came. (xdotool's "mousemove --sync" to where the pointer already
    // is waits for a move that never comes: the callers rest the pointer.)
    bool check(const std::string& name, const std::function<bool(const nlohmann::json&)>& reached) {
        SCOPED_TRACE(name);
        JourneyApp& app = *app_;
        const auto began = std::chrono::steady_clock::now();
        if (!app.waitForState(reached)) {
            ADD_FAILURE() << "the state never came: " << app.describe();
            return false;
        }

        const std::optional<ScreenPicture> shot = liveStillScreen(desktop_, width_, height_);
        if (!shot) {
            ADD_FAILURE() << "the screen never held still";
            return false;
        }
        shots_[name] = *shot;
        std::fprintf(stderr, "%s: still after %lld ms\n", name.c_str(),
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - began)
                                                .count()));
        const std::filesystem::path reference = liveReferenceFolder() / (name + ".png");
        if (liveWritesReferences()) {
            EXPECT_TRUE(savePicture(*shot, reference)) << reference;
            std::printf("reference: %s\n", reference.c_str());
            return true;
        }
        const std::optional<ScreenPicture> expected = loadPicture(reference);
        if (!expected) {
            ADD_FAILURE() << "no reference " << reference << "; tools/live-references writes it";
            return true;
        }
        const PictureVerdict verdict = comparePictures(*shot, *expected);
        if (!verdict.passes) {
            const std::filesystem::path actual = std::filesystem::path(LUMENHOLLOW_LIVE_ACTUAL_DIR) / (name + ".png");
            const std::filesystem::path diff =
                std::filesystem::path(LUMENHOLLOW_LIVE_ACTUAL_DIR) / (name + "-diff.png");
            savePicture(*shot, actual);
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
    std::optional<JourneyApp> app_;
    int width_ = 0;
    int height_ = 0;
    std::map<std::string, ScreenPicture> shots_;
};

bool liveSettled(const nlohmann::json& s) {
    return s["picture"] == true && s["notice"].is_null() && s["welcome"] == false && s["shortcuts"] == false &&
           s["cameraSettings"] == false && s["island"] == false && s["recording"] == false;
}

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

TEST_F(LiveReferenceJourney, TheWindowAtTwiceTheScaleLooksAsItsReference) {
    launch(2, true);
    ASSERT_TRUE(app_->moveOnScreen(2 * kLiveRestX, 2 * kLiveRestY));
    check("window-usb-scale-2", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });
}

}  // namespace
}  // namespace lumenhollow::journey
