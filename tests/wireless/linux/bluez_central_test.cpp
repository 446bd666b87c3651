// BluezCentral end to end: the real backend over a private dbus-daemon,
// against FakeBluez serving BlueZ's object tree on that bus. Scanning,
// connecting, notifications, writes and the adapter's states.

#include "hollowkit/wireless/linux/bluez_central.h"

#include <gtest/gtest.h>

#include "bluez_central_bench.h"
#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/silent_bus.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using namespace bluez_test;
using testsupport::LogCapture;

TEST_F(BluezCentralTest, ScanConnectArmNotifyAndWriteThroughBlueZ) {
    startBluez();
    FakeBleDecoy decoy(BlePeripheral{"decoy", std::nullopt},
                       BleAdvertisement{std::nullopt, {BleManufacturerData{0x004C, {0x02, 0x15}}}, {}});
    cameraPath_ = bluez_->add(camera_);
    std::string decoyPath = bluez_->add(decoy);
    startCentral();
    ASSERT_TRUE(waitForLog("state poweredOn"));
    EXPECT_EQ(central_->state(), BleAdapterState::poweredOn);

    central_->scanForPeripherals();
    ASSERT_TRUE(waitFor([&] { return recorder_.discovered(cameraPath_) && recorder_.discovered(decoyPath); }));
    // The LE filter goes in before discovery starts.
    auto calls = bluez_->calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], (FakeBluez::Call{"/org/bluez/hci0", "SetDiscoveryFilter", "Transport=le"}));
    EXPECT_EQ(calls[1].method, "StartDiscovery");

    // BlueZ's {0x08AA: 01 02 03} is the air's AA 08 01 02 03.
    const auto* camera = recorder_.discovered(cameraPath_);
    EXPECT_EQ(camera->peripheral.name, "OsmoPocket3");
    EXPECT_EQ(camera->advertisement.localName, "OsmoPocket3");
    EXPECT_EQ(camera->rssi, -48);
    ASSERT_EQ(camera->advertisement.manufacturerData.size(), 1u);
    EXPECT_EQ(hexString(camera->advertisement.manufacturerData[0].raw()), "aa 08 01 02 03");
    // The decoy is reported too: choosing is the link's business. Without a
    // name, BlueZ's address-shaped Alias is no name either.
    const auto* found = recorder_.discovered(decoyPath);
    EXPECT_EQ(found->peripheral.name, std::nullopt);
    ASSERT_NE(found->advertisement.manufacturer(0x004C), nullptr);
    EXPECT_EQ(found->advertisement.manufacturer(kMakerCompanyId), nullptr);

    central_->stopScan();
    ASSERT_TRUE(waitFor([&] { return bluez_->count("StopDiscovery") == 1; }));
    EXPECT_FALSE(bluez_->discovering());

    central_->connect(cameraPath_);
    ASSERT_TRUE(waitForLog("connected"));
    central_->discoverServices(cameraPath_, {kServiceUuid});
    ASSERT_TRUE(waitForLog("services 1"));
    EXPECT_EQ(recorder_.services[0].uuid, kServiceUuid);
    central_->discoverCharacteristics(cameraPath_, recorder_.services[0], {kNotifyUuid, kWriteUuid});
    ASSERT_TRUE(waitForLog("characteristics 2 ok"));
    notify_ = recorder_.characteristics[0];
    write_ = recorder_.characteristics[1];
    EXPECT_EQ(notify_.uuid, kNotifyUuid);
    EXPECT_EQ(notify_.serviceUuid, kServiceUuid);
    EXPECT_EQ(notify_.properties, BleProperty::kNotify | BleProperty::kWrite);
    EXPECT_EQ(write_.uuid, kWriteUuid);
    EXPECT_EQ(write_.properties, BleProperty::kWriteWithoutResponse | BleProperty::kNotify);
    // BlueZ's MTU property, less the ATT header.
    EXPECT_EQ(central_->maximumWriteValueLength(cameraPath_, BleWriteType::withoutResponse), 182u);

    central_->setNotifyValue(cameraPath_, notify_, true);
    central_->setNotifyValue(cameraPath_, write_, true);
    ASSERT_TRUE(waitFor([&] { return recorder_.logged("notify fff4 ok") && recorder_.logged("notify fff5 ok"); }));

    // The arming write is a write request.
    central_->writeValue(cameraPath_, notify_, Bytes{0x01, 0x00}, BleWriteType::withResponse);
    ASSERT_TRUE(waitForLog("wrote fff4 ok"));
    EXPECT_EQ(detailsOf("WriteValue"), std::vector<std::string>{"type=request 01 00"});

    // Writes without response go through the acquired socket; the echo comes
    // back as notifications, in order.
    EXPECT_TRUE(central_->canSendWriteWithoutResponse(cameraPath_));
    central_->writeValue(cameraPath_, write_, Bytes{0x55, 0x0d, 0x04}, BleWriteType::withoutResponse);
    central_->writeValue(cameraPath_, write_, Bytes{0x66}, BleWriteType::withoutResponse);
    ASSERT_TRUE(waitFor([&] { return recorder_.values.size() == 2; }));
    EXPECT_EQ(recorder_.values, (std::vector<Bytes>{{0x55, 0x0d, 0x04}, {0x66}}));
    EXPECT_EQ(bluez_->count("AcquireWrite"), 1u);
    EXPECT_EQ(detailsOf("SocketWrite"), (std::vector<std::string>{"55 0d 04", "66"}));

    central_->cancelConnection(cameraPath_);
    ASSERT_TRUE(waitForLog("disconnected: clean"));
    EXPECT_TRUE(waitFor([&] { return !bluez_->connected(cameraPath_); }));
    EXPECT_EQ(bluez_->count("Disconnect"), 1u);
}

TEST_F(BluezCentralTest, WritesWithoutResponseFallBackToWriteValueCommand) {
    for (auto mode : {FakeBluez::WriteAcquire::refused, FakeBluez::WriteAcquire::unavailable}) {
        SCOPED_TRACE(mode == FakeBluez::WriteAcquire::refused ? "AcquireWrite refused" : "no AcquireWrite");
        connectCamera(FakeBluez::Options{.writeAcquire = mode});
        std::vector<Bytes> sent;
        for (uint8_t i = 0; i < 12; ++i) {
            sent.push_back(Bytes{0xA0, i});
            central_->writeValue(cameraPath_, write_, sent.back(), BleWriteType::withoutResponse);
        }
        ASSERT_TRUE(waitFor([&] { return recorder_.values.size() == sent.size(); }));
        EXPECT_EQ(recorder_.values, sent);
        EXPECT_EQ(camera_.writesTo(kWriteUuid), sent);
        auto commands = detailsOf("WriteValue");
        ASSERT_EQ(commands.size(), sent.size());
        EXPECT_EQ(commands.front(), "type=command a0 00");
        EXPECT_EQ(bluez_->count("SocketWrite"), 0u);
        // Every write was accounted for: the window is open again.
        EXPECT_TRUE(waitFor([&] { return central_->canSendWriteWithoutResponse(cameraPath_); }));

        restart();
    }
}

TEST_F(BluezCentralTest, FullWriteSocketStandsInForCannotSend) {
    // A small socket buffer that the fake stops reading: BlueZ's socket
    // fills as a busy link would, and EAGAIN must hold writes back, not lose them.
    connectCamera(FakeBluez::Options{.socketBufferBytes = 4096});
    bluez_->holdSocketWrites(true);
    std::vector<Bytes> sent;
    for (uint8_t i = 0; i < 40; ++i) {
        sent.push_back(Bytes(100, i));
        central_->writeValue(cameraPath_, write_, sent.back(), BleWriteType::withoutResponse);
    }
    EXPECT_FALSE(central_->canSendWriteWithoutResponse(cameraPath_));
    // The socket is full well before 40 writes: some are still held back.
    ASSERT_TRUE(waitFor([&] { return bluez_->count("AcquireWrite") == 1; }));
    bluez_->holdSocketWrites(false);
    ASSERT_TRUE(waitFor([&] { return recorder_.readyToSend >= 1 && camera_.writesTo(kWriteUuid).size() == 40; }));
    EXPECT_EQ(camera_.writesTo(kWriteUuid), sent);
    EXPECT_TRUE(central_->canSendWriteWithoutResponse(cameraPath_));
}

TEST_F(BluezCentralTest, AdapterStatesAreReported) {
    struct Case {
        const char* name;
        FakeBluez::Options options;
        bool busRefusesBluez;
        BleAdapterState expected;
    };
    const Case cases[] = {
        {"no adapter", {.adapter = FakeBluez::AdapterMode::absent}, false, BleAdapterState::unsupported},
        {"powered off", {.powered = false}, false, BleAdapterState::poweredOff},
        {"bus policy refuses BlueZ", {}, true, BleAdapterState::unauthorized},
        {"powered on", {}, false, BleAdapterState::poweredOn},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        restart(entry.busRefusesBluez ? std::vector<std::string>{"org.bluez"} : std::vector<std::string>{});
        startBluez(entry.options);
        startCentral();
        ASSERT_TRUE(waitFor([&] { return !recorder_.states.empty(); }));
        EXPECT_EQ(recorder_.states, std::vector<BleAdapterState>{entry.expected});
        EXPECT_EQ(central_->state(), entry.expected);
    }
}

TEST_F(BluezCentralTest, RefusedDiscoveryIsUnauthorized) {
    startBluez(FakeBluez::Options{.adapter = FakeBluez::AdapterMode::discoveryRefused});
    startCentral();
    ASSERT_TRUE(waitForLog("state poweredOn"));
    central_->scanForPeripherals();
    ASSERT_TRUE(waitForLog("state unauthorized"));
    EXPECT_EQ(central_->state(), BleAdapterState::unauthorized);
}

TEST_F(BluezCentralTest, NoBluezOnTheBusIsNoAdapter) {
    startCentral();
    ASSERT_TRUE(waitFor([&] { return !recorder_.states.empty(); }));
    EXPECT_EQ(recorder_.states, std::vector<BleAdapterState>{BleAdapterState::unsupported});
}

// Every camera of a machine without Bluetooth makes a central of its own;
// the failure to reach BlueZ is logged once for all of them, and again only
// after BlueZ answered.
TEST_F(BluezCentralTest, AFailureToReachBlueZIsLoggedOnceForTheCentralsOfOneFactory) {
    struct Case {
        const char* name;
        bool bus;
        const char* line;
    };
    const std::vector<Case> cases{
        {"no bus", false, "BlueZ: cannot reach the system bus: "},
        {"a bus without BlueZ", true, "BlueZ: cannot list Bluetooth objects: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        LogCapture log;
        const BleCentralFactory factory =
            BluezCentral::factory(c.bus ? daemon_->address() : "unix:path=/nonexistent/lumenhollow-test-bus");
        auto firstState = [&] {
            Recorder recorder;
            auto central = factory(main_);
            central->start(recorder);
            EXPECT_TRUE(waitFor([&] { return !recorder.states.empty(); }));
            return recorder.states.empty() ? BleAdapterState::unknown : recorder.states.front();
        };
        for (int i = 0; i < 3; ++i) EXPECT_EQ(firstState(), BleAdapterState::unsupported);
        EXPECT_EQ(log.count(c.line), 1);
        if (!c.bus) continue;
        startBluez();
        EXPECT_EQ(firstState(), BleAdapterState::poweredOn);
        bluez_.reset();
        EXPECT_EQ(firstState(), BleAdapterState::unsupported);
        EXPECT_EQ(log.count(c.line), 2);
    }
}

TEST_F(BluezCentralTest, PoweringOnLetsTheScanStart) {
    startBluez(FakeBluez::Options{.powered = false});
    cameraPath_ = bluez_->add(camera_);
    startCentral();
    ASSERT_TRUE(waitForLog("state poweredOff"));
    bluez_->setPowered(true);
    ASSERT_TRUE(waitForLog("state poweredOn"));
    central_->scanForPeripherals();
    ASSERT_TRUE(waitFor([&] { return recorder_.discovered(cameraPath_) != nullptr; }));
    bluez_->setPowered(false);
    ASSERT_TRUE(waitFor([&] { return recorder_.states.size() == 3; }));
    EXPECT_EQ(recorder_.states.back(), BleAdapterState::poweredOff);
}

TEST_F(BluezCentralTest, OnlyFreshAdvertisementsAreReported) {
    startBluez();
    EchoPeripheral remembered;
    remembered.name = "Remembered";
    std::string rememberedPath = bluez_->add(remembered, FakeBluez::PeripheralOptions{.cached = true});
    EchoPeripheral odd;
    odd.name = "Odd";
    std::string oddPath = bluez_->add(odd, FakeBluez::PeripheralOptions{.malformedProperties = true});
    startCentral();
    ASSERT_TRUE(waitForLog("state poweredOn"));
    central_->scanForPeripherals();
    ASSERT_TRUE(waitFor([&] { return recorder_.discovered(rememberedPath) && recorder_.discovered(oddPath); }));
    // A device BlueZ remembers has no RSSI until it advertises again; it is
    // only ever reported with the RSSI of a fresh advertisement.
    for (const auto& discovery : recorder_.discoveries) EXPECT_EQ(discovery.rssi, -48);

    // Properties of the wrong type are skipped, the rest still read.
    const auto* found = recorder_.discovered(oddPath);
    EXPECT_EQ(found->advertisement.localName, std::nullopt);
    EXPECT_EQ(found->peripheral.name, "Odd");  // from Alias
    ASSERT_EQ(found->advertisement.manufacturerData.size(), 1u);
    EXPECT_EQ(found->advertisement.manufacturerData[0].companyId, kMakerCompanyId);
    central_.reset();
    bluez_.reset();
}

// A system bus that accepts and never answers (a stopped dbus-daemon): the
// central's end does not wait for the bus's greeting. In a child held to a
// bound far below how long sd-bus alone would wait.
TEST(BluezCentralSilentBusTest, ABusThatNeverAnswersDoesNotHoldTheCentralsEnd) {
    const auto outcome = testsupport::runInChild(
        [] {
            testsupport::SilentBus silent;
            if (!silent.listening()) return 2;
            ManualExecutor main;
            Recorder recorder;
            {
                BluezCentral central(main, silent.address());
                central.start(recorder);
                // The greeting is under way when the central ends.
                if (!silent.waitForClient(20s)) return 3;
            }
            return 0;
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(outcome.finished) << "the end waited for a bus that never answers";
    EXPECT_EQ(outcome.exitCode, 0);
}

}  // namespace
}  // namespace hollowkit
