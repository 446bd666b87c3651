// A take of the screen set up from the screen-recording popover of the
// demonstration application on an X server split into two monitors: the
// panel's controls reach the model, Record makes a combined movie whose
// camera bubble sits in the chosen corner of the chosen monitor from the
// camera's first picture on (held back at the take's start), "Apply
// Changes" with another corner rebuilds it, and "Rebuild Another Take…"
// rebuilds a take folder typed into the folder dialog. A press on the
// application's own window during a take never zooms the combined movie; a
// press on another program's window does.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "demo_run.h"
#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/recording/cursor_timeline.h"
#include "hollowkit/recording/movie_reader.h"
#include "hollowkit/recording/x11/x11_window_owner.h"
#include "hollowkit/simulation/scene_camera.h"
#include "hollowkit/x11/xcb_connection.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/island/notch_panel.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/record_pill.h"
#include "lumenhollow/ui/kit/segmented_control.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/panels/corner_picker.h"
#include "lumenhollow/ui/panels/corner_picker_layout.h"
#include "lumenhollow/ui/panels/screen_recording_button.h"
#include "lumenhollow/ui/panels/screen_recording_panel.h"
#include "lumenhollow/ui/window/capture_controls.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/video_surface.h"
#include "tests/recording/screen_test_support.h"

namespace lumenhollow::test {
namespace {

namespace hk = hollowkit;
using hk::testsupport::colorNear;

// The recorded monitor: a small one right of the window's, painted a colour
// no scene of the simulator shows (small, so its three compositions take
// seconds, not a minute); the window stays on the left one.
constexpr int kLeftWidth = 960;
constexpr int kLeftHeight = 1080;
constexpr int kMonitorWidth = 480;
constexpr int kMonitorHeight = 270;
constexpr hk::RgbColor kBackdrop{230, 0, 230};
constexpr int kBackdropTolerance = 40;

void clickAt(QWidget& widget, QPointF at) { QTest::mouseClick(&widget, Qt::LeftButton, {}, at.toPoint()); }

void chooseSegment(ui::SegmentedControl& control, int index) {
    clickAt(control, ui::segmentRects(QSizeF(control.size()), control.count()).at(static_cast<size_t>(index)).center());
}

void chooseCorner(CornerPicker& picker, const hk::BubbleStyle& style, hk::BubbleCorner corner) {
    for (const CornerTarget& target : cornerTargets(style.corner, style.size, style.shape, QSizeF(picker.size()))) {
        if (target.corner == corner) {
            // Pressed where a person would, in the popover's window: the target's own button takes it.
            QWidget* window = picker.window();
            const QPoint at = picker.mapTo(window, target.rect.center().toPoint());
            return QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, at);
        }
    }
    ADD_FAILURE() << "no target for the corner";
}

// Opens the popover from the window's screen button; its panel.
ScreenRecordingPanel* openPanel(RunningDemo& demo) {
    auto* button = demo.window().findChild<ScreenRecordingButton*>();
    if (!button || !button->isVisible()) return nullptr;
    if (!button->popover()->isPresented()) QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    if (!demo.waitFor([&] { return button->popover()->isPresented(); }, 10s)) return nullptr;
    return qobject_cast<ScreenRecordingPanel*>(button->popover()->content());
}

void closePanel(RunningDemo& demo) {
    auto* button = demo.window().findChild<ScreenRecordingButton*>();
    QTest::keyClick(button->popover(), Qt::Key_Escape);
    EXPECT_TRUE(demo.waitFor([&] { return !demo.model().state().showScreenOptions; }, 5s));
}

// Real time passes with the event loop running (the take records it).
void runFor(RunningDemo& demo, std::chrono::milliseconds span) {
    QElapsedTimer elapsed;
    elapsed.start();
    demo.waitFor([&] { return elapsed.hasExpired(span.count()); }, span + 1s);
}

// Waits for the composer to start and finish; true when it finished in time.
bool waitForComposed(RunningDemo& demo, const std::filesystem::path& movie,
                     std::filesystem::file_time_type after) {
    return demo.waitFor(
        [&] {
            std::error_code error;
            const auto written = std::filesystem::last_write_time(movie, error);
            return !demo.model().state().composeProgress && !demo.model().isBusy() && !error && written > after;
        },
        180s);
}

// When a movie's first picture is shown, in seconds on its time line;
// nothing when it has none.
std::optional<double> firstPictureTime(const std::filesystem::path& movie) {
    auto opened = hk::MovieReader::open(movie);
    if (!opened || !opened.value()->hasVideo()) return std::nullopt;
    hk::MovieReader& reader = *opened.value();
    for (double at = 0; at <= reader.duration(); at += 1.0 / 120) {
        if (const hk::DecodedPicture* picture = reader.frameAt(at)) return picture->time;
    }
    return std::nullopt;
}

// A moment of the take's combined movie that shows both the screen and the
// camera, read from what the take recorded: both movies count from the
// screen's first frame, and the camera's picture begins only with the first
// frame its movie took, which a busy machine may bring a second or more
// later (its frames come late, or the movie waits up to a second for the
// camera's sound). A few of the combined movie's pictures (30 a second)
// past the later start.
std::optional<double> bothShownIn(const std::filesystem::path& take) {
    const auto screen = firstPictureTime(take / "Screen.mov");
    const auto camera = firstPictureTime(take / "Camera.mov");
    if (!screen || !camera) return std::nullopt;
    return std::max(*screen, *camera) + 0.2;
}

// Per corner: does the bubble's middle show the camera (anything but the
// backdrop) in the movie's first picture at or after `seconds`?
std::map<hk::BubbleCorner, bool> bubbleCorners(const std::filesystem::path& movie, double seconds,
                                               hk::BubbleStyle style) {
    std::map<hk::BubbleCorner, bool> shown;
    const auto picture = hk::testsupport::decodePicture(movie, seconds, kMonitorWidth, kMonitorHeight);
    if (picture.pixels.empty()) return shown;
    for (hk::BubbleCorner corner : hk::kAllBubbleCorners) {
        style.corner = corner;
        const hk::PixelRect square = hk::BubbleCompositor::bubbleSquare(style, kMonitorWidth, kMonitorHeight);
        const hk::RgbColor middle = picture.at(static_cast<int>(square.x + square.width / 2),
                                               static_cast<int>(square.y + square.height / 2));
        shown[corner] = !colorNear(middle, kBackdrop, kBackdropTolerance);
    }
    return shown;
}

std::map<hk::BubbleCorner, bool> onlyIn(std::optional<hk::BubbleCorner> corner) {
    std::map<hk::BubbleCorner, bool> shown;
    for (hk::BubbleCorner each : hk::kAllBubbleCorners) shown[each] = each == corner;
    return shown;
}
std::map<hk::BubbleCorner, bool> noCorner() { return onlyIn(std::nullopt); }

// A left-button press held as a hand holds it (the pointer's record samples
// the button 60 times a second), the event loop running meanwhile.
bool holdPressAt(RunningDemo& demo, QPoint global) {
    if (!demo.pressAt(global)) return false;
    runFor(demo, 250ms);
    return demo.release();
}

// Another program's window: white, on a connection of its own, kept above
// every other window once raised.
class OtherProgramWindow {
public:
    OtherProgramWindow(const std::string& display, QRect area) {
        auto opened = hk::x11::openConnection(display);
        if (!opened) return;
        x_ = std::move(opened.value());
        xcb_connection_t* c = x_.get();
        window_ = xcb_generate_id(c);
        const uint32_t values[] = {0xffffff, 1};  // white (24-bit TrueColor), override-redirect
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, x_.root, static_cast<int16_t>(area.x()),
                          static_cast<int16_t>(area.y()), static_cast<uint16_t>(area.width()),
                          static_cast<uint16_t>(area.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c, window_);
        raise();
    }

    bool ok() const { return x_.get() && !x_.broken(); }
    // Above every window, ours included; true once the server did it.
    bool raise() {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(x_.get(), window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        return hk::x11::ask(xcb_get_input_focus_reply, x_.get(), xcb_get_input_focus(x_.get())) != nullptr;
    }

private:
    hk::x11::Connection x_;
    uint32_t window_ = 0;
};

class ScreenTakeEndToEndTest : public testing::Test {
protected:
    void SetUp() override {
        DemoRun::Options options;
        options.screen = {kLeftWidth + kMonitorWidth, kLeftHeight};
        options.monitors = {{"LEFT", 0, 0, kLeftWidth, kLeftHeight, true},
                            {"RIGHT", kLeftWidth, 0, kMonitorWidth, kMonitorHeight, false}};
        options.background = kBackdrop;
        options.privateSound = true;
        const std::string why = run_.prepare(options);
        if (!why.empty()) GTEST_SKIP() << why;
    }

    DemoRun run_;
};

TEST_F(ScreenTakeEndToEndTest, ATakeSetUpFromThePanelIsComposedAndRebuiltWithTheChosenCorner) {
    const std::optional<uint32_t> right = run_.xvfb().monitorId("RIGHT");
    ASSERT_TRUE(right);
    const int status = run_.run([&](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        MainWindow& window = demo.window();
        window.move(0, 200);
        ASSERT_TRUE(demo.waitFor([&] { return window.frameGeometry().right() < kLeftWidth; }, 10s))
            << "the window should stay off the recorded monitor: " << window.frameGeometry().x() << "," << window.frameGeometry().y() << " " << window.frameGeometry().width() << "x" << window.frameGeometry().height() << " min " << window.minimumWidth();
        const PublishedState& state = demo.model().state();

        // Set up from the panel, each control in turn.
        ScreenRecordingPanel* panel = openPanel(demo);
        ASSERT_TRUE(panel);
        clickAt(panel->recordSwitch(), panel->recordSwitch().rect().center());
        ASSERT_TRUE(demo.waitFor([&] { return state.recordScreen; }, 5s));
        // Two monitors (and the server's own one over the whole screen): the
        // menu offers each display the server lists, after the main display.
        ASSERT_TRUE(demo.waitFor([&] { return !panel->displayMenu().isHidden(); }, 10s));
        const auto& displays = state.displays;
        const auto rightDisplay = std::ranges::find_if(displays, [&](const auto& d) { return d.id == *right; });
        ASSERT_NE(rightDisplay, displays.end());
        ASSERT_GE(displays.size(), 2u);
        ASSERT_EQ(panel->displayMenu().count(), static_cast<int>(displays.size()) + 1);
        const int rightRow = static_cast<int>(rightDisplay - displays.begin()) + 1;
        Q_EMIT panel->displayMenu().activated(rightRow);
        EXPECT_EQ(state.screenDisplayID, right);
        chooseSegment(panel->shapePicker(), 1);
        EXPECT_EQ(state.bubbleStyle.shape, hk::BubbleShape::cutout);
        chooseSegment(panel->shapePicker(), 0);
        EXPECT_EQ(state.bubbleStyle.shape, hk::BubbleShape::circle);
        chooseSegment(panel->sizePicker(), 2);
        EXPECT_EQ(state.bubbleStyle.size, hk::BubbleSize::large);
        chooseSegment(panel->backgroundPicker(), 1);
        EXPECT_EQ(state.bubbleStyle.background, hk::BubbleBackground::blur);
        chooseCorner(panel->cornerPicker(), state.bubbleStyle, hk::BubbleCorner::bottomLeading);
        EXPECT_EQ(state.bubbleStyle.corner, hk::BubbleCorner::bottomLeading);
        panel->macSoundBox().click();
        EXPECT_TRUE(state.includeMacSound);
        closePanel(demo);

        // Record, the pointer away on the other monitor.
        EXPECT_EQ(demo.xvfb.xdotool({"mousemove", "100", "900"}).status, 0);
        ui::RecordPill& record = window.findChild<CaptureControls*>()->recordPill();
        // The camera's picture held back until the take has run for a second
        // and a half, as a busy machine may hold it: the camera's movie then
        // begins well after the screen's, and its bubble only with it.
        const std::shared_ptr<hk::SceneCamera> camera = demo.camera();
        ASSERT_TRUE(camera);
        record.click();
        camera->setPictureFlowing(false);
        ASSERT_TRUE(demo.waitFor([&] { return state.recordingStarted.has_value(); }, 30s))
            << state.notice.value_or("no notice");
        constexpr double kHeldSeconds = 1.5;
        runFor(demo, std::chrono::milliseconds(static_cast<int>(kHeldSeconds * 1000)));
        camera->setPictureFlowing(true);
        runFor(demo, 3s);
        record.click();
        ASSERT_TRUE(demo.waitFor([&] { return state.lastScreenTake && !state.composeProgress; }, 180s))
            << state.notice.value_or("no notice");
        const std::filesystem::path take = *state.lastScreenTake;
        const std::filesystem::path combined = take / "Combined.mov";
        ASSERT_TRUE(std::filesystem::exists(combined)) << state.notice.value_or("no notice");
        const auto probed = probeMovie(combined);
        ASSERT_TRUE(probed);
        EXPECT_GT(probed->durationSeconds, 2.0);
        EXPECT_TRUE(probed->hasAudio) << "the computer's sound was asked for";
        const std::optional<double> cameraStart = firstPictureTime(take / "Camera.mov");
        const std::optional<double> shown = bothShownIn(take);
        ASSERT_TRUE(cameraStart && shown) << "the take's screen and camera movies should both have pictures";
        EXPECT_GE(*cameraStart, kHeldSeconds);
        ASSERT_LT(*shown, probed->durationSeconds) << "the camera's picture should start within the take";
        EXPECT_EQ(bubbleCorners(combined, *cameraStart / 2, state.bubbleStyle), noCorner())
            << "no bubble before the camera's first picture";
        EXPECT_EQ(bubbleCorners(combined, *shown, state.bubbleStyle), onlyIn(hk::BubbleCorner::bottomLeading))
            << "at " << *shown << " s";

        // The take copied aside without its movie: an older take to rebuild.
        const std::filesystem::path older = take.parent_path() / "An Older Take";
        std::filesystem::create_directories(older);
        for (const char* file : {"Screen.mov", "Camera.mov", "Cursor.json"}) {
            if (std::filesystem::exists(take / file)) std::filesystem::copy_file(take / file, older / file);
        }

        // "Apply Changes" with the top right corner rebuilds the last take.
        panel = openPanel(demo);
        ASSERT_TRUE(panel);
        ASSERT_FALSE(panel->rebuildBlock().isHidden());
        chooseCorner(panel->cornerPicker(), state.bubbleStyle, hk::BubbleCorner::topTrailing);
        ASSERT_EQ(state.bubbleStyle.corner, hk::BubbleCorner::topTrailing);
        const auto firstWritten = std::filesystem::last_write_time(combined);
        panel->applyButton().click();
        ASSERT_TRUE(waitForComposed(demo, combined, firstWritten)) << state.notice.value_or("no notice");
        EXPECT_EQ(bubbleCorners(combined, *shown, state.bubbleStyle), onlyIn(hk::BubbleCorner::topTrailing));

        // "Rebuild Another Take…": the folder typed into the dialog.
        chooseCorner(panel->cornerPicker(), state.bubbleStyle, hk::BubbleCorner::topLeading);
        panel->rebuildAnotherButton().click();
        QFileDialog* dialog = nullptr;
        ASSERT_TRUE(demo.waitFor([&] { return (dialog = window.findChild<QFileDialog*>()) && dialog->isVisible(); },
                                 10s));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(name);
        name->setText(QString::fromStdString(older.string()));
        // As the dialog's Choose button does.
        static_cast<QDialog*>(dialog)->accept();
        ASSERT_TRUE(waitForComposed(demo, older / "Combined.mov", std::filesystem::file_time_type::min())) << state.notice.value_or("no notice");
        EXPECT_EQ(bubbleCorners(older / "Combined.mov", *shown, state.bubbleStyle),
                  onlyIn(hk::BubbleCorner::topLeading));
        // The last take kept its own.
        EXPECT_EQ(bubbleCorners(combined, *shown, state.bubbleStyle), onlyIn(hk::BubbleCorner::topTrailing));
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ScreenTakeEndToEndTest, APressOnTheAppsOwnWindowNeverZoomsAndOneOnAnotherProgramsDoes) {
    const std::optional<uint32_t> right = run_.xvfb().monitorId("RIGHT");
    ASSERT_TRUE(right);
    // On the recorded monitor: another program's white window on the right,
    // and the middle of our window's picture on the left (the rest of the
    // window hangs over the other monitor). The recording leaves our window
    // out, so the picture shows what lies under it (black: the recording
    // does not know the backdrop the test painted on the root).
    constexpr QPoint kMonitor{kLeftWidth, 0};
    constexpr QRect kOther{300, 60, 150, 150};
    constexpr QPoint kOwnPress{80, 135};
    // Unzoomed, these show something else than the other window; zoomed in
    // on it, they show it; and `kInside` shows it unless the picture zooms
    // elsewhere.
    const std::vector<QPoint> kOutside{{200, 135}, {300, 40}, {250, 230}};
    constexpr QPoint kInside{375, 100};
    constexpr hk::RgbColor kWhite{255, 255, 255};
    OtherProgramWindow other(run_.xvfb().displayName(), kOther.translated(kMonitor));
    ASSERT_TRUE(other.ok());

    const int status = run_.run([&](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        MainWindow& window = demo.window();
        const QPoint surfaceMiddle = window.surface().mapTo(&window, window.surface().rect().center());
        window.move(kMonitor + kOwnPress - surfaceMiddle);
        ASSERT_TRUE(demo.waitFor(
            [&] { return window.surface().mapToGlobal(window.surface().rect().center()) == kMonitor + kOwnPress; },
            10s));
        ASSERT_TRUE(other.raise());
        const PublishedState& state = demo.model().state();
        const hk::PixelRect bubble = hk::BubbleCompositor::bubbleSquare(state.bubbleStyle, kMonitorWidth, kMonitorHeight);
        for (const QPoint& probe : kOutside) {
            ASSERT_FALSE(probe.x() >= bubble.x && probe.x() < bubble.x + bubble.width && probe.y() >= bubble.y &&
                         probe.y() < bubble.y + bubble.height)
                << "a probe lies under the camera's bubble";
        }

        // The pointer's record and the screen recording count the main
        // window, the island and a popover as ours by one rule, which reads
        // the process id each of them carries.
        auto x = hk::x11::openConnection(run_.xvfb().displayName());
        ASSERT_TRUE(x);
        const hk::x11::WindowOwner owner(x->get(), static_cast<uint32_t>(::getpid()));
        const auto ours = [&](const QWidget& widget) { return owner.owns(static_cast<uint32_t>(widget.winId())); };
        ScreenRecordingPanel* panel = openPanel(demo);
        ASSERT_TRUE(panel);
        ASSERT_TRUE(demo.app.island);
        EXPECT_TRUE(ours(window));
        EXPECT_TRUE(ours(demo.app.island->panel()));
        EXPECT_TRUE(ours(*panel->window()));
        clickAt(panel->recordSwitch(), panel->recordSwitch().rect().center());
        ASSERT_TRUE(demo.waitFor([&] { return state.recordScreen && !panel->displayMenu().isHidden(); }, 10s));
        const auto& displays = state.displays;
        const auto rightDisplay = std::ranges::find_if(displays, [&](const auto& d) { return d.id == *right; });
        ASSERT_NE(rightDisplay, displays.end());
        Q_EMIT panel->displayMenu().activated(static_cast<int>(rightDisplay - displays.begin()) + 1);
        ASSERT_EQ(state.screenDisplayID, right);
        closePanel(demo);

        ui::RecordPill& record = window.findChild<CaptureControls*>()->recordPill();
        record.click();
        ASSERT_TRUE(demo.waitFor([&] { return state.recordingStarted.has_value(); }, 30s))
            << state.notice.value_or("no notice");
        // Apart by more than a zoom lasts, so each press's zoom (or none)
        // shows on its own.
        runFor(demo, 1500ms);
        ASSERT_TRUE(holdPressAt(demo, kMonitor + kOwnPress));
        runFor(demo, 4500ms);
        ASSERT_TRUE(holdPressAt(demo, kMonitor + kOther.center()));
        runFor(demo, 3500ms);
        record.click();
        ASSERT_TRUE(demo.waitFor([&] { return state.lastScreenTake && !state.composeProgress; }, 180s))
            << state.notice.value_or("no notice");
        const std::filesystem::path take = *state.lastScreenTake;

        // The pointer's record: the first press over the app, the second not.
        const auto cursor = hk::CursorTimeline::load(take / "Cursor.json");
        ASSERT_TRUE(cursor) << cursor.error();
        const std::vector<hk::CursorSample> presses = cursor->pressOnsets();
        ASSERT_EQ(presses.size(), 2u);
        EXPECT_TRUE(presses[0].overApp) << "the press on our own window";
        EXPECT_FALSE(presses[1].overApp) << "the press on the other program's window";

        const std::filesystem::path combined = take / "Combined.mov";
        const auto pictureAt = [&](double seconds) {
            return hk::testsupport::decodePicture(combined, seconds, kMonitorWidth, kMonitorHeight);
        };
        const auto shows = [](const hk::testsupport::RgbPicture& picture, QPoint at, hk::RgbColor colour) {
            return !picture.pixels.empty() && colorNear(picture.at(at.x(), at.y()), colour, kBackdropTolerance);
        };
        const auto unzoomed = [&](const hk::testsupport::RgbPicture& picture) {
            return shows(picture, kInside, kWhite) &&
                   std::ranges::none_of(kOutside, [&](QPoint probe) { return shows(picture, probe, kWhite); });
        };
        const auto zoomedOnOther = [&](const hk::testsupport::RgbPicture& picture) {
            return std::ranges::all_of(kOutside, [&](QPoint probe) { return shows(picture, probe, kWhite); });
        };
        for (double after : {0.0, 0.8, 1.2, 1.6, 2.0}) {
            EXPECT_TRUE(unzoomed(pictureAt(presses[0].time + after)))
                << "the whole screen " << after << " s after the press on our own window";
        }
        const bool zooms = std::ranges::any_of(std::vector<double>{0.8, 1.2, 1.6, 2.0}, [&](double after) {
            return zoomedOnOther(pictureAt(presses[1].time + after));
        });
        EXPECT_TRUE(zooms) << "the picture should zoom in on the press on the other program's window";
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace lumenhollow::test
