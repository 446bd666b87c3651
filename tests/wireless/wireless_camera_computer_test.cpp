// The wireless camera meeting a failure of this computer rather than of the
// camera: no Bluetooth adapter (no BlueZ, no system bus), nmcli that cannot
// run or does not answer. Such a failure is never reported as the camera
// going off; the camera tries again by itself and takes up the adapter or
// the tool once it is there. Bluetooth failures of the camera's own road
// still end in cameraOff.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hollowkit/testing/test_support.h"
#include "tests/wireless/wireless_camera_harness.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::CameraRig;
using testsupport::RigOptions;
using Kind = CameraEvent::Kind;

// The failures as the owner receives them: message and whether they lie
// with this computer.
std::vector<std::pair<std::string, bool>> failuresOf(const CameraRig& rig) {
    std::vector<std::pair<std::string, bool>> out;
    for (const auto& event : rig.events) {
        if (auto failed = event.get<CameraEvent::Failed>()) out.emplace_back(failed->message, failed->onComputer);
    }
    return out;
}

// The activations (`nmcli --wait N connection up …`) the fake tool saw.
int activations(const CameraRig& rig) {
    int count = 0;
    for (const std::string& call : rig.nmcli->calls()) count += call.find(" connection up ") != std::string::npos;
    return count;
}

TEST(WirelessCameraComputerTest, NoAdapterIsTriedAgainAfterAGrowingWaitUntilOneComes) {
    CameraRig rig(RigOptions{});
    rig.radio.setAdapterState(BleAdapterState::unsupported);
    rig.start();
    // The virtual time of each failure, measured from the first.
    std::vector<double> seconds;
    TimePoint first{};
    for (size_t n = 1; n <= 7; ++n) {
        ASSERT_TRUE(rig.runVirtual([&] { return failuresOf(rig).size() == n; }, 40s)) << n;
        if (n == 1) first = rig.main.clock().now();
        seconds.push_back(std::chrono::duration<double>(rig.main.clock().now() - first).count());
    }
    const std::vector<double> expected{0, 3, 9, 21, 45, 75, 105};
    ASSERT_EQ(seconds.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(seconds[i], expected[i], 0.05) << i;
    for (const auto& failure : failuresOf(rig)) {
        EXPECT_EQ(failure, std::make_pair(std::string("No Bluetooth adapter found"), true));
    }
    EXPECT_EQ(rig.count(Kind::cameraOff), 0);
    EXPECT_EQ(rig.camera->state(), WirelessCamera::State::running);
    EXPECT_FALSE(rig.camera->stopFlagSet());
    EXPECT_EQ(rig.log.count("Failed: No Bluetooth adapter found"), 1) << "each retry meets it again in silence";

    // An adapter comes: the camera found by the link is paired and shows its
    // picture, with no retry cutting in.
    rig.radio.setAdapterState(BleAdapterState::poweredOn);
    ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 2; }));
    EXPECT_TRUE(rig.hasStatus("Looking for the camera over Bluetooth"));
    EXPECT_EQ(failuresOf(rig).size(), 7u);
    EXPECT_EQ(rig.count(Kind::cameraOff), 0);
}

// A stop while the camera waits for an adapter completes at once and leaves
// no retry behind; the camera-off path of the camera's own Bluetooth
// failures is unchanged.
TEST(WirelessCameraComputerTest, AdapterStatesOfTheCameraRoadAndAStopWhileWaiting) {
    struct Case {
        const char* name;
        BleAdapterState state;
        std::string failure;
        bool onComputer;
    };
    const std::vector<Case> cases{
        {"no adapter", BleAdapterState::unsupported, "No Bluetooth adapter found", true},
        {"adapter off", BleAdapterState::poweredOff, "Bluetooth is turned off", false},
        {"access denied", BleAdapterState::unauthorized, "Bluetooth permission was denied", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraRig rig(RigOptions{});
        rig.radio.setAdapterState(c.state);
        rig.start();
        ASSERT_TRUE(rig.runVirtual([&] { return !rig.failures().empty(); }));
        rig.runVirtual([] { return false; }, 1s);
        EXPECT_EQ(failuresOf(rig), (std::vector<std::pair<std::string, bool>>{{c.failure, c.onComputer}}));
        EXPECT_EQ(rig.count(Kind::cameraOff), c.onComputer ? 0 : 1);

        rig.stop();
        ASSERT_TRUE(rig.runVirtual([&] { return rig.completions == 1; }, 1s));
        EXPECT_TRUE(rig.completedAfterStopped);
        // An adapter that comes later finds nothing looking for it.
        const size_t events = rig.events.size();
        rig.radio.setAdapterState(BleAdapterState::poweredOn);
        rig.runVirtual([] { return false; }, 120s);
        EXPECT_EQ(rig.events.size(), events) << "nothing follows the stop";
        EXPECT_EQ(rig.radio.scanStarts(), 0);
    }
}

// nmcli that cannot run or does not answer: the camera was reached over
// Bluetooth and stays so; the join is tried again after the wait, and a
// tool that works by then joins and brings the picture.
TEST(WirelessCameraComputerTest, TheWiFiToolFailingKeepsTheCameraAndJoinsAgainLater) {
    struct Case {
        const char* name;
        bool toolMissing;  // else: it hangs on the activation
        std::string failure;
    };
    const std::vector<Case> cases{
        {"nmcli cannot run", true, "Could not run the Wi-Fi tool nmcli: "},
        {"nmcli does not answer", false, "The Wi-Fi tool nmcli did not answer in time"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir tools;
        const std::filesystem::path missing = tools.path() / "nmcli";
        RigOptions options;
        if (!c.toolMissing) options.nmcli.hangOn = "connection up";
        options.adjust = [&](NetworkEnvironment& env) {
            if (c.toolMissing) env.nmcliPath = missing.string();
            env.timings.wifi.activationTimeout = 300ms;
        };
        CameraRig rig(options);
        rig.start();
        ASSERT_TRUE(rig.runMixed([&] { return !rig.failures().empty() && !rig.camera->workerRunning(); }));
        ASSERT_EQ(failuresOf(rig).size(), 1u);
        EXPECT_EQ(failuresOf(rig)[0].first.rfind(c.failure, 0), 0u) << failuresOf(rig)[0].first;
        EXPECT_TRUE(failuresOf(rig)[0].second);
        EXPECT_EQ(rig.count(Kind::cameraOff), 0);
        EXPECT_TRUE(rig.ble.isConnected());
        EXPECT_FALSE(rig.camera->stopFlagSet());
        EXPECT_EQ(rig.nmcli->activeSsid(), std::nullopt);

        if (c.toolMissing) {
            // The tool is installed meanwhile: the next try joins.
            std::filesystem::create_symlink(rig.nmcli->path(), missing);
            ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 2; }));
            EXPECT_EQ(activations(rig), 1);
        } else {
            const int joins = activations(rig);
            ASSERT_EQ(joins, 1);
            ASSERT_TRUE(rig.runMixed([&] { return activations(rig) > joins; }));
            EXPECT_EQ(rig.count(Kind::cameraOff), 0);
        }
        EXPECT_EQ(rig.log.count("Camera turned off or went out of range"), 0);

        rig.stop();
        ASSERT_TRUE(rig.runReal([&] { return rig.completions > 0; }, 6s));
        EXPECT_EQ(rig.nmcli->activeSsid(), std::nullopt);
    }
}

}  // namespace
}  // namespace hollowkit
