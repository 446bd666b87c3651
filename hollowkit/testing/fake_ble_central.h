#pragma once

// FakeBleRadio and FakeBleCentral: an in-process Bluetooth LE world for
// tests. The radio is the adapter plus the peripherals in range
// (FakeGattPeripheral models such as SimPocketBle and decoys); it makes
// FakeBleCentrals, the BleCentral that the code under test owns. While a
// central scans, every advertising peripheral is reported at once and then
// every advertising interval. Writes without response obey credits the test
// hands out, which stand in for the "ready to send" flow control.
//
// Thread: everything on the one executor given (a ManualExecutor in tests);
// callbacks to the central's delegate are posted there, never re-entrant.
// The radio must outlive its centrals and the peripherals added to it.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/testing/fake_gatt_peripheral.h"
#include "hollowkit/wireless/ble_central.h"

namespace hollowkit {

class FakeBleCentral;

class FakeBleRadio {
public:
    // One write as the central issued it.
    struct Write {
        BlePeripheralId peripheral;
        BleUuid characteristic;
        Bytes value;
        BleWriteType type = BleWriteType::withoutResponse;
        // Sent while the peripheral could not take a write without response:
        // a real stack loses it, so the fake drops it too.
        bool dropped = false;
    };

    explicit FakeBleRadio(Executor& main);
    ~FakeBleRadio();
    FakeBleRadio(const FakeBleRadio&) = delete;
    FakeBleRadio& operator=(const FakeBleRadio&) = delete;

    // The adapter's state; every live central hears each change.
    void setAdapterState(BleAdapterState state);
    BleAdapterState adapterState() const { return state_; }

    // Peripherals in range. Not owned.
    void add(FakeGattPeripheral& peripheral);
    void remove(FakeGattPeripheral& peripheral);
    void setAdvertisingInterval(Duration interval) { advertisingInterval_ = interval; }

    // Flow control of writes without response: without credits (the default)
    // a write can always go out; with credits each write uses one and, at
    // zero, the peripheral cannot take writes until more are granted.
    void limitWriteCredits(int credits);
    void grantWriteCredits(int credits);
    void unlimitWriteCredits();
    void setMaximumWriteLength(size_t bytes) { maximumWriteLength_ = bytes; }
    // How long a central's cancelConnection takes to end the link (BlueZ
    // answers Disconnect asynchronously); zero by default.
    void setDisconnectDelay(Duration delay) { disconnectDelay_ = delay; }

    std::unique_ptr<BleCentral> makeCentral();
    BleCentralFactory factory();

    // Records.
    const std::vector<Write>& writes() const { return writes_; }
    int scanStarts() const { return scanStarts_; }
    bool scanning() const;
    int connectAttempts() const { return connectAttempts_; }
    int cancelConnections() const { return cancelConnections_; }
    bool connected(const BlePeripheralId& peripheral) const;

private:
    friend class FakeBleCentral;
    struct Core;
    struct Connection;
    class ConnectionPort;

    FakeGattPeripheral* find(const BlePeripheralId& id) const;
    Connection* connectionOf(const BlePeripheralId& id);
    const Connection* connectionOf(const BlePeripheralId& id) const;
    void post(const std::weak_ptr<Core>& core, std::function<void(BleCentralDelegate&)> callback);
    void advertiseTo(const std::shared_ptr<Core>& core);
    void advertiseRound();
    void updateAdvertisingTimer();
    // Ends a connection on the device side; the central hears it from the
    // caller.
    void tearDown(const BlePeripheralId& id);
    bool canSend() const { return !credits_ || *credits_ > 0; }
    // Tells every connected central that writes can go out again.
    void announceReady();

    void start(Core& core, BleCentralDelegate& delegate);
    void scan(Core& core);
    void stopScan(Core& core);
    void connect(Core& core, const BlePeripheralId& id);
    void cancelConnection(Core& core, const BlePeripheralId& id);
    void discoverServices(Core& core, const BlePeripheralId& id, const std::vector<BleUuid>& uuids);
    void discoverCharacteristics(Core& core, const BlePeripheralId& id, const BleService& service,
                                 const std::vector<BleUuid>& uuids);
    void setNotifyValue(Core& core, const BlePeripheralId& id, const BleCharacteristic& characteristic,
                        bool enabled);
    void writeValue(Core& core, const BlePeripheralId& id, const BleCharacteristic& characteristic, ByteView value,
                    BleWriteType type);
    void centralGone(Core& core);

    Executor& main_;
    BleAdapterState state_ = BleAdapterState::poweredOn;
    std::vector<FakeGattPeripheral*> peripherals_;
    std::vector<std::weak_ptr<Core>> centrals_;
    std::vector<std::unique_ptr<Connection>> connections_;
    Duration advertisingInterval_ = std::chrono::seconds(1);
    TaskId advertisingTimer_ = 0;
    std::optional<int> credits_;
    size_t maximumWriteLength_ = 244;
    Duration disconnectDelay_{};
    uint64_t nextConnection_ = 1;

    std::vector<Write> writes_;
    int scanStarts_ = 0;
    int connectAttempts_ = 0;
    int cancelConnections_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The BleCentral of the fake radio; made by FakeBleRadio::makeCentral().
class FakeBleCentral final : public BleCentral {
public:
    ~FakeBleCentral() override;

    void start(BleCentralDelegate& delegate) override;
    BleAdapterState state() const override;
    void scanForPeripherals() override;
    void stopScan() override;
    void connect(const BlePeripheralId& peripheral) override;
    void cancelConnection(const BlePeripheralId& peripheral) override;
    void discoverServices(const BlePeripheralId& peripheral, const std::vector<BleUuid>& uuids) override;
    void discoverCharacteristics(const BlePeripheralId& peripheral, const BleService& service,
                                 const std::vector<BleUuid>& uuids) override;
    void setNotifyValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                        bool enabled) override;
    void writeValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic, ByteView value,
                    BleWriteType type) override;
    bool canSendWriteWithoutResponse(const BlePeripheralId& peripheral) const override;
    size_t maximumWriteValueLength(const BlePeripheralId& peripheral, BleWriteType type) const override;

private:
    friend class FakeBleRadio;
    FakeBleCentral(FakeBleRadio& radio, std::shared_ptr<FakeBleRadio::Core> core)
        : radio_(radio), core_(std::move(core)) {}

    FakeBleRadio& radio_;
    std::shared_ptr<FakeBleRadio::Core> core_;
};

}  // namespace hollowkit
