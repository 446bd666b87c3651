// The wireless route end to end, the real application against a fake BlueZ
// on a private bus, a fake nmcli and the simulated Pocket on loopback
// (lumenhollow-journey-wireless), with no Pocket on USB.
//
// Pairing and card recording: on a fresh home the application asks for the
// pairing to be approved on the camera; once approved it joins the camera's
// Wi-Fi through nmcli and shows the camera's live picture. A step of EV in
// the camera settings panel reaches the camera as its setting frame, and
// Record starts and stops the camera's own card recording, saying where
// the movie went and writing nothing on the computer.
//
// Silence: while a movie records on the computer from the Wi-Fi picture,
// the camera stops answering and streaming. The application says the
// camera is off, on the screen too, the movie is ended, and every file it
// left plays. When the camera answers again, the picture comes back by
// itself.
//
// A failed connection: the camera is left on another Wi-Fi network and will
// not come back. The failure's panel takes clicks on "Use USB-C Instead" and
// on "Reconnect", which connects to the camera anew.
//
// No Bluetooth: on a system bus without BlueZ the window shows the failure
// "No Bluetooth adapter found", not the camera-off panel, with its "Use
// USB-C Instead"; when bluetoothd starts the camera is found without a click.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/camera_command.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/testing/private_dbus_daemon.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/wireless_journey_steps.h"

namespace lumenhollow::journey {
namespace {

// Where the controls sit in the window over Wi-Fi (a 1152x648 picture
// under the menu bar), the bar's rows included.
constexpr int kCameraSettingsPillX = 682;
constexpr int kBottomBarY = 632;
constexpr int kRecordPillX = 549;
constexpr int kRecordPillY = 570;
constexpr int kGearX = 1124;
constexpr int kGearY = 41;
// The camera settings popover is its panel's width; its EV "+" sits 33 px
// from the right edge on the EV row.
constexpr int kSettingsPanelWidth = 340;
constexpr int kEvUpFromRight = 33;
constexpr int kEvRowY = 251;
// What the application says of a movie the camera's loss ended: whichever
// comes first of the reconnection giving up and five seconds without a
// picture (the two fall within a tenth of a second of each other), the
// movie ends saved and says why.
constexpr const char* kCameraLostNotices[] = {
    "The camera was disconnected: recording stopped, video saved",
    "No picture from the camera for 5 seconds: recording stopped, video saved",
};
// The picture's area of the window, clear of the bars, and the middle of
// it where an overlay puts its title and words.
constexpr int kPictureArea[] = {100, 80, 950, 380};
constexpr int kOverlayWords[] = {470, 270, 212, 110};
// The camera-off panel's "Use USB-C Instead" pill, centred under its words.
constexpr int kCameraOffUseUSBX = 575;
constexpr int kCameraOffUseUSBY = 420;
// The failed connecting panel's pills, centred under its words: "Use USB-C
// Instead" in the USB hint, then "Reconnect" below it.
constexpr int kFailedUseUSBX = 575;
constexpr int kFailedUseUSBY = 389;
constexpr int kFailedReconnectX = 575;
constexpr int kFailedReconnectY = 433;
// What the application says on a machine without Bluetooth.
constexpr const char* kNoAdapter = "No Bluetooth adapter found";
// What the application says when the camera will not leave another network.
constexpr const char* kStillOnAnotherNetwork =
    "The camera is still on another Wi-Fi network. Turn it off and on, then reconnect.";
// More than a movie's header: a fragment with pictures follows it.
constexpr uintmax_t kFirstFragmentBytes = 8 * 1024;

// The frame the camera gets for a setting, as the simulator records it.
std::string settingFrame(const hollowkit::CameraSetting& setting) {
    const hollowkit::CameraCommand command = hollowkit::CameraCommand::setting(setting);
    return hollowkit::DumlFrame::commandKey(command.cmdSet, command.cmdId) + " " +
           hollowkit::hexString(command.payload);
}

bool hasFrame(const nlohmann::json& report, const std::string& frame) {
    const nlohmann::json frames = simulator(report).value("settingsFrames", nlohmann::json::array());
    return std::find(frames.begin(), frames.end(), frame) != frames.end();
}

class WirelessJourney : public testing::Test {
protected:
    void SetUp() override {
        startAndGreet();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string why;
        ASSERT_TRUE(pairAndGoLive(*app_, why)) << why;
    }

    // The program on a fresh home, its welcome passed, asking for nothing yet.
    void startAndGreet(const std::vector<std::string>& environment = {}) {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        if (!hollowkit::PrivateDbusDaemon::program()) GTEST_SKIP() << "dbus-daemon is not installed";
        desktop_.start();
        // The system bus of this desktop, where the fake BlueZ serves: the
        // test's, so no daemon outlives it even when the program is killed.
        auto started = bus_.start();
        ASSERT_TRUE(started.has_value()) << started.error();
        std::vector<std::string> variables{"LUMENHOLLOW_JOURNEY_BUS=" + bus_.address()};
        variables.insert(variables.end(), environment.begin(), environment.end());
        app_.emplace(desktop_, "wireless", LUMENHOLLOW_JOURNEY_WIRELESS_PATH, variables);
        // A fresh home greets first; Get Started is the default button.
        ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["welcome"] == true; }, 60s))
            << app_->describe();
        ASSERT_TRUE(app_->key("Return"));
        ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["welcome"] == false; }))
            << app_->describe();
    }

    void TearDown() override {
        if (!app_ || !app_->running()) return;
        ASSERT_TRUE(app_->key("ctrl+q"));
        EXPECT_EQ(app_->waitForExit(60s), std::optional<int>(0)) << app_->describe();
    }

    // The brightness of `area` (x, y, width, height in the window) on the screen.
    std::vector<uint8_t> brightnessIn(const int (&area)[4]) {
        const auto origin = app_->windowOrigin();
        if (!origin) return {};
        return captureBrightness(desktop_, {origin->first + area[0], origin->second + area[1], area[2], area[3]});
    }

    // Keys to whatever holds the keyboard (an open menu grabs it).
    bool typeKeys(const std::vector<std::string>& keys) {
        std::vector<std::string> arguments{"key", "--delay", "150"};
        arguments.insert(arguments.end(), keys.begin(), keys.end());
        return xdotool(desktop_, arguments);
    }

    JourneyDesktop desktop_;
    hollowkit::PrivateDbusDaemon bus_;
    std::optional<JourneyApp> app_;
};

TEST_F(WirelessJourney, PairsJoinsChangesASettingAndRecordsOnTheCard) {
    const nlohmann::json live = simulator(app_->state());
    EXPECT_EQ(live["paired"], true);
    EXPECT_EQ(live["wifiJoined"], hollowkit::SimPocketBle::Config{}.ssid);
    EXPECT_EQ(live["wifiActivations"], 1);
    EXPECT_EQ(live["passwordFilesOk"], true);
    // The camera's picture on the screen: the stream's light cells, where a
    // window without it is black or darkened.
    EXPECT_TRUE(waitFor([&] { return meanOf(brightnessIn(kPictureArea)) > 60; }))
        << "the live picture is not on the screen (mean brightness " << meanOf(brightnessIn(kPictureArea)) << ")";

    // The camera settings panel from its pill, then one step of EV up.
    ASSERT_TRUE(app_->clickInWindow(kCameraSettingsPillX, kBottomBarY));
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["cameraSettings"] == true; }))
        << app_->describe();
    std::optional<ScreenRect> panel;
    ASSERT_TRUE(waitFor([&] {
        panel = visibleWindowOfWidth(desktop_, app_->pid(), kSettingsPanelWidth);
        return panel.has_value();
    }))
        << "no camera settings panel on the screen";
    const std::string evUp = settingFrame(hollowkit::CameraSetting::exposureCompensation(1));
    EXPECT_FALSE(hasFrame(app_->state(), evUp));
    ASSERT_TRUE(app_->clickOnScreen(panel->x + panel->width - kEvUpFromRight, panel->y + kEvRowY));
    EXPECT_TRUE(app_->waitForState([&](const nlohmann::json& s) { return hasFrame(s, evUp); }))
        << "the camera never got " << evUp << "; " << app_->describe();
    ASSERT_TRUE(typeKeys({"Escape"}));
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["cameraSettings"] == false; }))
        << app_->describe();

    // Record goes to the camera's card over Wi-Fi.
    ASSERT_EQ(app_->state()["recordTarget"], "camera");
    ASSERT_TRUE(app_->clickInWindow(kRecordPillX, kRecordPillY));
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) {
        return s["cardRecording"] == true && simulator(s)["cardRecording"] == true;
    })) << app_->describe();
    ASSERT_TRUE(app_->clickInWindow(kRecordPillX, kRecordPillY));
    EXPECT_TRUE(app_->waitForState([](const nlohmann::json& s) {
        return s["cardRecording"] == false && simulator(s)["cardRecording"] == false &&
               s["notice"] == "Saved to the camera's microSD card";
    })) << app_->describe();
    const nlohmann::json done = simulator(app_->state());
    EXPECT_EQ(done["cardFrames"], 2);
    // Chosen once, sent once, though the recording came and went after it.
    EXPECT_EQ(std::count(done["settingsFrames"].begin(), done["settingsFrames"].end(), evUp), 1)
        << done["settingsFrames"].dump();
    EXPECT_TRUE(filesIn(desktop_.outputFolder()).empty()) << "the card's recording left files on the computer";
}

TEST_F(WirelessJourney, SilentCameraIsShownOffItsMoviePlaysAndItsReturnIsPickedUp) {
    // Settings > Record To > Mac, by the keyboard once the gear's menu is open.
    const std::optional<std::pair<int, int>> origin = app_->windowOrigin();
    ASSERT_TRUE(origin);
    ASSERT_TRUE(chooseFromMenu(desktop_, *app_, {origin->first + kGearX, origin->second + kGearY}, std::nullopt,
                               {"Down", "Down", "Right", "Down", "Return"}));
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["recordTarget"] == "computer"; }))
        << app_->describe();

    ASSERT_TRUE(app_->key("ctrl+r"));
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["recording"] == true; }, 60s))
        << app_->describe();
    // The movie's first fragment on disk (the file is written a fragment a
    // second after a small header): it holds pictures when the camera stops.
    const auto movieHasPictures = [&] {
        std::error_code error;
        for (const auto& file : filesIn(desktop_.outputFolder())) {
            if (std::filesystem::file_size(file, error) > kFirstFragmentBytes && !error) return true;
        }
        return false;
    };
    ASSERT_TRUE(waitFor(movieHasPictures, 60s)) << app_->describe();

    app_->signal(SIGUSR2);
    // The notice stays three seconds; every one shown on the way is kept.
    std::vector<std::string> notices;
    const auto told = [&notices] {
        return std::find_first_of(notices.begin(), notices.end(), std::begin(kCameraLostNotices),
                                  std::end(kCameraLostNotices)) != notices.end();
    };
    EXPECT_TRUE(app_->waitForState(
        [&](const nlohmann::json& s) {
            if (s["notice"].is_string()) notices.push_back(s["notice"]);
            return simulator(s)["silent"] == true && s["cameraOff"] == true && s["picture"] == false &&
                   s["recording"] == false && told();
        },
        60s))
        << app_->describe();

    // The camera-off overlay on the screen: the window darkened all over
    // but for its words in the middle.
    EXPECT_TRUE(waitFor([&] {
        return meanOf(brightnessIn(kPictureArea)) < 30 && shareAtLeast(brightnessIn(kOverlayWords), 200) > 0.005;
    })) << "no camera-off overlay on the screen";

    // The movie is complete and plays; nothing else was left half written.
    std::vector<std::filesystem::path> files;
    ASSERT_TRUE(waitFor([&] { return !(files = filesIn(desktop_.outputFolder())).empty(); }, 60s))
        << "no movie in " << desktop_.outputFolder() << "; " << app_->describe();
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        EXPECT_EQ(file.extension(), ".mov");
        std::string error;
        const std::optional<ProbedMovie> movie = probeMovie(file, &error);
        ASSERT_TRUE(movie.has_value()) << "ffprobe cannot read it: " << error;
        EXPECT_GT(movie->videoPackets, 0);
        EXPECT_GT(movie->durationSeconds, 0.0);
    }

    // The camera answers again: the application, trying all along, shows
    // its picture again by itself.
    app_->signal(SIGUSR2);
    EXPECT_TRUE(app_->waitForState(
        [](const nlohmann::json& s) {
            return simulator(s)["silent"] == false && s["picture"] == true && s["cameraOff"] == false;
        },
        90s))
        << app_->describe();
}

// The camera falls silent: its panel covers the picture under the window's
// chrome, and a click on the panel's "Use USB-C Instead" reaches it (with no
// camera on USB it opens the USB guide).
TEST_F(WirelessJourney, TheSilentCamerasPanelTakesAClickOnUseUSBInstead) {
    app_->signal(SIGUSR2);
    ASSERT_TRUE(app_->waitForState(
        [](const nlohmann::json& s) { return simulator(s)["silent"] == true && s["cameraOff"] == true; }, 60s))
        << app_->describe();
    ASSERT_EQ(app_->state()["usbGuide"], false);
    ASSERT_TRUE(app_->clickInWindow(kCameraOffUseUSBX, kCameraOffUseUSBY));
    EXPECT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["usbGuide"] == true; }))
        << "the click did not reach the panel's button; " << app_->describe();
    EXPECT_EQ(app_->state()["connection"], "wireless");
}

// The camera is on another Wi-Fi network and will not come back to its own,
// so its connection fails: the connecting panel shows the failure with
// "Use USB-C Instead" and "Reconnect" under the window's chrome, and stays
// so (nothing retries a failure by itself). A click on each reaches it: the
// USB guide opens, and, the camera turned off and on, Reconnect connects to
// it anew and the picture comes.
class FailedWirelessJourney : public WirelessJourney {
protected:
    void SetUp() override { startAndGreet(); }
};

TEST_F(FailedWirelessJourney, TheFailedConnectionsPanelTakesClicksOnUseUSBInsteadAndReconnect) {
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["status"] == kApprovePairingStatus; }, 60s))
        << app_->describe();
    app_->signal(SIGRTMIN);
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return simulator(s)["onAnotherNetwork"] == true; }))
        << app_->describe();
    app_->signal(SIGUSR1);
    ASSERT_TRUE(app_->waitForState(
        [](const nlohmann::json& s) { return s["failure"] == kStillOnAnotherNetwork && s["cameraOff"] == false; },
        60s))
        << app_->describe();
    const int connections = simulator(app_->state())["bluetoothConnections"].get<int>();

    ASSERT_EQ(app_->state()["usbGuide"], false);
    ASSERT_TRUE(app_->clickInWindow(kFailedUseUSBX, kFailedUseUSBY));
    EXPECT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["usbGuide"] == true; }))
        << "the click did not reach the panel's \"Use USB-C Instead\"; " << app_->describe();
    const nlohmann::json guided = app_->state();
    EXPECT_EQ(guided["connection"], "wireless");
    EXPECT_EQ(guided["failure"], kStillOnAnotherNetwork);
    ASSERT_TRUE(app_->key("Escape"));
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["usbGuide"] == false; }))
        << app_->describe();

    app_->signal(SIGRTMIN);
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return simulator(s)["onAnotherNetwork"] == false; }))
        << app_->describe();
    // Still failed, and the camera not asked again, before the click.
    const nlohmann::json before = app_->state();
    ASSERT_EQ(before["failure"], kStillOnAnotherNetwork) << app_->describe();
    ASSERT_EQ(simulator(before)["bluetoothConnections"], connections);
    ASSERT_TRUE(app_->clickInWindow(kFailedReconnectX, kFailedReconnectY));
    EXPECT_TRUE(app_->waitForState(
        [&](const nlohmann::json& s) {
            return simulator(s)["bluetoothConnections"].get<int>() > connections && s["failure"].is_null() &&
                   s["picture"] == true && simulator(s)["liveView"] == true;
        },
        60s))
        << "the click did not reach the panel's \"Reconnect\"; " << app_->describe();
}

// Started on a system bus where BlueZ is not (yet) running.
class NoBluetoothJourney : public WirelessJourney {
protected:
    void SetUp() override { startAndGreet({"LUMENHOLLOW_JOURNEY_BLUEZ_LATER=1"}); }
};

TEST_F(NoBluetoothJourney, TheMissingAdapterIsShownAndBluetoothStartingLaterIsTakenUp) {
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["failure"] == kNoAdapter; }, 60s))
        << app_->describe();
    // The failure's panel, not the camera-off one: its "Use USB-C Instead"
    // sits where the failed connection's does.
    ASSERT_TRUE(app_->clickInWindow(kFailedUseUSBX, kFailedUseUSBY));
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["usbGuide"] == true; }))
        << "the click did not reach the failure panel's \"Use USB-C Instead\"; " << app_->describe();
    const nlohmann::json guided = app_->state();
    EXPECT_EQ(guided["cameraOff"], false);
    EXPECT_EQ(guided["failure"], kNoAdapter);
    EXPECT_EQ(guided["connection"], "wireless");
    ASSERT_TRUE(app_->key("Escape"));
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["usbGuide"] == false; }))
        << app_->describe();

    app_->signal(SIGRTMIN + 1);
    std::string why;
    ASSERT_TRUE(pairAndGoLive(*app_, why)) << why;
    EXPECT_TRUE(app_->state()["failure"].is_null()) << app_->describe();
}

}  // namespace
}  // namespace lumenhollow::journey
