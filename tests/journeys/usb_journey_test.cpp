// The USB route as a user meets it: the real application with a Pocket on
// a faked USB bus and its microphone on the desktop's sound server. The
// live picture comes up; arrows, a drag on the picture and the wheel turn
// and zoom the camera (read from the camera's own controls) and it comes to
// rest when let go; a look and a guide are chosen from the bottom bar's
// pills; a photo is a HEIF picture of the camera's frame; Ctrl+R twice
// leaves a movie with picture and sound (face_tracking_journey_test.cpp
// holds the journey's face tracking).

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <span>

#include "hollowkit/testing/fake_v4l2_device.h"
#include "hollowkit/testing/still_image_probe.h"
#include "hollowkit/testing/tone_probe.h"
#include "tests/journeys/journey_movies.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/usb_journey_steps.h"

namespace lumenhollow::journey {
namespace {

// Where the controls sit in the window: a 1152x648 picture under the menu
// bar, the bar's rows included (tests/ui/golden/window-usb.png, moved down
// by the bar).
constexpr int kPictureCentreX = 576;
constexpr int kPictureCentreY = 324;
constexpr int kGuidePillX = 68;
constexpr int kLookPillX = 165;
constexpr int kPillY = 632;
constexpr int kPhotoButtonX = 462;
constexpr int kPhotoButtonY = 570;
// Under the top bar, at the left of the picture's top quarter.
constexpr int kBandLeft = 20;
constexpr int kBandTop = 100;
constexpr int kBandWidth = 280;
constexpr int kBandHeight = 60;
// The fake camera's picture (usb_journey_rig.h).
constexpr int kCameraWidth = 640;
constexpr int kCameraHeight = 360;
// The desktop's tone (PrivatePulseServer's default).
constexpr double kToneHz = 440;

class UsbJourney : public ReturningUserJourney {};

// Each row starts with the pointer on the picture and the window focused;
// `press` runs, the axis must move at least `least` the row's way, then
// `release` runs and the camera must come to rest with the other axes
// where they were. Rows run in order, each from the pose the last one left.
void turnAndZoom(JourneyDesktop& desktop, JourneyApp& app) {
    using Commands = std::vector<std::vector<std::string>>;
    const struct {
        const char* name;
        Commands press;
        Commands release;
        double ReportedPose::*axis;
        int direction;
        double least;
    } cases[] = {
        {"held Right arrow turns right", {{"keydown", "Right"}}, {{"keyup", "Right"}}, &ReportedPose::pan, +1, 1.0},
        {"held Down arrow turns down", {{"keydown", "Down"}}, {{"keyup", "Down"}}, &ReportedPose::tilt, -1, 1.0},
        // The picture follows the pointer: dragging it right turns the camera left.
        {"drag to the right turns left",
         {{"mousedown", "1"}, {"mousemove_relative", "--", "60", "0"}, {"mousemove_relative", "--", "60", "0"}},
         {{"mouseup", "1"}},
         &ReportedPose::pan,
         -1,
         2.0},
        {"wheel up zooms in", {{"click", "--repeat", "8", "4"}}, {}, &ReportedPose::zoom, +1, 1.0},
        {"wheel down zooms out", {{"click", "--repeat", "4", "5"}}, {}, &ReportedPose::zoom, -1, 1.0},
    };
    const std::optional<std::string> window = app.window();
    ASSERT_TRUE(window);
    std::optional<ReportedPose> before = settledPose(app);
    ASSERT_TRUE(before) << app.describe();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(xdotool(desktop, {"mousemove", "--window", *window, std::to_string(kPictureCentreX),
                                      std::to_string(kPictureCentreY)}));
        ASSERT_TRUE(xdotool(desktop, {"windowfocus", "--sync", *window}));
        for (const auto& command : c.press) EXPECT_TRUE(xdotool(desktop, command));
        std::optional<ReportedPose> during;
        const bool moved = app.waitForState(
            [&](const nlohmann::json& report) {
                during = poseOf(report);
                return during && c.direction * (*during.*c.axis - *before.*c.axis) >= c.least;
            },
            15s);
        for (const auto& command : c.release) EXPECT_TRUE(xdotool(desktop, command));
        ASSERT_TRUE(moved) << "from " << describe(*before) << " to " << (during ? describe(*during) : "nothing");
        const std::optional<ReportedPose> after = settledPose(app);
        ASSERT_TRUE(after) << "the camera kept moving once let go\n" << app.describe();
        EXPECT_GE(c.direction * (*after.*c.axis - *before.*c.axis), c.least) << describe(*after);
        for (const auto other : {&ReportedPose::pan, &ReportedPose::tilt, &ReportedPose::zoom}) {
            if (other != c.axis) {
                EXPECT_NEAR(*after.*other, *before.*other, 0.2) << describe(*after);
            }
        }
        before = after;
    }
}

// The photo is the camera's own frame: its size, and the frame number the
// fake camera writes into the picture's top band reads back.
void checkPhoto(const std::filesystem::path& folder) {
    std::optional<hollowkit::RgbImage> photo;
    std::string error;
    ASSERT_TRUE(waitFor(
        [&] {
            const std::vector<std::filesystem::path> photos = filesEndingIn(folder, ".heic");
            photo = photos.empty() ? std::nullopt : hollowkit::decodeHeifFile(photos.front(), &error);
            return photo.has_value();
        },
        60s))
        << "no photo decodes: " << error;
    EXPECT_EQ(photo->width, kCameraWidth);
    EXPECT_EQ(photo->height, kCameraHeight);
    std::vector<uint8_t> luma(static_cast<size_t>(photo->width) * photo->height);
    for (int y = 0; y < photo->height; ++y) {
        for (int x = 0; x < photo->width; ++x) {
            const auto [r, g, b] = photo->at(x, y);
            luma[static_cast<size_t>(y) * photo->width + x] = lumaOf(r, g, b);
        }
    }
    EXPECT_TRUE(hollowkit::FakeV4l2Device::readFrameIndex(luma.data(), photo->width, photo->width, photo->height))
        << "the photo does not show the camera's picture";
}

TEST_F(UsbJourney, LivePictureGimbalLookGuidePhotoAndAMovieWithSound) {
    const PocketSoundSource sound = addPocketSoundSource(desktop_);
    ASSERT_TRUE(sound.module) << sound.error;
    JourneyApp app(desktop_, "usb", LUMENHOLLOW_JOURNEY_USB_PATH);
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["connection"] == "usb" && s["picture"] == true && s["microphone"] == kPocketSoundName;
        },
        60s))
        << app.describe();

    // On the screen: the picture's top band, where the camera writes each
    // frame's number (its lowest bits at the left), keeps changing.
    const std::optional<std::pair<int, int>> origin = app.windowOrigin();
    ASSERT_TRUE(origin);
    const ScreenRect band{origin->first + kBandLeft, origin->second + kBandTop, kBandWidth, kBandHeight};
    const std::vector<uint8_t> shown = captureBrightness(desktop_, band);
    ASSERT_EQ(shown.size(), static_cast<size_t>(kBandWidth * kBandHeight));
    EXPECT_TRUE(waitFor([&] {
        const std::vector<uint8_t> later = captureBrightness(desktop_, band);
        return later.size() == shown.size() && later != shown;
    })) << "the picture on the screen stands still";

    turnAndZoom(desktop_, app);
    if (HasFatalFailure()) return;

    ASSERT_TRUE(app.clickInWindow(kPhotoButtonX, kPhotoButtonY));
    checkPhoto(desktop_.outputFolder());

    // The look: the row at the middle of the menu is the middle built-in
    // look ("None", the header and six looks above the import row).
    std::optional<ScreenRect> menu = openPillMenu(desktop_, app, kLookPillX, kPillY);
    ASSERT_TRUE(menu) << "the look pill opened no menu";
    ASSERT_TRUE(app.clickOnScreen(menu->x + menu->width / 2, menu->y + menu->height / 2));
    EXPECT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["look"] == "Teal & Orange"; }))
        << app.describe();
    // The guide: the menu's first row is the grid.
    menu = openPillMenu(desktop_, app, kGuidePillX, kPillY);
    ASSERT_TRUE(menu) << "the guide pill opened no menu";
    ASSERT_TRUE(app.clickOnScreen(menu->x + menu->width / 2, menu->y + 12));
    EXPECT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["guides"] == nlohmann::json{"grid"}; }))
        << app.describe();

    ASSERT_TRUE(app.key("ctrl+r"));
    // Four seconds of reports while recording; the movie may start a little
    // later on a loaded machine (the encoder opens first), so less is asked of it.
    ASSERT_TRUE(app.waitForRecording(40, 60s)) << app.describe();
    ASSERT_TRUE(app.key("ctrl+r"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == false; }, 60s))
        << app.describe();

    std::optional<ProbedMovie> movie;
    std::string error;
    std::vector<std::filesystem::path> movies;
    ASSERT_TRUE(waitFor(
        [&] {
            movies = moviesIn(desktop_.outputFolder());
            movie = movies.size() == 1 ? probeMovie(movies.front(), &error) : std::nullopt;
            return movie && movie->durationSeconds > 0;
        },
        90s))
        << "no finished movie: " << error << "\n" << app.describe();
    EXPECT_EQ(movie->videoStreams, 1);
    EXPECT_EQ(movie->audioStreams, 1) << "the movie has no sound";
    EXPECT_GE(movie->durationSeconds, 1.0);
    // The sound is the tone the Pocket's microphone hears.
    constexpr int kRate = 48000;
    const std::optional<std::vector<float>> heard = decodedSound(movies.front(), kRate, &error);
    ASSERT_TRUE(heard) << error;
    ASSERT_GE(heard->size(), static_cast<size_t>(kRate / 2)) << "less than half a second of sound";
    const std::span<const float> middle(heard->data() + heard->size() / 2 - kRate / 8, kRate / 4);
    EXPECT_NEAR(hollowkit::zeroCrossingFrequency(middle, kRate), kToneHz, 20.0);

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
