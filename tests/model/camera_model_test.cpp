#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "hollowkit/imaging/lut_library.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

TEST(CameraModelTest, TheRouteFollowsWhatIsOnUsbAtConstruction) {
    for (bool onUsb : {true, false}) {
        SCOPED_TRACE(onUsb);
        ModelHarness h;
        h.cameras.setPocketConnected(onUsb);
        h.create();
        const ConnectionMode expected = onUsb ? ConnectionMode::usb : ConnectionMode::wireless;
        EXPECT_EQ(h.state().connection, expected);
        ASSERT_EQ(h.cameras.builds().size(), 1u);
        EXPECT_EQ(h.cameras.builds()[0].mode, expected);
        EXPECT_EQ(h.model->camera().supportsPositioning(), onUsb);
    }
}

TEST(CameraModelTest, AFreshInstallationStartsWithDefaultsAndStartsNothing) {
    ModelHarness h;
    h.create();
    const PublishedState& s = h.state();
    EXPECT_EQ(s.statusText, "Starting");
    EXPECT_TRUE(s.showWelcome);
    EXPECT_EQ(s.homeNetwork, std::nullopt);
    EXPECT_TRUE(s.scenes.empty());
    EXPECT_TRUE(s.customLUTs.empty());
    EXPECT_EQ(s.selectedLUT, std::nullopt);
    EXPECT_EQ(s.codec, hollowkit::VideoCodec::hevc);
    EXPECT_EQ(s.countdownSeconds, 0);
    EXPECT_FALSE(s.recordScreen);
    EXPECT_EQ(s.bubbleStyle, hollowkit::BubbleStyle(hollowkit::BubbleCorner::bottomTrailing, hollowkit::BubbleSize::medium,
                                                    hollowkit::BubbleShape::circle, hollowkit::BubbleBackground::keep));
    EXPECT_TRUE(s.autoZoom);
    EXPECT_TRUE(s.showInNotch);
    EXPECT_EQ(s.notchContent, NotchContent::preview);
    EXPECT_EQ(s.closeBehavior, CloseBehavior::keepInNotch);
    EXPECT_TRUE(s.guides.empty());
    EXPECT_EQ(s.wirelessMicID, "");
    EXPECT_FALSE(s.includeMacSound);
    EXPECT_EQ(s.notchTrigger, NotchTrigger::hover);
    EXPECT_TRUE(s.automaticMicrophone);
    EXPECT_EQ(s.recordTarget, RecordTarget::camera);
    EXPECT_EQ(h.model->processor().lut(), std::nullopt);
    EXPECT_FALSE(h.model->backgroundPreview().isActive());

    // Construction starts neither the camera nor the timers.
    h.main.advanceSeconds(60);
    EXPECT_TRUE(h.camera()->commands().empty());
    EXPECT_TRUE(h.disk.queries().empty());
    EXPECT_TRUE(h.secrets.lookups().empty()) << "no network name, so the keyring is not asked";
}

TEST(CameraModelTest, StoredSettingsAreReadExactlyAndFallBackSilently) {
    struct Case {
        const char* name;
        std::map<std::string, SettingsValue, std::less<>> stored;
        std::function<void(const PublishedState&)> check;
    };
    const std::vector<Case> cases{
        {"codec in other letters is HEVC", {{"videoCodec", std::string("h.264")}},
         [](const PublishedState& s) { EXPECT_EQ(s.codec, hollowkit::VideoCodec::hevc); }},
        {"codec H.264", {{"videoCodec", std::string("H.264")}},
         [](const PublishedState& s) { EXPECT_EQ(s.codec, hollowkit::VideoCodec::h264); }},
        {"countdown as text is 0", {{"recordCountdown", std::string("5")}},
         [](const PublishedState& s) { EXPECT_EQ(s.countdownSeconds, 0); }},
        {"countdown 10", {{"recordCountdown", int64_t{10}}},
         [](const PublishedState& s) { EXPECT_EQ(s.countdownSeconds, 10); }},
        {"autoZoom false", {{"autoZoom", false}}, [](const PublishedState& s) { EXPECT_FALSE(s.autoZoom); }},
        {"autoZoom as text keeps the default", {{"autoZoom", std::string("NO")}},
         [](const PublishedState& s) { EXPECT_TRUE(s.autoZoom); }},
        {"guides skip unknown names and repeat once",
         {{"guides", StringArray{"Grid", "grid", "Diagonal", "Grid", "9:16 Frame"}}},
         [](const PublishedState& s) { EXPECT_EQ(s.guides, (std::set{GuideKind::grid, GuideKind::vertical})); }},
        {"bubble fields each by exact name",
         {{"bubbleCorner", std::string("Top Left")}, {"bubbleSize", std::string("large")},
          {"bubbleShape", std::string("Cutout")}, {"bubbleBackground", std::string("Blur")}},
         [](const PublishedState& s) {
             EXPECT_EQ(s.bubbleStyle,
                       hollowkit::BubbleStyle(hollowkit::BubbleCorner::topLeading, hollowkit::BubbleSize::medium,
                                              hollowkit::BubbleShape::cutout, hollowkit::BubbleBackground::blur));
         }},
        {"notch and close choices",
         {{"notchContent", std::string("Controls Only")}, {"notchTrigger", std::string("When Clicked")},
          {"closeBehavior", std::string("quit lumenhollow")}, {"showInNotch", false}},
         [](const PublishedState& s) {
             EXPECT_EQ(s.notchContent, NotchContent::controls);
             EXPECT_EQ(s.notchTrigger, NotchTrigger::click);
             EXPECT_EQ(s.closeBehavior, CloseBehavior::keepInNotch);
             EXPECT_FALSE(s.showInNotch);
         }},
        {"welcomed, last take and wireless microphone",
         {{"welcomed", true}, {"lastScreenTake", Url::fromPath("/home/ann/Videos/Take 1")},
          {"wirelessMicrophone", std::string("alsa.usb-mic")}},
         [](const PublishedState& s) {
             EXPECT_FALSE(s.showWelcome);
             EXPECT_EQ(s.lastScreenTake, std::filesystem::path("/home/ann/Videos/Take 1"));
             EXPECT_EQ(s.wirelessMicID, "alsa.usb-mic");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        for (const auto& [key, value] : c.stored) h.settings.set(key, value);
        h.settings.set("pairingIdentifier", std::string(32, 'a'));
        h.settings.clearWrites();
        h.create();
        c.check(h.state());
        EXPECT_TRUE(h.settings.writes().empty()) << "reading never writes";
    }
}

TEST(CameraModelTest, TheStoredLookIsRestoredWhenItExistsAndKeptWhenItDoesNot) {
    const std::string builtIn = hollowkit::LUTLibrary::builtIn().front().id;
    for (const std::string& id : {builtIn, std::string("/media/usb/Looks/Gone.cube")}) {
        SCOPED_TRACE(id);
        ModelHarness h;
        h.settings.set("selectedLUT", id);
        h.settings.clearWrites();
        h.create();
        const bool found = id == builtIn;
        EXPECT_EQ(h.state().selectedLUT.has_value(), found);
        EXPECT_EQ(h.model->processor().lut().has_value(), found);
        EXPECT_EQ(h.settings.get<std::string>("selectedLUT"), id) << "a missing look may come back";
    }
}

TEST(CameraModelTest, TheKeyringIsReadTwiceAtConstructionForTheStateAndTheCamera) {
    struct Case {
        const char* name;
        bool storePassword;
        std::optional<hollowkit::HomeNetwork> expected;
    };
    const std::vector<Case> cases{
        {"password in the keyring", true, hollowkit::HomeNetwork{"Home", "pass word"}},
        {"no keyring item", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.settings.set("homeNetworkSSID", std::string("Home"));
        if (c.storePassword) h.secrets.store("com.tarvenc.lumenhollow.home-wifi", "Home", "pass word");
        h.create();
        EXPECT_EQ(h.secrets.lookups().size(), 2u);
        EXPECT_EQ(h.state().homeNetwork, c.expected);
        EXPECT_EQ(h.cameras.builds()[0].homeNetwork, c.expected);
    }
}

TEST(CameraModelTest, EveryAssignmentIsOneNotificationEvenWithoutAChange) {
    ModelHarness h;
    h.createAndStart();
    StateRecorder recorder(h.model);
    h.emit(CameraEvent::battery({50, false}));
    h.emit(CameraEvent::battery({50, false}));
    h.emit(CameraEvent::status("Joining"));
    EXPECT_EQ(recorder.fields(),
              (std::vector<Field>{Field::battery, Field::battery, Field::statusText, Field::failure}));
    EXPECT_EQ(recorder.values<Field::statusText>(), std::vector<std::string>{"Joining"});
}

TEST(CameraModelTest, PreviewAspectAndZoomLabelFollowWhatIsKnown) {
    struct Case {
        const char* name;
        std::optional<hollowkit::VideoDimensions> picture;
        std::optional<hollowkit::VideoFormatOption> format;
        std::optional<hollowkit::ZoomRange> range;
        double aspect;
        const char* zoomLabel;
        int zoomSteps = 0;
    };
    const std::vector<Case> cases{
        {"nothing known", std::nullopt, std::nullopt, std::nullopt, 16.0 / 9.0, "-"},
        {"portrait picture", hollowkit::VideoDimensions{1080, 1920}, hollowkit::VideoFormatOption{1920, 1080, 30},
         hollowkit::ZoomRange{100, 400}, 0.5625, "1.0x"},
        {"format only", std::nullopt, hollowkit::VideoFormatOption{640, 480, 30}, std::nullopt, 4.0 / 3.0, "-"},
        {"zoom 250", std::nullopt, std::nullopt, hollowkit::ZoomRange{100, 400}, 16.0 / 9.0, "2.5x", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.createAndStart();
        h.camera()->setDevices({}, std::nullopt, {}, c.format);
        h.camera()->setZoomRange(c.range);
        h.emit(CameraEvent::devicesChanged());
        if (c.picture) h.emit(CameraEvent::stats(picture(c.picture->width, c.picture->height)));
        if (c.zoomSteps != 0) h.model->zoomStep(c.zoomSteps);
        EXPECT_DOUBLE_EQ(h.model->previewAspect(), c.aspect);
        EXPECT_EQ(h.model->zoomLabel(), c.zoomLabel);
    }
}

TEST(CameraModelTest, TheWirelessAudioNoteShowsOnlyOnTheWirelessRoute) {
    ModelHarness h;
    h.createAndStart();
    EXPECT_EQ(h.model->wirelessAudioNote(),
              "The camera's Wi-Fi preview has no audio. Recordings to the microSD card still include the camera's "
              "and your DJI Mic's sound.");
    h.model->selectConnection(ConnectionMode::usb);
    EXPECT_EQ(h.model->wirelessAudioNote(), std::nullopt);
}

TEST(CameraModelTest, ShowMainWindowRaisesAVisibleWindowOrAsksTheViewToOpenOne) {
    struct Case {
        const char* name;
        bool visible;
        bool openerSet;
        int opened;
    };
    const std::vector<Case> cases{
        {"visible", true, true, 0},
        {"closed", false, true, 1},
        {"closed, no view yet", false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.create();
        h.shell.setMainWindowVisible(c.visible);
        int opened = 0;
        if (c.openerSet) h.model->setOpenMainWindow([&opened] { ++opened; });
        h.model->showMainWindow();
        EXPECT_EQ(h.shell.calls(), (std::vector<std::string>{"activate", "bringForward"}));
        EXPECT_EQ(opened, c.opened);
    }
}

TEST(CameraModelTest, TimersSampleTheAudioLevelOnChangeAndTheFreeSpaceOfTheFolderOrItsParent) {
    hollowkit::testsupport::TempDir existing;
    struct Case {
        const char* name;
        std::filesystem::path folder;
        std::filesystem::path asked;
    };
    const std::vector<Case> cases{
        {"folder not made yet", existing.path() / "absent" / "Lumenhollow", existing.path() / "absent"},
        {"folder exists", existing.path(), existing.path()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.outputFolder = c.folder;
        h.disk.setAvailableBytes(uint64_t{5'000'000'000});
        h.createAndStart();
        StateRecorder recorder(h.model);
        h.model->startTimers();
        EXPECT_EQ(h.disk.queries(), std::vector<std::filesystem::path>{c.asked});
        EXPECT_EQ(h.state().macFreeBytes, int64_t{5'000'000'000});

        h.camera()->setAudioLevel(-20.0f);
        h.main.advanceSeconds(1.0);
        h.disk.setAvailableBytes(std::nullopt);
        h.main.advanceSeconds(9.1);
        EXPECT_EQ(recorder.values<Field::audioLevel>(), (std::vector<std::optional<float>>{-20.0f}));
        EXPECT_EQ(recorder.values<Field::macFreeBytes>(),
                  (std::vector<std::optional<int64_t>>{int64_t{5'000'000'000}, std::nullopt}));

        h.model->stopTimers();
        h.main.advanceSeconds(60);
        EXPECT_EQ(h.disk.queries().size(), 2u);
    }
}

}  // namespace
}  // namespace lumenhollow::test
