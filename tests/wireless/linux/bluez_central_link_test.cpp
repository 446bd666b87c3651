// BluezCentral end to end, as above: the failures BlueZ reports and the
// ways a link ends, and the camera's Bluetooth link over the real backend.

#include "hollowkit/wireless/linux/bluez_central.h"

#include <gtest/gtest.h>

#include "bluez_central_bench.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using namespace bluez_test;
using testsupport::LogCapture;

TEST_F(BluezCentralTest, ConnectErrorCarriesBlueZMessage) {
    camera_.refuseConnection = "Page Timeout";
    startBluez();
    cameraPath_ = bluez_->add(camera_);
    startCentral();
    ASSERT_TRUE(waitForLog("state poweredOn"));
    central_->scanForPeripherals();
    ASSERT_TRUE(waitFor([&] { return recorder_.discovered(cameraPath_) != nullptr; }));
    central_->connect(cameraPath_);
    ASSERT_TRUE(waitForLog("failed to connect: Page Timeout"));
    EXPECT_FALSE(recorder_.logged("connected"));
    // An unknown peripheral fails too, rather than going unanswered.
    central_->connect("/org/bluez/hci0/dev_00_00_00_00_00_00");
    ASSERT_TRUE(waitForLog("failed to connect: The peripheral is not known to Bluetooth"));
}

TEST_F(BluezCentralTest, PeripheralDroppingMidWriteEndsTheLinkOnce) {
    connectCamera();
    camera_.dropOnWriteWithResponse = true;
    central_->writeValue(cameraPath_, notify_, Bytes{0x01, 0x00}, BleWriteType::withResponse);
    ASSERT_TRUE(waitForLog("disconnected: The peripheral disconnected"));
    // BlueZ fails the write once the link is gone; that stale answer must not
    // follow the disconnection. Later writes go nowhere, quietly.
    central_->writeValue(cameraPath_, write_, Bytes{0x01}, BleWriteType::withoutResponse);
    central_->cancelConnection(cameraPath_);
    ASSERT_TRUE(waitForLog("disconnected: clean"));
    EXPECT_FALSE(recorder_.logged("wrote fff4 Not connected"));
    EXPECT_FALSE(recorder_.logged("wrote fff4 ok"));
    EXPECT_TRUE(central_->canSendWriteWithoutResponse(cameraPath_));
    EXPECT_EQ(camera_.writesTo(kWriteUuid).size(), 0u);
}

TEST_F(BluezCentralTest, NotifyFailureCarriesBlueZMessage) {
    camera_.refuseNotify = "Insufficient Authentication";
    startBluez();
    cameraPath_ = bluez_->add(camera_);
    startCentral();
    ASSERT_TRUE(waitForLog("state poweredOn"));
    central_->scanForPeripherals();
    ASSERT_TRUE(waitFor([&] { return recorder_.discovered(cameraPath_) != nullptr; }));
    central_->connect(cameraPath_);
    ASSERT_TRUE(waitForLog("connected"));
    central_->discoverServices(cameraPath_, {});
    ASSERT_TRUE(waitForLog("services 2"));
    central_->discoverCharacteristics(cameraPath_, recorder_.services[1], {});
    ASSERT_TRUE(waitForLog("characteristics 2 ok"));
    central_->setNotifyValue(cameraPath_, recorder_.characteristics[0], true);
    ASSERT_TRUE(waitForLog("notify fff4 Insufficient Authentication"));
}

TEST_F(BluezCentralTest, ServiceDiscoveryWaitsForServicesResolved) {
    startBluez(FakeBluez::Options{.holdServicesResolved = true});
    cameraPath_ = bluez_->add(camera_);
    startCentral();
    ASSERT_TRUE(waitForLog("state poweredOn"));
    central_->scanForPeripherals();
    ASSERT_TRUE(waitFor([&] { return recorder_.discovered(cameraPath_) != nullptr; }));
    central_->connect(cameraPath_);
    ASSERT_TRUE(waitForLog("connected"));
    // Asked before BlueZ has found the services: answered once it has, with
    // them, not at once with nothing.
    central_->discoverServices(cameraPath_, {kServiceUuid});
    bluez_->resolveServices(cameraPath_);
    ASSERT_TRUE(waitFor([&] { return recorder_.log.back().rfind("services", 0) == 0; }));
    EXPECT_EQ(recorder_.log.back(), "services 1");
}

TEST_F(BluezCentralTest, RemovedDeviceEndsTheLink) {
    connectCamera();
    bluez_->remove(cameraPath_);
    ASSERT_TRUE(waitForLog("disconnected: The peripheral disconnected"));
    // Whether the removal or the attempt reaches BlueZ first, the attempt
    // fails rather than going unanswered.
    central_->connect(cameraPath_);
    ASSERT_TRUE(waitFor([&] { return recorder_.log.back().rfind("failed to connect: ", 0) == 0; }));
    EXPECT_EQ(std::count(recorder_.log.begin(), recorder_.log.end(), "connected"), 1);
}

TEST_F(BluezCentralTest, DestroyingTheCentralDisconnectsAndStopsItsScan) {
    connectCamera();
    central_->scanForPeripherals();
    ASSERT_TRUE(waitFor([&] { return bluez_->discovering(); }));
    size_t reported = recorder_.log.size();
    size_t stops = bluez_->count("StopDiscovery");
    central_.reset();
    ASSERT_TRUE(waitFor([&] { return bluez_->count("Disconnect") == 1 && bluez_->count("StopDiscovery") == stops + 1; }));
    EXPECT_FALSE(bluez_->connected(cameraPath_));
    main_.runUntilIdle();
    EXPECT_EQ(recorder_.log.size(), reported);
}

TEST_F(BluezCentralTest, BluezRestartEndsTheLinkAndComesBack) {
    connectCamera();
    bluez_.reset();  // bluetoothd goes away: its name leaves the bus
    ASSERT_TRUE(waitForLog("disconnected: The Bluetooth service stopped"));
    ASSERT_TRUE(waitForLog("state unsupported"));
    startBluez();
    cameraPath_ = bluez_->add(camera_);
    ASSERT_TRUE(waitFor([&] { return recorder_.states.back() == BleAdapterState::poweredOn; }));
    central_->scanForPeripherals();
    EXPECT_TRUE(waitFor([&] { return bluez_->discovering(); }));
}

TEST_F(BluezCentralTest, LosingTheBusEndsTheLink) {
    connectCamera();
    central_->writeValue(cameraPath_, write_, Bytes{0x01}, BleWriteType::withoutResponse);
    // The bus may first say that BlueZ's name went, then close on us.
    daemon_.reset();
    ASSERT_TRUE(waitForLog("state unsupported"));
    ASSERT_TRUE(waitFor([&] {
        return std::count_if(recorder_.log.begin(), recorder_.log.end(), [](const std::string& line) {
                   return line.rfind("disconnected: The Bluetooth service ", 0) == 0;
               }) == 1;
    }));
    EXPECT_TRUE(waitFor([&] { return central_->canSendWriteWithoutResponse(cameraPath_); }));
}

TEST_F(BluezCentralTest, CameraLinkPairsAndGetsCredentialsThroughBlueZ) {
    using Kind = PocketBluetoothLink::Event::Kind;
    const std::string identifier = "00112233445566778899aabbccddeeff";
    startBluez();
    SimPocketBle::Config config;
    config.notificationChunk = 20;  // replies split as a 23-byte ATT MTU splits them
    SimPocketBle camera(main_, config);
    FakeBleDecoy drone(BlePeripheral{"drone", std::nullopt},
                       BleAdvertisement{std::string("Mavic Air 2"), {BleManufacturerData{kMakerCompanyId, {0x01}}}, {}});
    bluez_->add(drone);
    std::string path = bluez_->add(camera);

    auto link = std::make_unique<PocketBluetoothLink>(main_, identifier, true);
    std::vector<PocketBluetoothLink::Event> events;
    link->onEvent = [&](const PocketBluetoothLink::Event& event) { events.push_back(event); };
    auto has = [&](Kind kind, const std::string& text) {
        return std::any_of(events.begin(), events.end(),
                           [&](const auto& event) { return event.kind == kind && event.text == text; });
    };
    auto count = [&](Kind kind) {
        return std::count_if(events.begin(), events.end(), [&](const auto& event) { return event.kind == kind; });
    };
    link->start(BluezCentral::factory(daemon_->address())(main_));

    ASSERT_TRUE(pump([&] { return has(Kind::status, "Approve the pairing on the camera screen"); }));
    EXPECT_TRUE(has(Kind::status, "Looking for the camera over Bluetooth"));
    EXPECT_TRUE(has(Kind::status, "Connecting to OsmoPocket3"));
    camera.approvePairing();
    ASSERT_TRUE(pump([&] { return count(Kind::credentials) == 1; }));

    EXPECT_TRUE(has(Kind::status, "Paired (approved on camera), waking camera Wi-Fi"));
    auto credentials = std::find_if(events.begin(), events.end(), [](const auto& e) { return e.kind == Kind::credentials; });
    EXPECT_EQ(credentials->ssid, "OsmoPocket3-4A1F");
    EXPECT_EQ(credentials->password, "x7Qp2mW9");
    EXPECT_EQ(count(Kind::failed), 0);
    EXPECT_EQ(camera.pairingIdentifiers(), std::vector<std::string>{identifier});
    EXPECT_EQ(camera.approvalAnswers(), 1);
    EXPECT_EQ(camera.wrongApprovalAnswers(), 0);
    EXPECT_EQ(drone.connections(), 0);
    // Armed by a write request to FFF4; the frames went through the socket.
    EXPECT_TRUE(camera.armed());
    auto requests = detailsOf("WriteValue");
    EXPECT_EQ(requests, std::vector<std::string>{"type=request 01 00"});
    EXPECT_GE(bluez_->count("SocketWrite"), 5u);

    link->disconnect();
    ASSERT_TRUE(pump([&] { return count(Kind::disconnected) == 1; }));
    EXPECT_TRUE(waitFor([&] { return !bluez_->connected(path); }));
    link.reset();
    bluez_.reset();
}

}  // namespace
}  // namespace hollowkit
