// The wireless camera on its Bluetooth side alone (virtual time, no
// sockets): zoom range from the camera's name, the stop with its deadline
// and its completions, link events turned into camera events, the order of
// events from several threads, and the route decisions that end in a
// failure without a video thread.

#include "hollowkit/wireless/wireless_camera.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/wireless/wireless_camera_harness.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::CameraRig;
using testsupport::RigOptions;
using Kind = CameraEvent::Kind;

RigOptions offline() {
    RigOptions options;
    options.cameraAddress.reset();
    return options;
}

bool paired(CameraRig& rig) { return rig.camera->bluetooth().paired(); }

TEST(WirelessCameraTest, ZoomRangeComesFromTheBluetoothName) {
    struct Case {
        const char* name;
        std::optional<ZoomRange> range;
    };
    const Case cases[] = {
        {"OsmoPocket3", ZoomRange{100, 400}},
        {"Osmo Pocket 4 Pro", ZoomRange{100, 300}},
        {"OSMO POCKET 4", ZoomRange{100, 400}},
        {"Pocket Cam", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RigOptions options = offline();
        options.ble.localName = std::string(c.name);
        CameraRig rig(options);
        EXPECT_EQ(rig.camera->zoomRange(), std::nullopt);  // no name before connecting
        rig.start();
        ASSERT_TRUE(rig.runVirtual([&] { return paired(rig); }));
        EXPECT_EQ(rig.camera->zoomRange(), c.range);
    }
}

// Two stops before the first finished share one `stopped`; both
// completions run after it, in order; a stop after that completes at once
// without another `stopped`.
TEST(WirelessCameraTest, StopsShareOneStoppedAndALateStopStillCompletes) {
    CameraRig rig(offline());
    std::vector<int> order;
    rig.camera->stop([&] { order.push_back(1); });
    rig.camera->stop([&] { order.push_back(2); });
    // No connection: the link ended at once, yet nothing ran inside stop().
    EXPECT_EQ(rig.camera->state(), WirelessCamera::State::stopped);
    EXPECT_TRUE(rig.events.empty());
    EXPECT_TRUE(order.empty());
    rig.main.runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(rig.statuses(), std::vector<std::string>{"Disconnecting"});
    EXPECT_EQ(rig.count(Kind::stopped), 1);

    rig.camera->stop([&] { order.push_back(3); });
    rig.main.runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(rig.count(Kind::stopped), 1);
    EXPECT_TRUE(rig.camera->stopFlagSet());
    rig.camera->start();  // a stopped camera does not start again
    rig.runVirtual([] { return false; }, 2s);
    EXPECT_EQ(rig.radio.scanStarts(), 0);
}

TEST(WirelessCameraTest, StopCompletesAtTheDeadlineWhenTheLinkNeverEnds) {
    CameraRig rig(offline());
    rig.start();
    ASSERT_TRUE(rig.runVirtual([&] { return paired(rig); }));
    rig.radio.setDisconnectDelay(std::chrono::hours(1));
    rig.stop();
    rig.runVirtual([] { return false; }, 5990ms);
    EXPECT_EQ(rig.completions, 0);
    EXPECT_EQ(rig.count(Kind::stopped), 0);
    rig.runVirtual([&] { return rig.completions > 0; }, 100ms);
    EXPECT_EQ(rig.completions, 1);
    EXPECT_TRUE(rig.completedAfterStopped);
    rig.runVirtual([] { return false; }, 10s);
    EXPECT_EQ(rig.count(Kind::stopped), 1);
    EXPECT_EQ(rig.completions, 1);
}

TEST(WirelessCameraTest, CameraDroppedWithAStopPendingStillCompletes) {
    CameraRig rig(offline());
    rig.start();
    ASSERT_TRUE(rig.runVirtual([&] { return paired(rig); }));
    rig.radio.setDisconnectDelay(std::chrono::hours(1));
    rig.stop();
    rig.camera.reset();
    rig.main.runUntilIdle();
    EXPECT_EQ(rig.completions, 1);
}

TEST(WirelessCameraTest, LinkEventsBecomeCameraEvents) {
    CameraRig rig(offline());
    rig.start();
    ASSERT_TRUE(rig.runVirtual([&] { return paired(rig); }));

    rig.ble.pushBattery(55, true);
    DumlFrame other;  // a push that is no battery report
    other.target = DumlFrame::makeTarget(0x08, 0x02);
    other.cmdSet = 0x0D;
    other.cmdId = 0x03;
    other.payload = Bytes(40, 0x11);
    rig.ble.sendFrame(other);
    rig.runVirtual([] { return false; }, 500ms);
    ASSERT_EQ(rig.count(Kind::battery), 1);
    EXPECT_EQ(*rig.events[rig.indexOf(Kind::battery)].get<BatteryStatus>(), (BatteryStatus{55, true}));

    // The camera goes away without a stop: one cameraOff, the flag stays set.
    rig.ble.dropConnection();
    rig.runVirtual([] { return false; }, 1s);
    EXPECT_EQ(rig.count(Kind::cameraOff), 1);
    EXPECT_TRUE(rig.camera->stopFlagSet());
    EXPECT_TRUE(rig.log.contains("Camera turned off or went out of range"));
}

TEST(WirelessCameraTest, BluetoothFailureWithoutVideoThreadEndsTheLink) {
    RigOptions options = offline();
    options.ble.notifyError = "Notify refused";
    CameraRig rig(options);
    rig.start();
    ASSERT_TRUE(rig.runVirtual([&] { return rig.count(Kind::cameraOff) > 0; }));
    ASSERT_EQ(rig.failures().size(), 1u);
    EXPECT_EQ(rig.failures()[0], "Bluetooth notify failed: Notify refused");
    EXPECT_LT(rig.indexOf(Kind::failed), rig.indexOf(Kind::cameraOff));
    EXPECT_TRUE(rig.log.contains("Failed: Bluetooth notify failed: Notify refused"));
}

// As the owner does while Bluetooth is turned off: every camera that goes
// off is stopped and replaced by a new one of the same environment.
TEST(WirelessCameraTest, AFailureEveryCameraMeetsIsLoggedOnceUntilOneReachesTheCamera) {
    RigOptions options = offline();
    options.adjust = [](NetworkEnvironment& env) {
        env.wifiDevice.reset();  // each camera looks its device up and says so
        env.repeatLog = std::make_shared<RepeatLog>();
    };
    CameraRig rig(options);
    auto replaceCamera = [&rig] {
        bool stopped = false;
        rig.camera->stop([&stopped] { stopped = true; });
        EXPECT_TRUE(rig.runMixed([&] { return stopped; }));
        rig.camera = std::make_unique<WirelessCamera>(rig.main, testsupport::kPairingIdentifier, std::nullopt, rig.env);
        rig.camera->setOnEvent([&rig](const CameraEvent& event) { rig.events.push_back(event); });
    };
    auto runUntilOff = [&rig](int offs) {
        rig.start();
        return rig.runMixed([&] { return rig.count(Kind::cameraOff) == offs; });
    };

    rig.radio.setAdapterState(BleAdapterState::poweredOff);
    ASSERT_TRUE(runUntilOff(1));
    for (int offs = 2; offs <= 3; ++offs) {
        replaceCamera();
        ASSERT_TRUE(runUntilOff(offs));
    }
    EXPECT_EQ(rig.failures().size(), 3u) << "every camera still reports its failure";
    for (const char* line : {"Failed: Bluetooth is turned off", "Camera turned off or went out of range",
                             "Wi-Fi device: ", "Status: Disconnecting", "Stopped"}) {
        EXPECT_EQ(rig.log.count(line), 1) << line;
    }

    // A camera that reaches the camera: the same failure afterwards is news again.
    rig.radio.setAdapterState(BleAdapterState::poweredOn);
    replaceCamera();
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.camera->bluetooth().credentialsDelivered(); }));
    replaceCamera();
    rig.radio.setAdapterState(BleAdapterState::poweredOff);
    ASSERT_TRUE(runUntilOff(4));
    EXPECT_EQ(rig.log.count("Failed: Bluetooth is turned off"), 2);
}

// Events from another thread and from the main executor reach the owner in
// the order they were emitted, and always through the main executor: one
// emitted there is not delivered before emit returns.
TEST(WirelessCameraTest, EventsKeepTheirOrderAcrossThreads) {
    CameraRig rig(offline());
    std::thread other([&] { rig.camera->emit(CameraEvent::status("from the video thread")); });
    other.join();
    rig.camera->emit(CameraEvent::status("from the main executor"));
    EXPECT_TRUE(rig.events.empty());
    rig.main.runUntilIdle();
    EXPECT_EQ(rig.statuses(), (std::vector<std::string>{"from the video thread", "from the main executor"}));
    EXPECT_TRUE(rig.log.contains("Status: from the video thread"));
}

using State = WirelessCamera::State;

// Construction runs no tool (a lookup that never answers would block it);
// start() hands the lookup to the worker and returns while it runs; the
// Bluetooth side begins once the device is known.
TEST(WirelessCameraTest, TheWiFiDeviceIsFoundAtStartOnTheWorker) {
    RigOptions options = offline();
    testsupport::lookUpTheDevice(options, false);
    CameraRig rig(options);
    EXPECT_TRUE(rig.nmcli->calls().empty());
    EXPECT_EQ(rig.camera->wifi().device(), "");
    EXPECT_EQ(rig.camera->state(), State::idle);

    rig.start();
    rig.start();  // a second start changes nothing
    EXPECT_EQ(rig.camera->state(), State::starting);
    EXPECT_EQ(rig.radio.scanStarts(), 0);
    ASSERT_TRUE(rig.runReal([&] { return rig.camera->state() == State::running; }));
    EXPECT_EQ(rig.camera->wifi().device(), "wlan0");
    EXPECT_EQ(rig.nmcli->calls(), std::vector<std::string>{"-t -f DEVICE,TYPE device"});
    EXPECT_FALSE(rig.camera->workerRunning());
    ASSERT_TRUE(rig.runVirtual([&] { return paired(rig); }));
    EXPECT_EQ(rig.radio.scanStarts(), 1);
}

// A stop while the device is being looked up completes at once; the lookup
// ends later and nothing starts after it.
TEST(WirelessCameraTest, StopDuringStartCompletesAndNothingStartsAfter) {
    RigOptions options = offline();
    testsupport::lookUpTheDevice(options, true);
    CameraRig rig(options);
    rig.start();
    ASSERT_TRUE(rig.runReal([&] { return rig.nmcli->calls().size() == 1; }));
    ASSERT_EQ(rig.camera->state(), State::starting);
    rig.stop();
    EXPECT_TRUE(rig.events.empty());  // nothing inside stop()
    rig.main.runUntilIdle();
    EXPECT_EQ(rig.completions, 1);
    EXPECT_TRUE(rig.completedAfterStopped);
    EXPECT_EQ(rig.camera->state(), State::stopped);

    ASSERT_TRUE(rig.runReal([&] { return !rig.camera->workerRunning(); }));
    rig.runVirtual([] { return false; }, 2s);
    EXPECT_EQ(rig.camera->state(), State::stopped);
    EXPECT_EQ(rig.radio.scanStarts(), 0);
    EXPECT_EQ(rig.statuses(), std::vector<std::string>{"Disconnecting"});
    EXPECT_EQ(rig.count(Kind::stopped), 1);
}

// A camera destroyed while its worker still waits for a tool joins it: no
// worker thread is left behind, and no event follows.
TEST(WirelessCameraTest, DestroyedWhileStartingLeavesNoThread) {
    RigOptions options = offline();
    testsupport::lookUpTheDevice(options, true);
    CameraRig rig(options);
    rig.start();
    ASSERT_TRUE(rig.runReal([&] { return rig.nmcli->calls().size() == 1; }));
    EXPECT_EQ(testsupport::threadsNamed("HK.Video"), 1);
    rig.camera.reset();
    EXPECT_EQ(testsupport::threadsNamed("HK.Video"), 0);
    rig.main.runUntilIdle();
    EXPECT_TRUE(rig.events.empty());
}

// Stops from every state before the link comes up: each completes once,
// after one `stopped`, with no handler run inside stop(); a start after the
// stop does nothing.
TEST(WirelessCameraTest, StopFromEveryEarlyStateThenStartDoesNothing) {
    struct Case {
        const char* name;
        std::function<void(CameraRig&)> reach;
        State before;
    };
    const Case cases[] = {
        {"idle", [](CameraRig&) {}, State::idle},
        {"scanning", [](CameraRig& rig) { rig.start(); }, State::running},
        {"paired", [](CameraRig& rig) {
             rig.start();
             rig.runVirtual([&] { return paired(rig); });
         }, State::running},
        {"camera off", [](CameraRig& rig) {
             rig.start();
             rig.runVirtual([&] { return paired(rig); });
             rig.ble.dropConnection();
             rig.runVirtual([&] { return rig.count(Kind::cameraOff) > 0; });
         }, State::off},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraRig rig(offline());
        c.reach(rig);
        ASSERT_EQ(rig.camera->state(), c.before);
        const size_t before = rig.events.size();
        rig.stop();
        rig.stop();
        EXPECT_EQ(rig.events.size(), before);
        ASSERT_TRUE(rig.runVirtual([&] { return rig.completions == 2; }, 7s));
        EXPECT_TRUE(rig.completedAfterStopped);
        EXPECT_EQ(rig.camera->state(), State::stopped);

        const int scans = rig.radio.scanStarts();
        rig.start();
        rig.runVirtual([] { return false; }, 2s);
        EXPECT_EQ(rig.radio.scanStarts(), scans);
        EXPECT_EQ(rig.count(Kind::stopped), 1);
        EXPECT_EQ(rig.indexOf(Kind::stopped), static_cast<int>(rig.events.size()) - 1);
    }
}

// Route decisions that fail end with their one message: no video thread,
// and the Bluetooth link stays up.
TEST(WirelessCameraTest, RouteDecisionFailures) {
    struct Case {
        const char* name;
        bool home;
        std::function<void(SimPocketBle&)> camera;
        std::string failure;
        const char* role;
    };
    const std::vector<Case> cases{
        {"no answer to the role query", true,
         [](SimPocketBle& ble) { ble.roleReplies.push_back(std::nullopt); },
         HomeNetworkError::unsupportedRole().errorDescription(), "unsupported"},
        {"camera refuses to leave its access point", true,
         [](SimPocketBle& ble) { ble.accessPointReplies.push_back(Bytes{0x01}); },
         HomeNetworkError::roleRefused().errorDescription(), "accessPoint"},
        {"camera stays on another network", false,
         [](SimPocketBle& ble) {
             ble.setStation(true);
             ble.accessPointReplies.push_back(Bytes{0x02});
         },
         "The camera is still on another Wi-Fi network. Turn it off and on, then reconnect.", "station"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RigOptions options = offline();
        if (c.home) options.home = HomeNetwork{testsupport::kHomeSsid, testsupport::kHomePassword};
        CameraRig rig(options);
        c.camera(rig.ble);
        rig.start();
        ASSERT_TRUE(rig.runMixed([&] { return !rig.failures().empty(); }));
        rig.runMixed([] { return false; }, 20s);
        EXPECT_EQ(rig.failures(), std::vector<std::string>{c.failure});
        EXPECT_TRUE(rig.log.contains(std::string("Camera Wi-Fi role: ") + c.role));
        EXPECT_FALSE(rig.camera->videoThreadRunning());
        EXPECT_EQ(rig.count(Kind::cameraOff), 0);
        EXPECT_TRUE(rig.ble.isConnected());
        EXPECT_EQ(rig.nmcli->calls().size(), 0u);
    }
}

}  // namespace
}  // namespace hollowkit
