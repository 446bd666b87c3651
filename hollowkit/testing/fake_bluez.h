#pragma once

// FakeBluez: a stand-in for the BlueZ daemon on a private D-Bus bus, so the
// real BlueZ backend (BluezCentral) can be tested end to end. It owns the
// name "org.bluez" and serves what the backend uses of BlueZ 5: an object
// manager at "/" (GetManagedObjects, InterfacesAdded, InterfacesRemoved), the
// adapter /org/bluez/hci0 (Adapter1: Powered, Discovering,
// SetDiscoveryFilter, StartDiscovery, StopDiscovery), one Device1 per
// peripheral added (Name, Alias, Address, RSSI, ManufacturerData keyed by
// company id, UUIDs, Connected, ServicesResolved; Connect, Disconnect) and,
// while connected, the peripheral's GATT table as GattService1 and
// GattCharacteristic1 objects (Flags, MTU, Value, Notifying; StartNotify,
// StopNotify, WriteValue, AcquireWrite handing out one end of a
// SOCK_SEQPACKET socket pair, as BlueZ does). Property changes are
// PropertiesChanged signals; notifications are changes of Value.
//
// Peripherals are FakeGattPeripheral models (the simulated camera, decoys).
// While discovery runs, each advertising peripheral appears with an RSSI;
// when it stops, the RSSI of unconnected devices is invalidated.
//
// Threads: one D-Bus thread serves the bus. The peripherals are called on
// the executor given (in tests, the test's main executor), never on the D-Bus
// thread; their Port may be used on that executor only. A client that BlueZ
// refuses altogether is the bus policy's business: PrivateDbusDaemon denies
// sending to "org.bluez" when asked. The control methods
// below are called on that executor's thread too; they do their work on the
// D-Bus thread and wait for it (bounded). Destroy the fake on that thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/result.h"
#include "hollowkit/testing/fake_gatt_peripheral.h"

namespace hollowkit {

class FakeBluez {
public:
    enum class AdapterMode : uint8_t {
        none = 0,
        present,           // /org/bluez/hci0
        absent,            // no adapter object at all
        discoveryRefused,  // StartDiscovery answers NotPermitted
    };
    enum class WriteAcquire : uint8_t {
        none = 0,
        socket,       // AcquireWrite hands out a socket (BlueZ's normal way)
        refused,      // WriteAcquired is listed, AcquireWrite fails (NotSupported)
        unavailable,  // neither WriteAcquired nor AcquireWrite exists
    };

    struct Options {
        AdapterMode adapter = AdapterMode::present;
        bool powered = true;
        WriteAcquire writeAcquire = WriteAcquire::socket;
        uint16_t attMtu = 185;
        // SO_SNDBUF of the socket handed out by AcquireWrite; 0 keeps the
        // system's. A small one fills after a few writes.
        int socketBufferBytes = 0;
        // After Connect, GATT discovery (the objects, then ServicesResolved)
        // waits for resolveServices().
        bool holdServicesResolved = false;
    };

    struct PeripheralOptions {
        // Exported from the start without an RSSI: a device BlueZ remembers
        // from an earlier scan.
        bool cached = false;
        // Name as an int32, an extra ManufacturerData entry holding a string:
        // what a client must survive.
        bool malformedProperties = false;
    };

    // One method call (or socket write) BlueZ received.
    struct Call {
        std::string path;
        std::string method;  // "Connect", "WriteValue", "SocketWrite", ...
        std::string detail;  // e.g. "type=request 01 00", "Transport=le"

        bool operator==(const Call&) const = default;
    };

    FakeBluez(Executor& peripherals, Options options);
    explicit FakeBluez(Executor& peripherals) : FakeBluez(peripherals, Options{}) {}
    ~FakeBluez();
    FakeBluez(const FakeBluez&) = delete;
    FakeBluez& operator=(const FakeBluez&) = delete;

    // Connects to the bus at `busAddress`, takes "org.bluez" and exports the
    // adapter. The error says what failed.
    Result<void, std::string> start(const std::string& busAddress);

    // Adds a peripheral in range; returns its Device1 object path. The model
    // must outlive the fake (or be removed first).
    std::string add(FakeGattPeripheral& peripheral, PeripheralOptions options);
    std::string add(FakeGattPeripheral& peripheral) { return add(peripheral, PeripheralOptions{}); }
    // Takes the device away (InterfacesRemoved), ending its connection.
    void remove(const std::string& devicePath);

    void setPowered(bool powered);
    // While held, nothing is read from AcquireWrite sockets, so they fill up.
    void holdSocketWrites(bool hold);
    // Ends GATT discovery of a connected device (holdServicesResolved).
    void resolveServices(const std::string& devicePath);

    std::vector<Call> calls() const;
    size_t count(std::string_view method) const;
    bool discovering() const;
    bool connected(const std::string& devicePath) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace hollowkit
