#pragma once

// The live-reference journeys' bench: the frozen lumenhollow-demo started on
// a desktop of its own (a screen of the test's size, or logical monitors on
// one screen; under openbox when asked), brought into a state, and the still
// screen compared with tests/journeys/live-references/<state>.png
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
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/live_pictures.h"
#include "tests/journeys/screen_measures.h"

namespace lumenhollow::journey {

inline constexpr int kLiveScreenWidth = 1512;
inline constexpr int kLiveScreenHeight = 944;
// Where the pointer rests while a picture is taken, in the window: on the
// picture, clear of every control, so none shows its hover. Inside the
// window, because without a window manager the keys go where the pointer is.
inline constexpr int kLiveRestX = 300;
inline constexpr int kLiveRestY = 330;
// A window manager that takes a window full screen when it asks (without
// one, nothing does) and frames the window as a desktop does.
inline constexpr const char* kLiveWindowManager = "/usr/bin/openbox";
// In the window of a 16:9 picture 1152 wide under the menu bar: the record
// pill, and the photo circle left of it.
inline constexpr int kLiveRecordX = 548;
inline constexpr int kLiveRecordY = 570;
inline constexpr int kLivePhotoX = 462;
// How often a state that passes by itself (the countdown's first second,
// the photo's notice) is brought about before it counts as never caught.
inline constexpr int kLivePassingStateAttempts = 4;

inline bool liveWritesReferences() {
    const char* value = std::getenv("LUMENHOLLOW_LIVE_REFERENCES");
    return value && std::string(value) == "write";
}

inline std::filesystem::path liveReferenceFolder() {
    return std::filesystem::path(LUMENHOLLOW_SOURCE_DIR) / "tests" / "journeys" / "live-references";
}

// How long a start may take on a busy machine.
constexpr std::chrono::milliseconds kLiveStartLimit = 90s;

// The screen once two reads a moment apart are alike pixel for pixel;
// nothing when it did not settle within `limit`.
inline std::optional<ScreenPicture> liveStillScreen(JourneyDesktop& desktop, int width, int height,
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

inline bool liveSettled(const nlohmann::json& s) {
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
    // `windowManager`: under openbox, which full screen needs; `monitors`:
    // logical monitors over the screen, the pictures being of the first
    // (which lies at the screen's top left).
    JourneyApp& launch(int scale, bool welcomed, const std::vector<std::string>& camera = {},
                       bool windowManager = false, std::optional<std::pair<int, int>> screen = std::nullopt,
                       const std::vector<hollowkit::LogicalMonitor>& monitors = {}) {
        width_ = screen ? screen->first : kLiveScreenWidth * scale;
        height_ = screen ? screen->second : kLiveScreenHeight * scale;
        desktop_.start(width_, height_);
        if (!monitors.empty()) {
            const auto added = desktop_.x().addMonitors(monitors);
            EXPECT_TRUE(added.has_value()) << added.error();
            width_ = monitors.front().width;
            height_ = monitors.front().height;
        }
        if (welcomed) storeWelcomed(desktop_);
        std::vector<std::string> environment{"LUMENHOLLOW_DEMO_FROZEN=1", "QT_SCALE_FACTOR=" + std::to_string(scale)};
        environment.insert(environment.end(), camera.begin(), camera.end());
        if (windowManager) windowManager_.emplace(desktop_, "openbox", kLiveWindowManager);
        app_.emplace(desktop_, "live", LUMENHOLLOW_DEMO_PATH, environment);
        // A start on a busy machine may take longer than any later step: its
        // first report, however long it takes within the limit.
        EXPECT_TRUE(app_->waitForState([](const nlohmann::json&) { return true; }, kLiveStartLimit))
            << app_->describe();
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
    bool check(const std::string& name, const std::function<bool(const nlohmann::json&)>& reached,
               const std::optional<ScreenRect>& focus = {}) {
        SCOPED_TRACE(name);
        const std::optional<ScreenPicture> shot = capture(name, reached);
        return shot && judge(name, *shot, focus);
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
    // reference; true, a difference being a failure added. A state that
    // differs from its neighbours only in a small part of the screen (a
    // notice) names that part as `focus`: the share the whole screen may
    // differ by is more than such a part holds, so the part is compared
    // again on its own.
    bool judge(const std::string& name, const ScreenPicture& shot, const std::optional<ScreenRect>& focus = {}) {
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
        report(name, "", shot, comparePictures(shot, *expected));
        if (focus) {
            const ScreenPicture part = cropPicture(shot, *focus);
            report(name, "-focus", part, comparePictures(part, cropPicture(*expected, *focus)));
        }
        return true;
    }

    // A failure for a comparison that did not pass, with the capture and
    // the difference left beside the build.
    void report(const std::string& name, const std::string& part, const ScreenPicture& shot,
                const PictureVerdict& verdict) {
        if (verdict.passes) return;
        const std::filesystem::path actual = std::filesystem::path(LUMENHOLLOW_LIVE_ACTUAL_DIR) / (name + part + ".png");
        const std::filesystem::path diff =
            std::filesystem::path(LUMENHOLLOW_LIVE_ACTUAL_DIR) / (name + part + "-diff.png");
        savePicture(shot, actual);
        if (verdict.sameSize) savePicture(verdict.diff, diff);
        ADD_FAILURE() << name << part << " differs from its reference: " << verdict.differing << " pixels ("
                      << verdict.share * 100 << " %), the worst tile " << verdict.worstTile * 100
                      << " % different; the capture is " << actual << ", the difference " << diff;
    }

    // A click at (x, y) in the main window, the pointer then back at rest.
    bool clickAt(const ScreenRect& window, int x, int y) {
        JourneyApp& app = *app_;
        return app.clickOnScreen(window.x + x, window.y + y) && app.moveOnScreen(kLiveRestX, kLiveRestY);
    }

    // Opens the menu of the button at (x, y) in the window and types `keys`
    // into it, the pointer back at rest.
    bool chooseFromMenuAt(const ScreenRect& window, int x, int y, const std::vector<std::string>& keys) {
        return chooseFromMenu(desktop_, *app_, {window.x + x, window.y + y}, ScreenPoint{kLiveRestX, kLiveRestY}, keys);
    }

    // Opens the bottom bar's pill at (x, y) in the window and takes its
    // menu's row `row` (from 1) with the keys.
    bool chooseFromPill(const ScreenRect& window, int x, int y, int row) {
        std::vector<std::string> keys(static_cast<size_t>(row), "Down");
        keys.emplace_back("Return");
        return chooseFromMenuAt(window, x, y, keys);
    }

    // Brings about (`bringAbout`) a state that passes by itself and judges
    // its still screen; `putBack` then returns the window to rest. When the
    // state (`what`) passed before the screen was read (a loaded machine),
    // it is put back and brought about again.
    void catchPassingState(const std::string& name, const std::string& what, const std::function<bool()>& bringAbout,
                           const std::function<bool(const nlohmann::json&)>& passing,
                           const std::optional<ScreenRect>& focus, const std::function<bool()>& putBack) {
        SCOPED_TRACE(name);
        for (int attempt = 0; attempt < kLivePassingStateAttempts; ++attempt) {
            ASSERT_TRUE(bringAbout());
            const std::optional<ScreenPicture> shot = capture(name, passing, passing);
            if (shot) {
                judge(name, *shot, focus);
            } else {
                ASSERT_TRUE(missed_) << what << " never showed";
            }
            ASSERT_TRUE(putBack()) << app_->describe();
            if (shot) return;
        }
        ADD_FAILURE() << what << " passed before the screen was read, " << kLivePassingStateAttempts << " times";
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

}  // namespace lumenhollow::journey
