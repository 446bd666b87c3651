#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

std::vector<std::string> linesFrom(const std::vector<std::string>& lines, size_t first) {
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, lines.size())), lines.end()};
}

TEST(CameraConnectionTest, ChoosingTheActiveRouteDoesNothingAndConnectRestartsIt) {
    ModelHarness h;
    h.createAndStart();
    StateRecorder recorder(h.model);
    h.model->selectConnection(ConnectionMode::wireless);
    h.main.runUntilIdle();
    EXPECT_TRUE(recorder.entries().empty());
    EXPECT_EQ(h.camera()->commands(), std::vector<std::string>{"start"});

    h.model->connect(ConnectionMode::wireless);
    h.main.runUntilIdle();
    EXPECT_EQ(h.cameras.builds().size(), 2u);
    EXPECT_EQ(h.camera()->commands(), std::vector<std::string>{"start"});
    EXPECT_FALSE(h.model->isSwitching());
}

TEST(CameraConnectionTest, ASwitchClearsTheOldCameraStateStopsItThenBuildsAndStartsTheNewOne) {
    ModelHarness h;
    FakeCamera::Options usb;
    usb.zoomRange = hollowkit::ZoomRange{100, 400};
    h.cameras.setOptions(ConnectionMode::usb, usb);
    h.createAndStart();
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.emit(CameraEvent::battery({80, false}));
    h.emit(CameraEvent::failed("Lost"));
    h.emit(CameraEvent::cameraOff());
    h.main.runUntilIdle();
    h.emit(CameraEvent::stats(picture(1920, 1080, false)));
    ASSERT_TRUE(h.state().cameraOff);
    const size_t journalStart = h.cameras.journal()->lines().size();

    StateRecorder recorder(h.model);
    h.model->selectConnection(ConnectionMode::usb);
    EXPECT_TRUE(h.model->isSwitching());
    EXPECT_EQ(recorder.fields(),
              (std::vector<Field>{Field::cameraOff, Field::connection, Field::stats, Field::settledResolution,
                                  Field::cardRecording, Field::battery, Field::cardStorage, Field::zoom,
                                  Field::zoomRange, Field::microphones, Field::activeMicrophone,
                                  Field::audioLevel, Field::formats, Field::activeFormat, Field::failure,
                                  Field::statusText}));
    EXPECT_FALSE(h.state().cameraOff);
    EXPECT_EQ(h.state().stats, std::nullopt);
    EXPECT_EQ(h.state().battery, std::nullopt);
    EXPECT_EQ(h.state().settledResolution, std::nullopt);
    EXPECT_EQ(h.state().statusText, "Connecting");

    h.main.runUntilIdle();
    // The old camera's own "stopped" still reaches the status line before it is replaced.
    EXPECT_EQ(recorder.values<Field::statusText>(), (std::vector<std::string>{"Connecting", "Disconnected"}));
    EXPECT_EQ(linesFrom(h.cameras.journal()->lines(), journalStart),
              (std::vector<std::string>{"wireless#2 stop", "usb#3 built", "wireless#2 destroyed", "usb#3 start"}));
    EXPECT_EQ(h.state().connection, ConnectionMode::usb);
    EXPECT_FALSE(h.model->isSwitching());
    EXPECT_EQ(h.displayLayer->removals(), 2);  // one per switch so far
    EXPECT_EQ(h.notchLayer->removals(), 2);
    EXPECT_EQ(h.state().zoomRange, std::nullopt) << "known only once the new camera reports";
}

TEST(CameraConnectionTest, TheOldCameraReachesNothingOnceReplaced) {
    ModelHarness h;
    h.createAndStart();
    auto old = h.camera();
    old->setOnDestroy([](FakeCamera& dying) {
        dying.emitNow(CameraEvent::status("from the old camera"));
        dying.deliverFrame(FakeCamera::makeFrame(64, 36));
    });
    old.reset();
    h.model->connect(ConnectionMode::usb);
    h.main.runUntilIdle();
    EXPECT_EQ(h.state().statusText, "Disconnected");
    EXPECT_TRUE(h.displayLayer->frames().empty());
    EXPECT_EQ(h.displayLayer->enqueued(), 0);
}

// A frame of the old camera still on its way when the switch clears both
// previews never shows after the clear; the new camera's frames do.
TEST(CameraConnectionTest, NoFrameOfTheOldCameraShowsAfterTheSwitchClearsThePreviews) {
    struct Case {
        const char* name;
        bool roomTreated;
        // Puts an old frame on its way once the switch has begun.
        std::function<void(FakeCamera& old)> whileStopping;
    };
    const std::vector<Case> cases{
        // Posted after the stop's completion, so it runs after the clear.
        {"waiting for the main executor", false,
         [](FakeCamera& old) { old.deliverFrame(FakeCamera::makeFrame(64, 36)); }},
        // Handed to the background preview before the switch; its treated
        // frame is posted while the completion waits.
        {"in the background preview", true, [](FakeCamera&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        if (c.roomTreated) {
            h.settings.set("recordScreen", true);
            h.settings.set("bubbleBackground", std::string("Blur"));
        }
        h.createAndStart();
        ASSERT_EQ(h.model->backgroundPreview().isActive(), c.roomTreated);
        h.model->notchPreviewActive().set(true);
        const std::shared_ptr<FakeCamera> old = h.camera();
        if (c.roomTreated) old->deliverFrame(FakeCamera::makeFrame(64, 36));

        h.model->connect(ConnectionMode::usb);
        c.whileStopping(*old);
        h.main.runUntilIdle();
        ASSERT_NE(h.camera(), old);
        ASSERT_EQ(h.displayLayer->removals(), 1);
        EXPECT_TRUE(h.displayLayer->frames().empty());
        EXPECT_TRUE(h.notchLayer->frames().empty());

        h.camera()->deliverFrame(FakeCamera::makeFrame(64, 36));
        h.main.runUntilIdle();
        EXPECT_EQ(h.displayLayer->frames().size(), 1u);
        EXPECT_EQ(h.notchLayer->frames().size(), 1u);
    }
}

TEST(CameraConnectionTest, AFrameMidDeliveryWhileTheHandlersAreClearedIsNotShown) {
    ModelHarness h;
    h.createAndStart();
    h.model->notchPreviewActive().set(true);
    const std::shared_ptr<FakeCamera> old = h.camera();
    // A frame request runs inside the delivery, before the display step:
    // the camera's thread waits there until the switch is done.
    std::promise<void> entered;
    std::promise<void> resume;
    std::shared_future<void> resumed = resume.get_future().share();
    h.model->tap().addFrameRequest([&entered, resumed](const hollowkit::VideoFrame&) {
        entered.set_value();
        resumed.wait_for(std::chrono::seconds(10));
    });
    std::jthread delivery([old] { old->deliverFrame(FakeCamera::makeFrame(64, 36)); });
    const bool inside = entered.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;

    h.model->connect(ConnectionMode::usb);
    h.main.runUntilIdle();
    resume.set_value();
    delivery.join();
    h.main.runUntilIdle();
    ASSERT_TRUE(inside);
    EXPECT_EQ(h.displayLayer->removals(), 1);
    EXPECT_TRUE(h.displayLayer->frames().empty());
    EXPECT_TRUE(h.notchLayer->frames().empty());
}

TEST(CameraConnectionTest, ARequestDuringASwitchIsIgnored) {
    struct Case {
        const char* name;
        std::function<void(ModelHarness&)> secondRequest;
    };
    const std::vector<Case> cases{
        {"connect", [](ModelHarness& h) { h.model->connect(ConnectionMode::wireless); }},
        {"select", [](ModelHarness& h) { h.model->selectConnection(ConnectionMode::wireless); }},
        {"camera off", [](ModelHarness& h) { h.emit(CameraEvent::cameraOff()); }},
        // The second would otherwise be a camera gone off at once, rebuilt later.
        {"camera off twice",
         [](ModelHarness& h) {
             h.emit(CameraEvent::cameraOff());
             h.emit(CameraEvent::cameraOff());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        FakeCamera::Options slow;
        slow.stopMode = FakeCamera::StopMode::delayed;
        slow.stopDelay = std::chrono::seconds(1);
        h.cameras.setOptions(ConnectionMode::wireless, slow);
        h.createAndStart();
        h.model->connect(ConnectionMode::usb);
        h.main.advanceSeconds(0.5);
        c.secondRequest(h);
        h.main.advanceSeconds(10);
        ASSERT_EQ(h.cameras.builds().size(), 2u);
        EXPECT_EQ(h.cameras.builds()[1].mode, ConnectionMode::usb);
        EXPECT_EQ(h.state().connection, ConnectionMode::usb);
        EXPECT_EQ(h.camera()->commands(), std::vector<std::string>{"start"});
    }
}

TEST(CameraConnectionTest, ACameraThatNeverFinishesStoppingIsReplacedAfterTheWatchdog) {
    ModelHarness h;
    FakeCamera::Options stuck;
    stuck.stopMode = FakeCamera::StopMode::never;
    h.cameras.setOptions(ConnectionMode::wireless, stuck);
    h.createAndStart();
    h.model->connect(ConnectionMode::usb);
    h.main.advanceSeconds(4.9);
    EXPECT_TRUE(h.model->isSwitching());
    EXPECT_EQ(h.cameras.builds().size(), 1u);

    h.main.advanceSeconds(0.2);
    EXPECT_FALSE(h.model->isSwitching());
    ASSERT_EQ(h.cameras.builds().size(), 2u);
    EXPECT_EQ(h.camera()->commands(), std::vector<std::string>{"start"});
    EXPECT_EQ(h.cameras.camera(0), nullptr) << "the stuck camera was let go";

    // Its late completion (posted as it was destroyed) changes nothing, and
    // reconnecting works again.
    h.main.advanceSeconds(10);
    EXPECT_EQ(h.cameras.builds().size(), 2u);
    h.model->connect(ConnectionMode::wireless);
    h.main.runUntilIdle();
    EXPECT_EQ(h.cameras.builds().size(), 3u);
}

// The views read what the camera can do when its connection is announced.
// The last announcement of a switch comes once the new camera is built, so
// they follow it before it has said anything, however the old one stopped.
TEST(CameraConnectionTest, TheNewCamerasKindIsAnnouncedOnceItIsBuilt) {
    struct Kind {
        ConnectionMode connection = ConnectionMode::wireless;
        bool positioning = false;
        bool cardRecording = false;
        bool operator==(const Kind&) const = default;
    };
    const struct {
        const char* name;
        ConnectionMode from;
        ConnectionMode to;
        FakeCamera::StopMode oldStop;
        double seconds;  // virtual time for the switch to end
    } cases[] = {
        {"wireless to USB", ConnectionMode::wireless, ConnectionMode::usb, FakeCamera::StopMode::immediate, 0},
        {"USB to wireless", ConnectionMode::usb, ConnectionMode::wireless, FakeCamera::StopMode::delayed, 1},
        {"a stop that never ends", ConnectionMode::wireless, ConnectionMode::usb, FakeCamera::StopMode::never, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        FakeCamera::Options old;
        old.stopMode = c.oldStop;
        h.cameras.setOptions(c.from, old);
        h.cameras.setPocketConnected(c.from == ConnectionMode::usb);
        h.createAndStart();
        h.emit(CameraEvent::stats(picture(1920, 1080)));
        ASSERT_EQ(h.state().connection, c.from);

        std::vector<Kind> announced;
        h.model->addObserver([&h, &announced](Field field) {
            if (field != Field::connection) return;
            const hollowkit::PocketCamera& camera = h.model->camera();
            announced.push_back({h.state().connection, camera.supportsPositioning(), camera.supportsCardRecording()});
        });
        h.model->connect(c.to);
        h.main.advanceSeconds(c.seconds);
        ASSERT_FALSE(h.model->isSwitching());
        ASSERT_EQ(h.cameras.builds().size(), 2u);
        // Nothing from the new camera yet: no statistics, no status.
        EXPECT_EQ(h.state().stats, std::nullopt);
        const bool usb = c.to == ConnectionMode::usb;
        ASSERT_FALSE(announced.empty());
        EXPECT_EQ(announced.back(), (Kind{c.to, usb, !usb}));
    }
}

TEST(CameraConnectionTest, EveryCameraIsBuiltWithThePairingIdentifierAndTheCurrentHomeNetwork) {
    ModelHarness h;
    h.settings.set("homeNetworkSSID", std::string("Home"));
    h.secrets.store("com.tarvenc.lumenhollow.home-wifi", "Home", "secret");
    h.createAndStart();
    h.model->connect(ConnectionMode::usb);
    h.main.runUntilIdle();
    ASSERT_EQ(h.cameras.builds().size(), 2u);
    const auto& builds = h.cameras.builds();
    EXPECT_EQ(builds[0].pairingIdentifier.size(), 32u);
    EXPECT_EQ(builds[1].pairingIdentifier, builds[0].pairingIdentifier);
    EXPECT_EQ(builds[0].homeNetwork, (hollowkit::HomeNetwork{"Home", "secret"}));
    EXPECT_EQ(builds[1].homeNetwork, (hollowkit::HomeNetwork{"Home", "secret"}));
    EXPECT_EQ(h.secrets.lookups().size(), 2u) << "a switch uses the published home network";
}

TEST(CameraConnectionTest, AGoneModelLeavesPendingWorkHarmless) {
    ModelHarness h;
    FakeCamera::Options slow;
    slow.stopMode = FakeCamera::StopMode::delayed;
    h.cameras.setOptions(ConnectionMode::wireless, slow);
    h.createAndStart();
    h.model->startTimers();
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.emit(CameraEvent::stats(picture(1080, 1920)));  // a settle pending
    auto camera = h.camera();
    camera->emit(CameraEvent::cameraOff());  // a reconnect whose stop is pending
    h.main.runUntilIdle();
    camera->deliverFrame(FakeCamera::makeFrame(64, 36));  // a display pending
    camera->emit(CameraEvent::failed("Lost"));            // an event pending
    ASSERT_TRUE(h.model->isSwitching());
    std::weak_ptr<CameraModel> weak = h.model;
    camera.reset();

    h.model.reset();
    EXPECT_TRUE(weak.expired());
    const size_t disks = h.disk.queries().size();
    h.main.advanceSeconds(60);
    EXPECT_EQ(h.cameras.builds().size(), 1u);
    EXPECT_EQ(h.disk.queries().size(), disks);
    EXPECT_EQ(h.cameras.latest(), nullptr);
}

// The two answers the window's panels offer: "Use USB" and "Reconnect". Both
// ask whether the camera is on USB at the moment they run, not at launch.
TEST(CameraConnectionTest, UseUSBAndReconnectFollowTheCamerasPresenceOnUSB) {
    enum class Action { useUSB, reconnect };
    struct Case {
        const char* name;
        bool onUSBAtLaunch;
        bool onUSBNow;
        bool cameraOff;
        Action action;
        ConnectionMode route;  // afterwards
        size_t newBuilds;
        bool guide;
    };
    const std::vector<Case> cases{
        {"use USB without the cable shows the guide and keeps Wi-Fi", false, false, false, Action::useUSB,
         ConnectionMode::wireless, 0, true},
        {"use USB with the camera plugged in switches at once", false, true, false, Action::useUSB,
         ConnectionMode::usb, 1, false},
        {"use USB on USB changes nothing", true, true, false, Action::useUSB, ConnectionMode::usb, 0, false},
        {"use USB while the camera is off still switches", false, true, true, Action::useUSB, ConnectionMode::usb, 1,
         false},
        {"reconnect without the cable rebuilds Wi-Fi", false, false, true, Action::reconnect,
         ConnectionMode::wireless, 1, false},
        {"reconnect finds the camera newly on USB", false, true, false, Action::reconnect, ConnectionMode::usb, 1,
         false},
        {"reconnect on USB rebuilds USB", true, true, true, Action::reconnect, ConnectionMode::usb, 1, false},
        {"reconnect after the cable was pulled goes wireless", true, false, false, Action::reconnect,
         ConnectionMode::wireless, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.cameras.setPocketConnected(c.onUSBAtLaunch);
        h.createAndStart();
        if (c.cameraOff) h.emit(CameraEvent::cameraOff());
        ASSERT_EQ(h.state().cameraOff, c.cameraOff);
        h.cameras.setPocketConnected(c.onUSBNow);
        const size_t builds = h.cameras.builds().size();

        if (c.action == Action::useUSB) {
            h.model->switchToUSB();
        } else {
            h.model->reconnect();
        }
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().connection, c.route);
        EXPECT_EQ(h.cameras.builds().size() - builds, c.newBuilds);
        if (c.newBuilds > 0) {
            EXPECT_EQ(h.cameras.builds().back().mode, c.route);
        }
        EXPECT_EQ(h.state().showUSBGuide, c.guide);
        // Only a camera that says so again is off after either answer.
        if (c.newBuilds > 0) {
            EXPECT_FALSE(h.state().cameraOff);
        }
    }
}

}  // namespace
}  // namespace lumenhollow::test
