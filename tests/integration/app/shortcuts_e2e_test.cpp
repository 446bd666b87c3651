// The menu bar's keys typed on the demonstration application's real window
// through the X server (xdotool), as a user types them: Ctrl+R records a
// real movie and stops it, does nothing without a picture yet stops a
// recording whose picture dropped; Alt with a digit recalls that scene;
// Ctrl+/ opens the shortcuts sheet (in the kit's look, as the reference
// pictures are) and Return closes it; Ctrl+Q closes an
// open sheet first and ends the run with status 0.

#include <QApplication>
#include <QToolTip>

#include <cmath>
#include <optional>

#include "demo_run.h"
#include "lumenhollow/app/app_lifecycle.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/menu_style.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/typography.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/sheet_host.h"

namespace lumenhollow::test {
namespace {

bool hasPicture(const RunningDemo& demo) {
    const auto& stats = demo.model().state().stats;
    return stats && stats->hasPicture;
}

// Waits until `count` more frames have left the simulator.
bool waitForFrames(const RunningDemo& demo, uint64_t count) {
    const uint64_t start = demo.camera()->framesDelivered();
    return demo.waitFor([&] { return demo.camera()->framesDelivered() >= start + count; });
}

class ShortcutsEndToEndTest : public testing::Test {
protected:
    // Prepares a run; false (and the test skipped) when the machine cannot.
    bool prepare(DemoRun& run, DemoRun::Options options = {}) {
        const std::string why = run.prepare(options);
        if (why.empty()) return true;
        skipped_ = why;
        return false;
    }
    std::string skipped_;
};

TEST_F(ShortcutsEndToEndTest, CtrlRStartsAndStopsARecordingThatFfprobeReads) {
    DemoRun run;
    if (!prepare(run)) GTEST_SKIP() << skipped_;
    const int status = run.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        ASSERT_TRUE(demo.focusWindow());
        ASSERT_TRUE(moviesIn(demo.videos).empty());
        ASSERT_TRUE(demo.typeKeys("ctrl+r"));
        ASSERT_TRUE(demo.waitFor([&] { return demo.model().isRecording(); }));
        // A second of the simulator's 30 frames a second.
        ASSERT_TRUE(waitForFrames(demo, 30));
        ASSERT_TRUE(demo.typeKeys("ctrl+r"));
        const std::optional<ProbedMovie> movie = waitForMovie(demo, 15);
        ASSERT_TRUE(movie.has_value()) << moviesIn(demo.videos).size() << " movies";
        EXPECT_GT(movie->durationSeconds, 0.5);
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ShortcutsEndToEndTest, CtrlRIsInertWithoutAPictureButStopsARecordingWhosePictureDropped) {
    DemoRun run;
    if (!prepare(run)) GTEST_SKIP() << skipped_;
    const int status = run.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        ASSERT_TRUE(demo.focusWindow());
        const std::shared_ptr<hollowkit::SceneCamera> camera = demo.camera();

        // No picture: Ctrl+R starts nothing. Ctrl+Shift+R, typed after it,
        // toggles "Record Screen Too": once that shows, Ctrl+R has been handled.
        camera->setPictureFlowing(false);
        ASSERT_TRUE(demo.waitFor([&] { return !hasPicture(demo); })) << demo.model().state().statusText;
        const bool screenBefore = demo.model().state().recordScreen;
        ASSERT_TRUE(demo.typeKeys("ctrl+r"));
        ASSERT_TRUE(demo.typeKeys("ctrl+shift+r"));
        ASSERT_TRUE(demo.waitFor([&] { return demo.model().state().recordScreen != screenBefore; }));
        EXPECT_FALSE(demo.model().isRecording());
        EXPECT_FALSE(demo.model().state().countdownRemaining.has_value());
        ASSERT_TRUE(demo.typeKeys("ctrl+shift+r"));
        ASSERT_TRUE(demo.waitFor([&] { return demo.model().state().recordScreen == screenBefore; }));

        // A recording whose picture drops: Ctrl+R still stops it, and what
        // was filmed is kept.
        camera->setPictureFlowing(true);
        ASSERT_TRUE(demo.waitForLive());
        ASSERT_TRUE(demo.typeKeys("ctrl+r"));
        ASSERT_TRUE(demo.waitFor([&] { return demo.model().isRecording(); }));
        ASSERT_TRUE(waitForFrames(demo, 30));
        camera->setPictureFlowing(false);
        ASSERT_TRUE(demo.waitFor([&] { return !hasPicture(demo); })) << demo.model().state().statusText;
        ASSERT_TRUE(demo.model().isRecording()) << "the recording goes on until it is stopped";
        ASSERT_TRUE(demo.typeKeys("ctrl+r"));
        ASSERT_TRUE(demo.waitFor([&] { return !demo.model().isRecording(); }));
        // A camera without a picture for long is replaced, which ends its
        // movie too: the key must have ended it first.
        EXPECT_EQ(demo.camera(), camera) << "the recording ended with the camera, not by the key";
        EXPECT_FALSE(demo.model().state().cameraOff);
        const std::optional<ProbedMovie> movie = waitForMovie(demo, 15);
        EXPECT_TRUE(movie.has_value()) << moviesIn(demo.videos).size() << " movies";
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ShortcutsEndToEndTest, AltWithADigitRecallsThatScene) {
    DemoRun run;
    if (!prepare(run)) GTEST_SKIP() << skipped_;
    const int status = run.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        const std::shared_ptr<hollowkit::SceneCamera> camera = demo.camera();
        const hollowkit::LensPose stored[] = {{30, 5, 100}, {-40, -10, 100}};
        for (const auto& pose : stored) {
            camera->setPose(pose);
            demo.model().saveCurrentPositionAsScene();
        }
        ASSERT_EQ(demo.model().state().scenes.size(), 2u);
        camera->setPose({});
        ASSERT_TRUE(demo.focusWindow());
        // In this order, each row starts from where the previous one left the camera.
        const struct {
            const char* keys;
            size_t scene;
        } rows[] = {{"alt+2", 1}, {"alt+1", 0}, {"alt+2", 1}};
        for (const auto& row : rows) {
            SCOPED_TRACE(row.keys);
            const hollowkit::LensPose& target = stored[row.scene];
            ASSERT_TRUE(demo.typeKeys(row.keys));
            EXPECT_TRUE(demo.waitFor([&] {
                const hollowkit::LensPose now = camera->pose();
                return std::abs(now.panDegrees - target.panDegrees) < 0.5 &&
                       std::abs(now.tiltDegrees - target.tiltDegrees) < 0.5;
            })) << "pan " << camera->pose().panDegrees << ", tilt " << camera->pose().tiltDegrees;
        }
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ShortcutsEndToEndTest, CtrlSlashOpensTheShortcutsSheetAndReturnClosesIt) {
    DemoRun run;
    if (!prepare(run)) GTEST_SKIP() << skipped_;
    const int status = run.run([](RunningDemo& demo) {
        // The running program wears the look its reference pictures are taken in.
        EXPECT_NE(dynamic_cast<ui::MenuStyle*>(QApplication::style()), nullptr);
        EXPECT_EQ(QApplication::font().family(), QString::fromUtf8(ui::kTextFontFamily));
        EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), ui::darkPalette().color(QPalette::ToolTipBase));
        SheetHost& sheets = demo.window().sheets();
        ASSERT_TRUE(demo.focusWindow());
        ASSERT_FALSE(sheets.shown().has_value());
        ASSERT_TRUE(demo.typeKeys("ctrl+slash"));
        ASSERT_TRUE(demo.waitFor([&] { return sheets.shown() == SheetKind::shortcuts; }));
        EXPECT_TRUE(demo.model().state().showShortcuts);
        ASSERT_TRUE(demo.typeKeys("Return"));
        ASSERT_TRUE(demo.waitFor([&] { return !sheets.shown().has_value(); }));
        EXPECT_FALSE(demo.model().state().showShortcuts);
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ShortcutsEndToEndTest, CtrlQClosesAnOpenSheetFirstAndEndsWithStatusZero) {
    const struct {
        const char* name;
        bool welcomed;  // off: the welcome sheet is open
    } cases[] = {
        {"the welcome sheet open", false},
        {"no sheet", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DemoRun run;
        if (!prepare(run, {.welcomed = c.welcomed})) GTEST_SKIP() << skipped_;
        bool quitRequested = false;
        const int status = run.run([&](RunningDemo& demo) {
            SheetHost& sheets = demo.window().sheets();
            ASSERT_TRUE(demo.waitFor([&] { return sheets.shown().has_value() == !c.welcomed; }));
            ASSERT_TRUE(demo.focusWindow());
            ASSERT_TRUE(demo.typeKeys("ctrl+q"));
            // The sheet goes as part of the quit: once the run has replied,
            // no sheet is left open over the window.
            ASSERT_TRUE(demo.waitFor([&] { return demo.app.lifecycle.hasReplied(); })) << "the quit never finished";
            quitRequested = true;
            EXPECT_FALSE(sheets.shown().has_value());
        });
        EXPECT_TRUE(quitRequested);
        EXPECT_EQ(status, 0);
    }
}

}  // namespace
}  // namespace lumenhollow::test
