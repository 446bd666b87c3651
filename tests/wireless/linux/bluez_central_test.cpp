// BluezCentral end to end: the real backend over a private dbus-daemon,
// against FakeBluez serving BlueZ's object tree on that bus.

#include "hollowkit/wireless/linux/bluez_central.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/testing/fake_bluez.h"
#include "hollowkit/testing/fake_gatt_peripheral.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/private_dbus_daemon.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "hollowkit/testing/test_support.h"
#include "hollowkit/wireless/pocket_bluetooth_link.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::LogCapture;

const BleUuid kServiceUuid = BleUuid::fromShort(0xFFF0);
const BleUuid kNotifyUuid = BleUuid::fromShort(0xFFF4);
const BleUuid kWriteUuid = BleUuid::fromShort(0xFFF5);
constexpr uint16_t kMakerCompanyId = 0x08AA;

// A camera-shaped GATT model: FFF0 with FFF4 (notify, write) and FFF5 (write
// without response, notify), behind an unrelated service. What is written to
// FFF5 comes back as a notification on FFF4.
class EchoPeripheral final : public FakeGattPeripheral {
public:
    std::optional<std::string> name = std::string("OsmoPocket3");
    Bytes makerData{0x01, 0x02, 0x03};
    std::optional<std::string> refuseConnection;
    std::optional<std::string> refuseNotify;
    bool dropOnWriteWithResponse = false;

    struct Write {
        BleUuid characteristic;
        Bytes value;
        BleWriteType type;
    };
    std::vector<Write> writes;
    int disconnections = 0;

    BlePeripheral identity() const override { return BlePeripheral{"echo", name}; }
    BleAdvertisement advertisement() const override {
        BleAdvertisement advertisement;
        advertisement.localName = name;
        advertisement.manufacturerData.push_back(BleManufacturerData{kMakerCompanyId, makerData});
        return advertisement;
    }
    int rssi() const override { return -48; }
    std::optional<BleError> connectError() const override {
        if (refuseConnection) return BleError{*refuseConnection};
        return std::nullopt;
    }
    std::vector<Service> services() const override {
        return {Service{BleUuid::fromShort(0x180A), {{BleUuid::fromShort(0x2A29), BleProperty::kRead}}},
                Service{kServiceUuid,
                        {{kNotifyUuid, BleProperty::kNotify | BleProperty::kWrite},
                         {kWriteUuid, BleProperty::kWriteWithoutResponse | BleProperty::kNotify}}}};
    }
    void connected(Port& port) override { port_ = &port; }
    void disconnected() override {
        port_ = nullptr;
        ++disconnections;
    }
    std::optional<BleError> setNotify(const BleUuid&, bool) override {
        if (refuseNotify) return BleError{*refuseNotify};
        return std::nullopt;
    }
    std::optional<BleError> write(const BleUuid& characteristic, ByteView value, BleWriteType type) override {
        writes.push_back(Write{characteristic, Bytes(value.begin(), value.end()), type});
        if (type == BleWriteType::withResponse && dropOnWriteWithResponse && port_) {
            port_->disconnect(BleError{"gone"});
        }
        if (characteristic == kWriteUuid && port_) port_->notify(kNotifyUuid, Bytes(value.begin(), value.end()));
        return std::nullopt;
    }

    std::vector<Bytes> writesTo(const BleUuid& characteristic) const {
        std::vector<Bytes> values;
        for (const auto& write : writes) {
            if (write.characteristic == characteristic) values.push_back(write.value);
        }
        return values;
    }

private:
    Port* port_ = nullptr;
};

// Records what the central reports, as one ordered log plus the details.
class Recorder final : public BleCentralDelegate {
public:
    struct Discovery {
        BlePeripheral peripheral;
        BleAdvertisement advertisement;
        int rssi;
    };

    std::vector<std::string> log;
    std::vector<BleAdapterState> states;
    std::vector<Discovery> discoveries;
    std::vector<BleService> services;
    std::vector<BleCharacteristic> characteristics;
    std::vector<Bytes> values;
    int readyToSend = 0;

    static std::string describe(const std::optional<BleError>& error) { return error ? error->description : "ok"; }

    void centralDidUpdateState(BleAdapterState state) override {
        states.push_back(state);
        log.push_back(std::string("state ") + toString(state));
    }
    void centralDidDiscover(const BlePeripheral& peripheral, const BleAdvertisement& advertisement,
                            int rssi) override {
        discoveries.push_back(Discovery{peripheral, advertisement, rssi});
    }
    void centralDidConnect(const BlePeripheralId&) override { log.push_back("connected"); }
    void centralDidFailToConnect(const BlePeripheralId&, const std::optional<BleError>& error) override {
        log.push_back("failed to connect: " + describe(error));
    }
    void centralDidDisconnect(const BlePeripheralId&, const std::optional<BleError>& error) override {
        log.push_back("disconnected: " + (error ? error->description : std::string("clean")));
    }
    void peripheralDidDiscoverServices(const BlePeripheralId&, const std::optional<std::vector<BleService>>& found,
                                       const std::optional<BleError>&) override {
        services = found.value_or(std::vector<BleService>{});
        log.push_back("services " + std::to_string(services.size()));
    }
    void peripheralDidDiscoverCharacteristics(const BlePeripheralId&, const BleService&,
                                              const std::vector<BleCharacteristic>& found,
                                              const std::optional<BleError>& error) override {
        characteristics = found;
        log.push_back("characteristics " + std::to_string(found.size()) + " " + describe(error));
    }
    void peripheralDidUpdateNotificationState(const BlePeripheralId&, const BleCharacteristic& characteristic,
                                              const std::optional<BleError>& error) override {
        log.push_back("notify " + characteristic.uuid.text.substr(4, 4) + " " + describe(error));
    }
    void peripheralDidWriteValue(const BlePeripheralId&, const BleCharacteristic& characteristic,
                                 const std::optional<BleError>& error) override {
        log.push_back("wrote " + characteristic.uuid.text.substr(4, 4) + " " + describe(error));
    }
    void peripheralDidUpdateValue(const BlePeripheralId&, const BleCharacteristic& characteristic, ByteView value,
                                  const std::optional<BleError>&) override {
        if (characteristic.uuid == kNotifyUuid) values.emplace_back(value.begin(), value.end());
    }
    void peripheralIsReadyToSendWriteWithoutResponse(const BlePeripheralId&) override { ++readyToSend; }

    bool logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
    const Discovery* discovered(const BlePeripheralId& id) const {
        for (const auto& discovery : discoveries) {
            if (discovery.peripheral.id == id) return &discovery;
        }
        return nullptr;
    }
};

class BluezCentralTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateDbusDaemon::program()) {
            GTEST_SKIP() << "no dbus-daemon on this machine: the BlueZ backend is not tested end to end";
        }
        startDaemon();
    }

    void startDaemon(const std::vector<std::string>& refusedDestinations = {}) {
        daemon_ = std::make_unique<PrivateDbusDaemon>();
        auto started = daemon_->start(refusedDestinations);
        ASSERT_TRUE(started) << started.error();
    }

    // A clean world for the next case of a table: a new bus, so no name or
    // object of the last case lingers.
    void restart(const std::vector<std::string>& refusedDestinations = {}) {
        central_.reset();
        bluez_.reset();
        recorder_ = Recorder{};
        camera_.writes.clear();
        startDaemon(refusedDestinations);
    }

    void startBluez(FakeBluez::Options options = {}) {
        bluez_ = std::make_unique<FakeBluez>(main_, options);
        auto started = bluez_->start(daemon_->address());
        ASSERT_TRUE(started) << started.error();
    }

    void startCentral() {
        central_ = std::make_unique<BluezCentral>(main_, daemon_->address());
        central_->start(recorder_);
    }

    // Runs the main executor until `done` holds (bounded).
    bool waitFor(const std::function<bool()>& done) { return main_.waitFor(done, 10s); }
    bool waitForLog(const std::string& line) {
        return waitFor([&] { return recorder_.logged(line); });
    }

    // Powered adapter, camera and decoy in range, the central scanning and
    // then connected to the camera with both notifications on.
    void connectCamera(FakeBluez::Options options = {}) {
        startBluez(options);
        cameraPath_ = bluez_->add(camera_);
        startCentral();
        ASSERT_TRUE(waitForLog("state poweredOn"));
        central_->scanForPeripherals();
        ASSERT_TRUE(waitFor([&] { return recorder_.discovered(cameraPath_) != nullptr; }));
        central_->stopScan();
        central_->connect(cameraPath_);
        ASSERT_TRUE(waitForLog("connected"));
        central_->discoverServices(cameraPath_, {kServiceUuid});
        ASSERT_TRUE(waitForLog("services 1"));
        central_->discoverCharacteristics(cameraPath_, recorder_.services[0], {kNotifyUuid, kWriteUuid});
        ASSERT_TRUE(waitForLog("characteristics 2 ok"));
        notify_ = recorder_.characteristics[0];
        write_ = recorder_.characteristics[1];
        central_->setNotifyValue(cameraPath_, notify_, true);
        central_->setNotifyValue(cameraPath_, write_, true);
        ASSERT_TRUE(waitFor([&] { return recorder_.logged("notify fff4 ok") && recorder_.logged("notify fff5 ok"); }));
    }

    // For flows that also run timers: each step lets D-Bus traffic arrive
    // for a moment of real time, then moves virtual time on by 10 ms.
    bool pump(const std::function<bool()>& done, Duration virtualLimit = std::chrono::seconds(20)) {
        for (Duration spent{}; spent <= virtualLimit; spent += 10ms) {
            if (main_.waitFor(done, 5ms)) return true;
            main_.advance(10ms);
        }
        return done();
    }

    std::vector<std::string> detailsOf(const std::string& method) const {
        std::vector<std::string> details;
        for (const auto& call : bluez_->calls()) {
            if (call.method == method) details.push_back(call.detail);
        }
        return details;
    }

    // Destroyed in reverse: the central first, the fake before its models.
    ManualExecutor main_;
    std::unique_ptr<PrivateDbusDaemon> daemon_;
    EchoPeripheral camera_;
    Recorder recorder_;
    std::unique_ptr<FakeBluez> bluez_;
    std::unique_ptr<BluezCentral> central_;
    std::string cameraPath_;
    BleCharacteristic notify_;
    BleCharacteristic write_;
};

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
