// The wireless camera over the real BlueZ backend on a machine whose
// Bluetooth service is missing at first: the camera reports the computer's
// failure, never that the camera went off, and takes up BlueZ once it
// comes.

#include <gtest/gtest.h>

#include <algorithm>

#include "bluez_central_bench.h"
#include "hollowkit/wireless/wireless_camera.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using namespace bluez_test;

TEST_F(BluezCentralTest, AWirelessCameraWithoutBlueZSaysSoAndTakesItUpWhenItStarts) {
    NetworkEnvironment env;
    env.wifiDevice = "lo";
    env.nmcliPath = "/nonexistent/nmcli";
    env.bleCentrals = BluezCentral::factory(daemon_->address());
    auto camera = std::make_unique<WirelessCamera>(main_, "00112233445566778899aabbccddeeff", std::nullopt, env);
    std::vector<CameraEvent> events;
    camera->setOnEvent([&](const CameraEvent& event) { events.push_back(event); });
    auto count = [&](CameraEvent::Kind kind) {
        return std::count_if(events.begin(), events.end(), [&](const CameraEvent& e) { return e.kind() == kind; });
    };
    auto hasStatus = [&](const std::string& text) {
        return std::any_of(events.begin(), events.end(), [&](const CameraEvent& e) {
            const auto* status = e.get<CameraEvent::Status>();
            return status != nullptr && status->text == text;
        });
    };
    camera->start();

    ASSERT_TRUE(pump([&] { return count(CameraEvent::Kind::failed) > 0; }));
    const auto* failed = events[0].get<CameraEvent::Failed>();
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->message, "No Bluetooth adapter found");
    EXPECT_TRUE(failed->onComputer);

    // bluetoothd starts with the camera in range: the link looks for it and
    // connects, through the central already there or the camera's next one.
    startBluez();
    SimPocketBle pocket(main_, SimPocketBle::Config{});
    bluez_->add(pocket);
    ASSERT_TRUE(pump([&] { return hasStatus("Connecting to OsmoPocket3"); }, 60s));
    EXPECT_TRUE(hasStatus("Looking for the camera over Bluetooth"));
    EXPECT_EQ(count(CameraEvent::Kind::cameraOff), 0);

    bool stopped = false;
    camera->stop([&] { stopped = true; });
    ASSERT_TRUE(pump([&] { return stopped; }));
    camera.reset();
    main_.runUntilIdle();
    bluez_.reset();  // before the camera model it serves
}

}  // namespace
}  // namespace hollowkit
