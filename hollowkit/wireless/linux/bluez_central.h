#pragma once

// BluezCentral: the BleCentral of Linux, BlueZ 5 over D-Bus.
//
// It watches the first adapter that BlueZ's object manager lists, scans with
// an LE discovery filter, reports every Device1 that carries a fresh
// advertisement (one with an RSSI; cached devices without one are not
// reported), connects, waits for ServicesResolved before answering service
// discovery, subscribes with StartNotify and turns Value changes into
// notifications. Writes with response are WriteValue {type: "request"};
// writes without response go through the socket of AcquireWrite (or, when
// BlueZ offers none, WriteValue {type: "command"}), and a socket that would
// block stands in for Core Bluetooth's "cannot send now".
//
// Adapter states: no bus, no BlueZ or no adapter → unsupported; Powered false
// → poweredOff; an AccessDenied or NotPermitted answer from BlueZ →
// unauthorized. D-Bus errors of calls reach the delegate as BleError with
// BlueZ's message.
//
// Threads: the central owns one thread, "HollowKit.BlueZ", which alone
// touches the D-Bus connection, every proxy and every acquired socket, and
// runs all D-Bus calls asynchronously so a slow Connect never stalls it. The
// BleCentral methods are called on the main executor only; they post commands
// to that thread and never wait for it. What the thread learns is posted back
// to the main executor, where the delegate is called, in order, never under a
// lock and never after the central is destroyed. The destructor (main
// executor) stops and joins the thread; peripherals it connected are
// disconnected and a scan it started is stopped on the way out.

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "hollowkit/wireless/ble_central.h"
#include "hollowkit/wireless/repeat_log.h"

namespace hollowkit {

class Executor;

class BluezCentral final : public BleCentral {
public:
    // Writes without response that may be on their way to BlueZ at once;
    // beyond this canSendWriteWithoutResponse() is false until one has gone.
    static constexpr int kWriteCredits = 8;
    // The longest value of a write with response (BlueZ uses long writes).
    static constexpr size_t kMaximumWriteWithResponseLength = 512;

    // `busAddress`: a D-Bus address to use instead of the system bus (tests
    // hand in a private bus). Empty: the system bus, which sd-bus takes from
    // DBUS_SYSTEM_BUS_ADDRESS when that is set. `repeats` logs the failures
    // to reach BlueZ, once for every central sharing it; none: one of its own.
    explicit BluezCentral(Executor& main, std::string busAddress = {}, std::shared_ptr<RepeatLog> repeats = nullptr);
    ~BluezCentral() override;

    BluezCentral(const BluezCentral&) = delete;
    BluezCentral& operator=(const BluezCentral&) = delete;

    // A factory for owners: every central it makes talks to `busAddress` and
    // shares `repeats` (none: one made for the factory).
    static BleCentralFactory factory(std::string busAddress = {}, std::shared_ptr<RepeatLog> repeats = nullptr);

    // BleCentral (main executor only).
    void start(BleCentralDelegate& delegate) override;
    BleAdapterState state() const override { return state_; }
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
    class Engine;  // the D-Bus thread's side (bluez_central_engine.h)

    // What the main executor knows of one peripheral's writes.
    struct WriteWindow {
        int inFlight = 0;              // writes without response not yet gone to BlueZ
        bool waitingForReady = false;  // canSend turned false; owe a "ready to send"
        size_t attMtu = 0;             // 0 until BlueZ tells
    };

    // Main executor only: called from tasks the engine posts.
    void deliverState(BleAdapterState state);
    void deliverWritesGone(const BlePeripheralId& peripheral, int count);
    void deliverMtu(const BlePeripheralId& peripheral, size_t attMtu);

    Executor& main_;
    // Main executor only.
    BleCentralDelegate* delegate_ = nullptr;
    BleAdapterState state_ = BleAdapterState::unknown;
    std::map<BlePeripheralId, WriteWindow> windows_;
    // Read and cleared on the main executor only; posted tasks hold a copy
    // and do nothing once it is false.
    std::shared_ptr<bool> alive_;
    std::unique_ptr<Engine> engine_;  // last: its thread may post until it is gone
};

}  // namespace hollowkit
