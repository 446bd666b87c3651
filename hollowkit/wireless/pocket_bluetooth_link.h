#pragma once

// PocketBluetoothLink: the library's Bluetooth LE connection to one camera.
// It scans for the camera's advertisement, connects, finds service FFF0 with
// FFF4 (notify) and FFF5 (write without response), subscribes to both, arms
// the camera with 01 00 written to FFF4, then pairs with the application's
// identifier and (with `wakesWiFi`) fetches the camera's Wi-Fi name and
// password. After that it carries DUML frames both ways: notifications are
// reassembled into frames for the frame handler; outgoing frames go to FFF5,
// queued while the peripheral cannot take them.
//
// Owner: the wireless camera (wakesWiFi on) or the USB camera's battery link
// (off). The link owns its BleCentral. Thread: main executor only; the central
// calls back there, every timer runs there and every event is delivered there
// synchronously through `onEvent`. Failures are `failed` events; the link
// never retries. Destroying the link cancels its timers and drops pending
// reply waiters without calling them.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/camera/duml_frame.h"
#include "hollowkit/wireless/ble_central.h"
#include "hollowkit/wireless/duml_receive_buffer.h"

namespace hollowkit {

class PocketBluetoothLink final : public BleCentralDelegate {
public:
    // What the link reports to its owner.
    struct Event {
        enum class Kind : uint8_t {
            none = 0,
            status,        // `text`: a progress line for the user
            credentials,   // `ssid`, `password`: the camera's Wi-Fi, at most once
            telemetry,     // `frame`: any camera frame that is not a request
            failed,        // `text`: the user-facing sentence
            disconnected,  // the connection ended (or never was)
        };

        Kind kind = Kind::none;
        std::string text;
        std::string ssid;
        std::string password;
        DumlFrame frame;

        bool operator==(const Event&) const = default;

        static Event status(std::string text) { return Event{Kind::status, std::move(text), {}, {}, {}}; }
        static Event failed(std::string text) { return Event{Kind::failed, std::move(text), {}, {}, {}}; }
        static Event credentials(std::string ssid, std::string password) {
            return Event{Kind::credentials, {}, std::move(ssid), std::move(password), {}};
        }
        static Event telemetry(DumlFrame frame) { return Event{Kind::telemetry, {}, {}, {}, std::move(frame)}; }
        static Event disconnected() { return Event{Kind::disconnected, {}, {}, {}, {}}; }
    };

    using EventHandler = std::function<void(const Event&)>;
    // Receives the camera's reply, or nothing on time-out or replacement.
    using ReplyHandler = std::function<void(std::optional<DumlFrame>)>;

    // The camera maker's Bluetooth company id (AA 08 on the air).
    static constexpr uint16_t kMakerCompanyId = 0x08AA;
    static constexpr uint16_t kServiceShortUuid = 0xFFF0;
    static constexpr uint16_t kNotifyShortUuid = 0xFFF4;
    static constexpr uint16_t kWriteShortUuid = 0xFFF5;
    static const BleUuid& serviceUuid();
    static const BleUuid& notifyUuid();
    static const BleUuid& writeUuid();

    static constexpr Duration kScanTimeout = std::chrono::seconds(20);
    static constexpr Duration kPairingRequestDelay = std::chrono::milliseconds(120);
    static constexpr Duration kPairingResendFirst = std::chrono::milliseconds(2500);
    static constexpr Duration kPairingResendSecond = std::chrono::seconds(5);
    static constexpr Duration kPairingTimeout = std::chrono::seconds(60);
    static constexpr Duration kKeepAliveInterval = std::chrono::seconds(1);
    static constexpr Duration kWiFiWakeDelay = std::chrono::milliseconds(100);
    static constexpr Duration kNameQueryDelay = std::chrono::milliseconds(900);
    static constexpr Duration kPasswordQueryDelay = std::chrono::milliseconds(1400);
    static constexpr Duration kCredentialsTimeout = std::chrono::seconds(8);

    PocketBluetoothLink(Executor& main, std::string identifier, bool wakesWiFi);
    ~PocketBluetoothLink() override;
    PocketBluetoothLink(const PocketBluetoothLink&) = delete;
    PocketBluetoothLink& operator=(const PocketBluetoothLink&) = delete;

    // Set by the owner right after construction; events raised while it is
    // empty are dropped. Called synchronously; it may call back into the link
    // (write, request, disconnect) and may destroy the link.
    EventHandler onEvent;

    // Takes the central and starts: everything else follows from the
    // adapter's state reports. A second start replaces the central (the old
    // one reports nothing more).
    void start(std::unique_ptr<BleCentral> central);

    // Sends one frame to FFF5 without response; queued while the peripheral
    // cannot take a write; dropped silently before FFF5 is known.
    void write(const DumlFrame& frame);

    // Sends `frame` and hands the camera's reply with the same command key to
    // `reply`, or nothing when `timeout` passes first or a newer request with
    // the same key replaces this one (then at once). `reply` is called exactly
    // once while the link exists; a time-out acts only on its own request.
    void request(const DumlFrame& frame, Duration timeout, ReplyHandler reply);

    // Ends the connection: the keep-alive and every pairing and credential
    // timer stop, scanning stops, and `disconnected` follows once the
    // connection is down (at once, synchronously, when there was none).
    void disconnect();

    // The advertised name of the camera the link chose, once chosen.
    const std::optional<std::string>& connectedName() const { return connectedName_; }
    const std::string& identifier() const { return identifier_; }
    bool wakesWiFi() const { return wakesWiFi_; }

    // Read-only state, mostly for owners' decisions and tests.
    // The adapter's state as the current central last reported it.
    BleAdapterState adapterState() const { return adapterState_; }
    bool armed() const { return armed_; }
    bool paired() const { return paired_; }
    std::optional<int> pairStatus() const { return pairStatus_; }
    const std::optional<std::string>& ssid() const { return ssid_; }
    const std::optional<std::string>& password() const { return password_; }
    bool credentialsDelivered() const { return credentialsDelivered_; }
    size_t queuedWriteCount() const { return queuedWrites_.size(); }
    size_t pendingRequestCount() const { return waiters_.size(); }

    // The pairing request 07/45 carrying `identifier` and "plix" as
    // length-prefixed texts. Also sent over TCP by the wireless camera's
    // bootstrap. Nothing when the identifier does not fit a length byte.
    static std::optional<DumlFrame> pairingRequestFrame(std::string_view identifier);
    // Wi-Fi wake 53/10, name query 07/07 and password query 07/0E.
    static DumlFrame wifiWakeFrame();
    static DumlFrame wifiNameQueryFrame();
    static DumlFrame wifiPasswordQueryFrame();

    // BleCentralDelegate: called by the central only.
    void centralDidUpdateState(BleAdapterState state) override;
    void centralDidDiscover(const BlePeripheral& peripheral, const BleAdvertisement& advertisement,
                            int rssi) override;
    void centralDidConnect(const BlePeripheralId& peripheral) override;
    void centralDidFailToConnect(const BlePeripheralId& peripheral, const std::optional<BleError>& error) override;
    void centralDidDisconnect(const BlePeripheralId& peripheral, const std::optional<BleError>& error) override;
    void peripheralDidDiscoverServices(const BlePeripheralId& peripheral,
                                       const std::optional<std::vector<BleService>>& services,
                                       const std::optional<BleError>& error) override;
    void peripheralDidDiscoverCharacteristics(const BlePeripheralId& peripheral, const BleService& service,
                                              const std::vector<BleCharacteristic>& characteristics,
                                              const std::optional<BleError>& error) override;
    void peripheralDidUpdateNotificationState(const BlePeripheralId& peripheral,
                                              const BleCharacteristic& characteristic,
                                              const std::optional<BleError>& error) override;
    void peripheralDidWriteValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                                 const std::optional<BleError>& error) override;
    void peripheralDidUpdateValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                                  ByteView value, const std::optional<BleError>& error) override;
    void peripheralIsReadyToSendWriteWithoutResponse(const BlePeripheralId& peripheral) override;

private:
    // Timer closures hold this weakly: it dies with the link.
    struct Anchor {
        PocketBluetoothLink* link;
    };
    struct Waiter {
        uint64_t token = 0;
        TaskId timer = 0;
        ReplyHandler reply;
    };

    // Raises an event; false when the handler destroyed the link.
    bool raise(const Event& event);
    // Runs `step` on the link after `delay`, unless the link is gone by then.
    TaskId after(Duration delay, std::function<void(PocketBluetoothLink&)> step);
    // A pairing or credential step: cancelled by disconnection.
    void afterInSession(Duration delay, std::function<void(PocketBluetoothLink&)> step);
    void cancelSessionTimers();
    bool isPocket(const BlePeripheralId& peripheral) const { return pocket_ && pocket_->id == peripheral; }
    // The chosen camera while its connection is up: GATT reports of a
    // connection that already ended are stale.
    bool isConnectedPocket(const BlePeripheralId& peripheral) const { return connectionUp_ && isPocket(peripheral); }

    void startScan();
    void startPairing();
    void sendPairingRequest();
    void handleFrame(const DumlFrame& frame);
    void wakeCameraWiFi(std::string_view reason);
    void deliverCredentials();
    void flushQueuedWrites();

    Executor& main_;
    std::shared_ptr<Anchor> anchor_;

    std::optional<std::string> connectedName_;
    const std::string identifier_;
    const bool wakesWiFi_;
    std::unique_ptr<BleCentral> central_;
    BleAdapterState adapterState_ = BleAdapterState::unknown;
    std::optional<BlePeripheral> pocket_;
    std::optional<BleCharacteristic> notifyChannel_;
    std::optional<BleCharacteristic> writeChannel_;
    std::set<BleUuid> notifyingCharacteristics_;
    bool armed_ = false;
    bool pairingStarted_ = false;
    std::optional<int> pairStatus_;
    bool paired_ = false;
    std::optional<std::string> ssid_;
    std::optional<std::string> password_;
    bool credentialsDelivered_ = false;
    TaskId keepalive_ = 0;
    std::vector<Bytes> queuedWrites_;
    std::set<BlePeripheralId> ignoredDevices_;
    std::map<std::string, Waiter> waiters_;

    // Set by disconnect() and by the connection's end: no pairing, credential
    // or keep-alive timer starts after it.
    bool ended_ = false;
    bool connectionUp_ = false;
    uint64_t nextWaiterToken_ = 1;
    TaskId scanTimeout_ = 0;
    std::vector<TaskId> sessionTimers_;
    // One per characteristic, so values of FFF4 and FFF5 never interleave.
    std::map<BleUuid, DumlReceiveBuffer> receiveBuffers_;
};

}  // namespace hollowkit
