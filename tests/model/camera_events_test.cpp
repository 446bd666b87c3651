#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::CommandOutcome;

TEST(CameraEventsTest, EachEventChangesItsFieldsInOrder) {
    struct Case {
        const char* name;
        CameraEvent event;
        std::vector<Field> fields;
        std::function<void(const PublishedState&)> check;
    };
    const hollowkit::MicrophoneOption mic{"mic.1", "DJI Mic", "USB"};
    const hollowkit::VideoFormatOption format{1920, 1080, 30};
    const std::vector<Case> cases{
        {"status", CameraEvent::status("Pairing"), {Field::statusText, Field::failure},
         [](const PublishedState& s) {
             EXPECT_EQ(s.statusText, "Pairing");
             EXPECT_EQ(s.failure, std::nullopt);
         }},
        {"battery", CameraEvent::battery({57, true}), {Field::battery},
         [](const PublishedState& s) { EXPECT_EQ(s.battery, (hollowkit::BatteryStatus{57, true})); }},
        {"card storage", CameraEvent::cardStorage({1200, 64000}), {Field::cardStorage},
         [](const PublishedState& s) { EXPECT_EQ(s.cardStorage, (hollowkit::CardStorage{1200, 64000})); }},
        {"card recording", CameraEvent::cardRecording({true, false, 12}), {Field::cardRecording, Field::recordingStarted},
         [](const PublishedState& s) {
             EXPECT_EQ(s.cardRecording, (hollowkit::CardRecordingState{true, false, 12}));
             EXPECT_TRUE(s.recordingStarted.has_value());
         }},
        {"card idle", CameraEvent::cardRecording({false, false, std::nullopt}), {Field::cardRecording},
         [](const PublishedState& s) {
             EXPECT_EQ(s.cardRecording, (hollowkit::CardRecordingState{false, false, std::nullopt}));
         }},
        {"accepted", CameraEvent::commandResult("Zoom 2.0x", CommandOutcome::accepted()), {Field::notice},
         [](const PublishedState& s) { EXPECT_EQ(s.notice, "Zoom 2.0x \u2713"); }},
        {"rejected 10", CameraEvent::commandResult("ISO 800", CommandOutcome::rejected(10)), {Field::notice},
         [](const PublishedState& s) { EXPECT_EQ(s.notice, "Camera rejected: ISO 800 (code 0A)"); }},
        {"rejected 255", CameraEvent::commandResult("Flip", CommandOutcome::rejected(255)), {Field::notice},
         [](const PublishedState& s) { EXPECT_EQ(s.notice, "Camera rejected: Flip (code FF)"); }},
        {"no reply", CameraEvent::commandResult("Record", CommandOutcome::noReply()), {Field::notice},
         [](const PublishedState& s) { EXPECT_EQ(s.notice, "Camera did not answer: Record"); }},
        {"stopped", CameraEvent::stopped(), {Field::statusText},
         [](const PublishedState& s) {
             EXPECT_EQ(s.statusText, "Disconnected");
             EXPECT_EQ(s.failure, "Lost");  // kept
         }},
        {"devices changed", CameraEvent::devicesChanged(),
         {Field::microphones, Field::activeMicrophone, Field::formats, Field::activeFormat, Field::zoomRange},
         [&](const PublishedState& s) {
             EXPECT_EQ(s.microphones, std::vector{mic});
             EXPECT_EQ(s.activeMicrophone, mic);
             EXPECT_EQ(s.formats, std::vector{format});
             EXPECT_EQ(s.activeFormat, format);
             EXPECT_EQ(s.zoomRange, (hollowkit::ZoomRange{100, 400}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.createAndStart();
        h.camera()->setDevices({mic}, mic, {format}, format);
        h.camera()->setZoomRange(hollowkit::ZoomRange{100, 400});
        h.emit(CameraEvent::failed("Lost"));
        StateRecorder recorder(h.model);
        h.emit(c.event);
        EXPECT_EQ(recorder.fields(), c.fields);
        c.check(h.state());
    }
}

TEST(CameraEventsTest, StoppedLeavesTheCameraOffStateAsItWas) {
    for (bool off : {false, true}) {
        SCOPED_TRACE(off ? "camera off" : "camera on");
        ModelHarness h;
        h.createAndStart();
        if (off) h.emit(CameraEvent::cameraOff());  // reconnects; still off until a picture comes
        ASSERT_EQ(h.state().cameraOff, off);
        h.emit(CameraEvent::stopped());
        EXPECT_EQ(h.state().statusText, "Disconnected");
        EXPECT_EQ(h.state().cameraOff, off);
    }
}

TEST(CameraEventsTest, StatisticsSetLiveOrWaitingAndClearCameraOffOnlyWithAPicture) {
    ModelHarness h;
    h.createAndStart();
    h.emit(CameraEvent::failed("Lost"));
    h.emit(CameraEvent::cameraOff());  // reconnects; the flag stays
    h.main.runUntilIdle();
    ASSERT_TRUE(h.state().cameraOff);

    h.emit(CameraEvent::failed("Lost again"));
    h.emit(CameraEvent::stats(picture(1280, 720, false)));
    EXPECT_EQ(h.state().statusText, "Waiting for video");
    EXPECT_EQ(h.state().failure, std::nullopt);
    EXPECT_TRUE(h.state().cameraOff);

    h.emit(CameraEvent::stats(picture(1280, 720, true)));
    EXPECT_EQ(h.state().statusText, "Live");
    EXPECT_FALSE(h.state().cameraOff);
}

TEST(CameraEventsTest, AZoomRangeLearntLaterIsPublishedWithTheNextStatisticsOnce) {
    ModelHarness h;
    h.createAndStart();
    StateRecorder recorder(h.model);
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.camera()->setZoomRange(hollowkit::ZoomRange{100, 300});
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    EXPECT_EQ(recorder.values<Field::zoomRange>(),
              (std::vector<std::optional<hollowkit::ZoomRange>>{hollowkit::ZoomRange{100, 300}}));
}

TEST(CameraEventsTest, ANewOrientationSettlesAfterThreeSecondsIfTheCameraStillReportsIt) {
    struct Stats {
        int width;
        int height;
    };
    struct Advance {
        double seconds;
    };
    using Step = std::variant<Stats, Advance>;
    struct Case {
        const char* name;
        std::vector<std::pair<Step, std::optional<PictureSize>>> steps;  // step, settled after it
    };
    const PictureSize landscape{1920, 1080};
    const PictureSize portrait{1080, 1920};
    const std::vector<Case> cases{
        {"turned to portrait and held",
         {{Stats{1920, 1080}, landscape},
          {Stats{1080, 1920}, landscape},
          {Advance{2.9}, landscape},
          {Stats{1080, 1920}, landscape},
          {Advance{0.2}, portrait}}},
        {"turned back within the delay",
         {{Stats{1920, 1080}, landscape},
          {Stats{1080, 1920}, landscape},
          {Advance{1.0}, landscape},
          {Stats{1920, 1080}, landscape},
          {Advance{5.0}, landscape}}},
        {"turned again and held: the first turn's timer still decides",
         {{Stats{1920, 1080}, landscape},
          {Stats{1080, 1920}, landscape},
          {Advance{1.0}, landscape},
          {Stats{720, 1280}, landscape},
          {Advance{2.0}, landscape},  // the pending size was 1080x1920, the camera now says 720x1280
          {Stats{720, 1280}, landscape},
          {Advance{3.0}, PictureSize{720, 1280}}}},
        {"same orientation, new size: at once",
         {{Stats{1920, 1080}, landscape}, {Stats{3840, 2160}, PictureSize{3840, 2160}}}},
        {"square counts as portrait",
         {{Stats{1080, 1920}, portrait}, {Stats{1080, 1080}, PictureSize{1080, 1080}}}},
        {"absent or empty sizes are ignored",
         {{Stats{0, 1080}, std::nullopt}, {Stats{1920, 0}, std::nullopt}, {Stats{1920, 1080}, landscape}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.createAndStart();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const auto& [step, settled] = c.steps[i];
            if (const Stats* stats = std::get_if<Stats>(&step)) {
                h.emit(CameraEvent::stats(picture(stats->width, stats->height)));
            } else {
                h.main.advanceSeconds(std::get<Advance>(step).seconds);
            }
            EXPECT_EQ(h.state().settledResolution, settled);
        }
    }
}

// The current camera runs `lived` virtual seconds, with a picture or not, then
// fails and goes off; the virtual seconds until the model built the next one
// (-1: not within a minute).
double secondsUntilRebuilt(ModelHarness& h, double lived, bool showsPicture) {
    const size_t builds = h.cameras.builds().size();
    if (showsPicture) h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.main.advanceSeconds(lived);
    h.emit(CameraEvent::failed("Bluetooth is turned off"));
    h.emit(CameraEvent::cameraOff());
    for (double waited = 0; waited <= 60; waited += 0.5) {
        if (h.cameras.builds().size() > builds) return waited;
        h.main.advanceSeconds(0.5);
    }
    return -1;
}

TEST(CameraEventsTest, CamerasThatGoOffAtOnceAreRebuiltAfterAWaitGrowingToThirtySeconds) {
    struct Run {
        double lived;
        bool picture;
        double wait;  // until the next camera is built
    };
    constexpr double kAtOnce = 0.1;  // Bluetooth turned off: the camera is off within moments
    struct Case {
        const char* name;
        bool usb;
        std::vector<Run> runs;
    };
    const std::vector<Case> cases{
        {"the first at once, then 3 s doubling to 30 s",
         false,
         {{kAtOnce, false, 0}, {kAtOnce, false, 3}, {kAtOnce, false, 6}, {kAtOnce, false, 12},
          {kAtOnce, false, 24}, {kAtOnce, false, 30}, {kAtOnce, false, 30}, {kAtOnce, false, 30}}},
        {"a running camera that turns off is rebuilt at once and starts the count again",
         false,
         {{kAtOnce, false, 0}, {kAtOnce, false, 3}, {kAtOnce, false, 6}, {1, true, 0}, {kAtOnce, false, 0},
          {kAtOnce, false, 3}}},
        {"a camera that lasted ten seconds ran, with no picture (a scan that found nothing)",
         false,
         {{kAtOnce, false, 0}, {kAtOnce, false, 3}, {10, false, 0}, {10, false, 0}, {kAtOnce, false, 0},
          {kAtOnce, false, 3}}},
        {"shorter than that without a picture, it failed at once", false,
         {{kAtOnce, false, 0}, {kAtOnce, false, 3}, {9.5, false, 6}}},
        {"the same on USB", true, {{kAtOnce, false, 0}, {kAtOnce, false, 3}, {kAtOnce, false, 6}, {1, true, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.cameras.setPocketConnected(c.usb);
        h.createAndStart();
        for (size_t i = 0; i < c.runs.size(); ++i) {
            SCOPED_TRACE(i);
            const Run& run = c.runs[i];
            EXPECT_EQ(secondsUntilRebuilt(h, run.lived, run.picture), run.wait);
            EXPECT_EQ(h.cameras.builds().back().mode, c.usb ? ConnectionMode::usb : ConnectionMode::wireless);
        }
    }
}

TEST(CameraEventsTest, AWaitingReconnectGivesWayToTheUsersReconnectAndToTheQuit) {
    for (const bool quit : {false, true}) {
        SCOPED_TRACE(quit ? "quit" : "Reconnect");
        ModelHarness h;
        h.createAndStart();
        ASSERT_EQ(secondsUntilRebuilt(h, 0.1, false), 0);
        ASSERT_EQ(secondsUntilRebuilt(h, 0.1, false), 3);
        h.emit(CameraEvent::failed("Bluetooth is turned off"));
        h.emit(CameraEvent::cameraOff());  // the next is due in 6 s
        const size_t builds = h.cameras.builds().size();
        h.main.advanceSeconds(1);
        if (quit) {
            h.model->handleTerminationRequest();
        } else {
            h.model->reconnect();
        }
        h.main.runUntilIdle();
        EXPECT_EQ(h.cameras.builds().size(), builds + (quit ? 0 : 1));
        h.main.advanceSeconds(60);
        EXPECT_EQ(h.cameras.builds().size(), builds + (quit ? 0 : 1)) << "the wait left nothing behind";
    }
}

TEST(CameraEventsTest, AWirelessCameraThatIsOffIsRetriedOnceThreeSecondsAfterTheLastFailure) {
    struct Case {
        const char* name;
        bool usb;
        bool markedOff;
        int failures;
        bool pictureBeforeRetry;
        size_t buildsAfter;  // the first camera, the reconnect on cameraOff, then the retry
    };
    const std::vector<Case> cases{
        {"wireless, off, one failure", false, true, 1, false, 3},
        {"wireless, off, three failures: one retry", false, true, 3, false, 3},
        {"wireless, not marked off", false, false, 2, false, 1},
        {"usb is never retried this way", true, true, 2, false, 2},
        {"a picture in the meantime cancels it", false, true, 1, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.cameras.setPocketConnected(c.usb);
        h.createAndStart();
        if (c.markedOff) h.emit(CameraEvent::cameraOff());
        for (int i = 0; i < c.failures; ++i) {
            h.emit(CameraEvent::failed("No camera found"));
            h.main.advanceSeconds(1.0);
        }
        if (c.pictureBeforeRetry) h.emit(CameraEvent::stats(picture(1920, 1080)));
        // The retry is due 3 s after the last failure, 1 s of which has passed.
        h.main.advanceSeconds(1.9);
        EXPECT_EQ(h.cameras.builds().size(), std::min<size_t>(c.buildsAfter, c.markedOff ? 2 : 1));
        h.main.advanceSeconds(0.2);
        EXPECT_EQ(h.cameras.builds().size(), c.buildsAfter);
        h.main.advanceSeconds(30);
        EXPECT_EQ(h.cameras.builds().size(), c.buildsAfter) << "a later retry";
    }
}

// A failure of this computer (no Bluetooth adapter, a tool that cannot run)
// says nothing of the camera: it is shown instead of "The camera is off" of
// a camera before, and the camera, which tries again by itself, is not
// rebuilt by any wait of the model. When it gets going, the failure goes.
TEST(CameraEventsTest, AFailureOfTheComputerIsShownAndLeavesTheRetriesToTheCamera) {
    struct Case {
        const char* name;
        bool usb;
        bool offBefore;       // a camera before went off (rebuilt at once)
        bool failureBefore;  // a failure of the camera's road came before it
        size_t builds;        // cameras built, to the end
    };
    const std::vector<Case> cases{
        {"the first camera", false, false, false, 1},
        {"after a camera that went off", false, true, false, 2},
        {"after a camera that went off and failed", false, true, true, 2},
        {"on USB", true, true, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.cameras.setPocketConnected(c.usb);
        h.createAndStart();
        if (c.offBefore) h.emit(CameraEvent::cameraOff());
        if (c.failureBefore) h.emit(CameraEvent::failed("No DJI Pocket found nearby. Is it turned on?"));
        h.main.advanceSeconds(1);

        h.emit(CameraEvent::computerFailed("No Bluetooth adapter found"));
        EXPECT_FALSE(h.state().cameraOff);
        EXPECT_EQ(h.state().failure, std::optional<std::string>("No Bluetooth adapter found"));
        EXPECT_EQ(h.state().statusText, "No Bluetooth adapter found");
        h.main.advanceSeconds(120);
        EXPECT_EQ(h.cameras.builds().size(), c.builds);
        EXPECT_FALSE(h.state().cameraOff);

        h.emit(CameraEvent::status("Looking for the camera over Bluetooth"));
        EXPECT_EQ(h.state().failure, std::nullopt);
        EXPECT_EQ(h.state().statusText, "Looking for the camera over Bluetooth");
    }
}

}  // namespace
}  // namespace lumenhollow::test
