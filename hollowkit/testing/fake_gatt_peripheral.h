#pragma once

// FakeGattPeripheral: the device side of a simulated Bluetooth LE peripheral:
// what it advertises, its GATT table, and what it does with the central's
// subscriptions and writes. Transport-neutral: the in-process FakeBleRadio
// hosts it, and so can a fake BlueZ service on a private D-Bus bus. The host
// calls it on one thread (the main executor in tests); it answers through the
// Port it is given while connected.
//
// FakeBleDecoy: an advertiser with no GATT service, for the peripherals a
// scan must pass over.

#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/wireless/ble_central.h"

namespace hollowkit {

class FakeGattPeripheral {
public:
    struct Characteristic {
        BleUuid uuid;
        uint8_t properties = 0;  // BleProperty bits
    };
    struct Service {
        BleUuid uuid;
        std::vector<Characteristic> characteristics;
    };

    // The peripheral's way back to the connected central. Valid from
    // connected() until disconnected().
    class Port {
    public:
        virtual ~Port() = default;
        // A notification value on `characteristic`; delivered only while the
        // central has notifications on for it.
        virtual void notify(const BleUuid& characteristic, Bytes value) = 0;
        // The peripheral drops the connection (out of range, turned off).
        virtual void disconnect(std::optional<BleError> error) = 0;
    };

    virtual ~FakeGattPeripheral() = default;

    virtual BlePeripheral identity() const = 0;
    virtual BleAdvertisement advertisement() const = 0;
    virtual int rssi() const { return -55; }
    // Whether it advertises now (it stops while connected).
    virtual bool advertising() const { return true; }

    // An error refuses the connection.
    virtual std::optional<BleError> connectError() const { return std::nullopt; }
    virtual std::vector<Service> services() const { return {}; }
    virtual void connected(Port&) {}
    virtual void disconnected() {}
    // An error refuses the subscription.
    virtual std::optional<BleError> setNotify(const BleUuid&, bool) { return std::nullopt; }
    // A write from the central; an error fails a write with response.
    virtual std::optional<BleError> write(const BleUuid&, ByteView, BleWriteType) { return std::nullopt; }
};

class FakeBleDecoy final : public FakeGattPeripheral {
public:
    FakeBleDecoy(BlePeripheral identity, BleAdvertisement advertisement, int rssi = -70)
        : identity_(std::move(identity)), advertisement_(std::move(advertisement)), rssi_(rssi) {}

    BlePeripheral identity() const override { return identity_; }
    BleAdvertisement advertisement() const override { return advertisement_; }
    int rssi() const override { return rssi_; }
    void connected(Port&) override { ++connections_; }

    int connections() const { return connections_; }

private:
    BlePeripheral identity_;
    BleAdvertisement advertisement_;
    int rssi_;
    int connections_ = 0;
};

}  // namespace hollowkit
