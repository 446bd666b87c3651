#pragma once

// The bench of the BlueZ backend's end-to-end tests: a private dbus-daemon,
// FakeBluez serving BlueZ's object tree on it, a camera-shaped GATT model,
// and a recorder of what the central reports.

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
#include "hollowkit/wireless/linux/bluez_central.h"

namespace hollowkit::bluez_test {

using namespace std::chrono_literals;

inline const BleUuid kServiceUuid = BleUuid::fromShort(0xFFF0);
inline const BleUuid kNotifyUuid = BleUuid::fromShort(0xFFF4);
inline const BleUuid kWriteUuid = BleUuid::fromShort(0xFFF5);
inline constexpr uint16_t kMakerCompanyId = 0x08AA;

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

}  // namespace hollowkit::bluez_test
