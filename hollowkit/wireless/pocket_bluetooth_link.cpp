#include "hollowkit/wireless/pocket_bluetooth_link.h"

#include <algorithm>
#include <cctype>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_text.h"

namespace hollowkit {
namespace {

constexpr uint8_t kPairingStatusPaired = 1;
constexpr uint8_t kPairingStatusWaiting = 2;

bool containsPocket(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("pocket") != std::string::npos;
}

std::string describe(const std::optional<BleError>& error, std::string_view fallback) {
    return error ? error->description : std::string(fallback);
}

}  // namespace

const BleUuid& PocketBluetoothLink::serviceUuid() {
    static const BleUuid uuid = BleUuid::fromShort(kServiceShortUuid);
    return uuid;
}

const BleUuid& PocketBluetoothLink::notifyUuid() {
    static const BleUuid uuid = BleUuid::fromShort(kNotifyShortUuid);
    return uuid;
}

const BleUuid& PocketBluetoothLink::writeUuid() {
    static const BleUuid uuid = BleUuid::fromShort(kWriteShortUuid);
    return uuid;
}

std::optional<DumlFrame> PocketBluetoothLink::pairingRequestFrame(std::string_view identifier) {
    auto id = lengthPrefixedString(identifier);
    auto tag = lengthPrefixedString("plix");
    if (!id.has_value() || !tag.has_value()) {
        return std::nullopt;
    }
    Bytes payload = std::move(id).value();
    payload.insert(payload.end(), tag.value().begin(), tag.value().end());
    return DumlFrame::makeRequest(0x0702, 0x8092, 0x07, 0x45, std::move(payload));
}

DumlFrame PocketBluetoothLink::wifiWakeFrame() {
    return DumlFrame::makeRequest(0x1C02, 0x8053, 0x53, 0x10, Bytes{0x00, 0x00, 0x00, 0x00});
}

DumlFrame PocketBluetoothLink::wifiNameQueryFrame() {
    return DumlFrame::makeRequest(0x0702, 0x8007, 0x07, 0x07, {});
}

DumlFrame PocketBluetoothLink::wifiPasswordQueryFrame() {
    return DumlFrame::makeRequest(0x0702, 0x800E, 0x07, 0x0E, {});
}

PocketBluetoothLink::PocketBluetoothLink(Executor& main, std::string identifier, bool wakesWiFi)
    : main_(main),
      anchor_(std::make_shared<Anchor>(Anchor{this})),
      identifier_(std::move(identifier)),
      wakesWiFi_(wakesWiFi) {}

PocketBluetoothLink::~PocketBluetoothLink() {
    // The central goes first so that nothing reports into a half-destroyed
    // link; closures already queued find the anchor empty.
    anchor_->link = nullptr;
    central_.reset();
    main_.cancel(scanTimeout_);
    main_.cancel(keepalive_);
    for (TaskId id : sessionTimers_) main_.cancel(id);
    for (auto& [key, waiter] : waiters_) main_.cancel(waiter.timer);
}

bool PocketBluetoothLink::raise(const Event& event) {
    // Once the link is ending, a set-up step that fails on its way down is no
    // news: the owner asked for the end or is about to hear "disconnected".
    if (!onEvent || (ended_ && event.kind == Event::Kind::failed)) {
        return true;
    }
    std::weak_ptr<Anchor> guard = anchor_;
    EventHandler handler = onEvent;  // the handler may replace onEvent
    handler(event);
    auto anchor = guard.lock();
    return anchor && anchor->link != nullptr;
}

TaskId PocketBluetoothLink::after(Duration delay, std::function<void(PocketBluetoothLink&)> step) {
    std::weak_ptr<Anchor> weak = anchor_;
    return main_.after(delay, [weak, step = std::move(step)] {
        auto anchor = weak.lock();
        if (anchor && anchor->link) step(*anchor->link);
    });
}

void PocketBluetoothLink::afterInSession(Duration delay, std::function<void(PocketBluetoothLink&)> step) {
    if (ended_) {
        return;
    }
    sessionTimers_.push_back(after(delay, std::move(step)));
}

void PocketBluetoothLink::cancelSessionTimers() {
    main_.cancel(keepalive_);
    keepalive_ = 0;
    for (TaskId id : sessionTimers_) main_.cancel(id);
    sessionTimers_.clear();
}

// MARK: Owner operations

void PocketBluetoothLink::start(std::unique_ptr<BleCentral> central) {
    central_ = std::move(central);
    adapterState_ = BleAdapterState::unknown;
    if (central_) {
        central_->start(*this);
    }
}

void PocketBluetoothLink::write(const DumlFrame& frame) {
    if (!pocket_ || !writeChannel_ || !central_) {
        return;
    }
    auto wire = frame.encoded();
    if (!wire.has_value()) {
        PocketLog::logf("Bluetooth write dropped: %s %s", frame.commandKey().c_str(), userMessage(wire.error()));
        return;
    }
    const size_t limit = central_->maximumWriteValueLength(pocket_->id, BleWriteType::withoutResponse);
    if (limit > 0 && wire.value().size() > limit) {
        PocketLog::logf("Bluetooth frame %s of %zu bytes exceeds the write limit of %zu bytes",
                        frame.commandKey().c_str(), wire.value().size(), limit);
    }
    // Anything already waiting goes first, or the order would break.
    if (queuedWrites_.empty() && central_->canSendWriteWithoutResponse(pocket_->id)) {
        central_->writeValue(pocket_->id, *writeChannel_, wire.value(), BleWriteType::withoutResponse);
        return;
    }
    queuedWrites_.push_back(std::move(wire).value());
    flushQueuedWrites();
}

void PocketBluetoothLink::request(const DumlFrame& frame, Duration timeout, ReplyHandler reply) {
    const std::string key = frame.commandKey();
    std::weak_ptr<Anchor> guard = anchor_;
    // A waiter under the key is replaced: it hears nothing more. Its handler
    // may itself make a request with this key, which is replaced in turn, so
    // every waiter is called exactly once.
    for (auto it = waiters_.find(key); it != waiters_.end(); it = waiters_.find(key)) {
        Waiter old = std::move(it->second);
        waiters_.erase(it);
        main_.cancel(old.timer);
        if (old.reply) old.reply(std::nullopt);
        auto anchor = guard.lock();
        if (!anchor || !anchor->link) return;
    }
    Waiter waiter;
    waiter.token = nextWaiterToken_++;
    waiter.reply = std::move(reply);
    // The time-out acts on this waiter only, never on a newer one that took
    // the key after this one was answered or replaced.
    waiter.timer = after(timeout, [key, token = waiter.token](PocketBluetoothLink& link) {
        auto found = link.waiters_.find(key);
        if (found == link.waiters_.end() || found->second.token != token) return;
        Waiter expired = std::move(found->second);
        link.waiters_.erase(found);
        if (expired.reply) expired.reply(std::nullopt);
    });
    waiters_[key] = std::move(waiter);
    write(frame);
}

void PocketBluetoothLink::disconnect() {
    ended_ = true;
    cancelSessionTimers();
    // A scan time-out after a disconnect would be a stale failure.
    main_.cancel(scanTimeout_);
    scanTimeout_ = 0;
    if (central_) {
        central_->stopScan();
    }
    if (central_ && pocket_) {
        central_->cancelConnection(pocket_->id);
    } else {
        raise(Event::disconnected());
    }
}

void PocketBluetoothLink::flushQueuedWrites() {
    size_t sent = 0;
    while (sent < queuedWrites_.size() && pocket_ && writeChannel_ && central_ &&
           central_->canSendWriteWithoutResponse(pocket_->id)) {
        central_->writeValue(pocket_->id, *writeChannel_, queuedWrites_[sent], BleWriteType::withoutResponse);
        ++sent;
    }
    queuedWrites_.erase(queuedWrites_.begin(), queuedWrites_.begin() + static_cast<std::ptrdiff_t>(sent));
}

// MARK: Central

void PocketBluetoothLink::centralDidUpdateState(BleAdapterState state) {
    adapterState_ = state;
    switch (state) {
    case BleAdapterState::unauthorized:
        raise(Event::failed("Bluetooth permission was denied"));
        break;
    case BleAdapterState::poweredOff:
        raise(Event::failed("Bluetooth is turned off"));
        break;
    case BleAdapterState::unsupported:
        // Otherwise a machine without an adapter would wait in silence.
        raise(Event::failed("No Bluetooth adapter found"));
        break;
    case BleAdapterState::poweredOn:
        startScan();
        break;
    case BleAdapterState::unknown:
    case BleAdapterState::resetting:
        break;
    }
}

void PocketBluetoothLink::startScan() {
    // The adapter may report itself on only after the owner ended the link
    // (a stop right after start): no scan, and no status after the end.
    if (ended_) {
        return;
    }
    if (!raise(Event::status("Looking for the camera over Bluetooth")) || !central_) {
        return;
    }
    central_->scanForPeripherals();
    // Each scan has its own time-out; an earlier scan's must not cut this one
    // short after the adapter was switched off and on.
    main_.cancel(scanTimeout_);
    scanTimeout_ = after(kScanTimeout, [](PocketBluetoothLink& link) {
        link.scanTimeout_ = 0;
        if (link.pocket_) return;
        if (link.central_) link.central_->stopScan();
        link.raise(Event::failed("No DJI Pocket found nearby. Is it turned on?"));
    });
}

void PocketBluetoothLink::centralDidDiscover(const BlePeripheral& peripheral, const BleAdvertisement& advertisement,
                                             int rssi) {
    if (pocket_ || ended_) {
        return;
    }
    if (advertisement.manufacturer(kMakerCompanyId) == nullptr) {
        return;
    }
    std::string name = advertisement.localName.value_or(peripheral.name.value_or(std::string()));
    if (!containsPocket(name)) {
        if (ignoredDevices_.insert(peripheral.id).second) {
            PocketLog::log("Ignoring DJI device " + (name.empty() ? std::string("(unnamed)") : name));
        }
        return;
    }
    PocketLog::logf("Found %s rssi=%d", name.c_str(), rssi);
    connectedName_ = name;
    if (!raise(Event::status("Connecting to " + name)) || pocket_ || ended_) {
        return;
    }
    pocket_ = peripheral;
    main_.cancel(scanTimeout_);
    scanTimeout_ = 0;
    if (central_) {
        central_->stopScan();
        central_->connect(peripheral.id);
    }
}

void PocketBluetoothLink::centralDidConnect(const BlePeripheralId& peripheral) {
    if (!isPocket(peripheral) || !central_ || ended_) {
        return;
    }
    connectionUp_ = true;
    central_->discoverServices(peripheral, {serviceUuid()});
}

void PocketBluetoothLink::centralDidFailToConnect(const BlePeripheralId& peripheral,
                                                  const std::optional<BleError>& error) {
    if (!isPocket(peripheral)) {
        return;
    }
    raise(Event::failed("Bluetooth connection failed: " + describe(error, "unknown")));
}

void PocketBluetoothLink::centralDidDisconnect(const BlePeripheralId& peripheral,
                                               const std::optional<BleError>& error) {
    if (!isPocket(peripheral)) {
        return;
    }
    ended_ = true;
    connectionUp_ = false;
    cancelSessionTimers();
    receiveBuffers_.clear();
    PocketLog::log("Bluetooth disconnected: " + describe(error, "clean"));
    raise(Event::disconnected());
}

// MARK: GATT set-up

void PocketBluetoothLink::peripheralDidDiscoverServices(const BlePeripheralId& peripheral,
                                                        const std::optional<std::vector<BleService>>& services,
                                                        const std::optional<BleError>&) {
    if (!isConnectedPocket(peripheral) || !central_) {
        return;
    }
    if (services) {
        for (const BleService& service : *services) {
            if (service.uuid == serviceUuid()) {
                central_->discoverCharacteristics(peripheral, service, {notifyUuid(), writeUuid()});
                return;
            }
        }
    }
    raise(Event::failed("Camera Bluetooth service not found"));
}

void PocketBluetoothLink::peripheralDidDiscoverCharacteristics(const BlePeripheralId& peripheral,
                                                               const BleService&,
                                                               const std::vector<BleCharacteristic>& characteristics,
                                                               const std::optional<BleError>&) {
    if (!isConnectedPocket(peripheral) || !central_) {
        return;
    }
    auto first = [&](const BleUuid& uuid) -> std::optional<BleCharacteristic> {
        for (const auto& characteristic : characteristics) {
            if (characteristic.uuid == uuid) return characteristic;
        }
        return std::nullopt;
    };
    notifyChannel_ = first(notifyUuid());
    writeChannel_ = first(writeUuid());
    if (!notifyChannel_ || !writeChannel_) {
        raise(Event::failed("Camera Bluetooth characteristics not found"));
        return;
    }
    central_->setNotifyValue(peripheral, *notifyChannel_, true);
    central_->setNotifyValue(peripheral, *writeChannel_, true);
}

void PocketBluetoothLink::peripheralDidUpdateNotificationState(const BlePeripheralId& peripheral,
                                                               const BleCharacteristic& characteristic,
                                                               const std::optional<BleError>& error) {
    if (!isConnectedPocket(peripheral)) {
        return;
    }
    if (error) {
        raise(Event::failed("Bluetooth notify failed: " + error->description));
        return;
    }
    notifyingCharacteristics_.insert(characteristic.uuid);
    if (notifyingCharacteristics_.count(notifyUuid()) && notifyingCharacteristics_.count(writeUuid()) && !armed_ &&
        notifyChannel_ && central_) {
        armed_ = true;
        const Bytes arm{0x01, 0x00};
        central_->writeValue(peripheral, *notifyChannel_, arm, BleWriteType::withResponse);
    }
}

void PocketBluetoothLink::peripheralDidWriteValue(const BlePeripheralId& peripheral,
                                                  const BleCharacteristic& characteristic,
                                                  const std::optional<BleError>& error) {
    if (!isConnectedPocket(peripheral) || characteristic.uuid != notifyUuid()) {
        return;
    }
    if (error) {
        raise(Event::failed("Bluetooth arm write failed: " + error->description));
        return;
    }
    if (!pairingStarted_) {
        pairingStarted_ = true;
        startPairing();
    }
}

void PocketBluetoothLink::peripheralDidUpdateValue(const BlePeripheralId& peripheral,
                                                   const BleCharacteristic& characteristic, ByteView value,
                                                   const std::optional<BleError>&) {
    if (!isConnectedPocket(peripheral) || value.empty()) {
        return;
    }
    std::vector<DumlFrame> frames = receiveBuffers_[characteristic.uuid].push(value);
    std::weak_ptr<Anchor> guard = anchor_;
    for (const DumlFrame& frame : frames) {
        handleFrame(frame);
        auto anchor = guard.lock();
        if (!anchor || !anchor->link) return;
    }
}

void PocketBluetoothLink::peripheralIsReadyToSendWriteWithoutResponse(const BlePeripheralId& peripheral) {
    if (isConnectedPocket(peripheral)) {
        flushQueuedWrites();
    }
}

// MARK: Pairing and Wi-Fi credentials

void PocketBluetoothLink::startPairing() {
    write(DumlConstants::pairingFrame());
    afterInSession(kPairingRequestDelay, [](PocketBluetoothLink& link) { link.sendPairingRequest(); });
    for (Duration delay : {kPairingResendFirst, kPairingResendSecond}) {
        afterInSession(delay, [](PocketBluetoothLink& link) {
            if (!link.pairStatus_ && !link.paired_) link.sendPairingRequest();
        });
    }
    afterInSession(kPairingTimeout, [](PocketBluetoothLink& link) {
        if (!link.paired_) link.raise(Event::failed("Pairing was not approved on the camera"));
    });
}

void PocketBluetoothLink::sendPairingRequest() {
    auto frame = pairingRequestFrame(identifier_);
    if (!frame) {
        PocketLog::log("Pairing identifier is too long to send");
        return;
    }
    write(*frame);
}

void PocketBluetoothLink::handleFrame(const DumlFrame& frame) {
    const std::string key = frame.commandKey();
    std::weak_ptr<Anchor> guard = anchor_;
    auto alive = [&guard] {
        auto anchor = guard.lock();
        return anchor && anchor->link != nullptr;
    };

    if (frame.isReply()) {
        auto it = waiters_.find(key);
        if (it != waiters_.end()) {
            Waiter waiter = std::move(it->second);
            waiters_.erase(it);
            main_.cancel(waiter.timer);
            if (waiter.reply) waiter.reply(frame);
            if (!alive()) return;
        }
    }
    if (frame.flags == DumlFrame::kRequestFlags) {
        write(DumlFrame::makeReply(frame, frame.payload));
        if (key == "07/46") {
            wakeCameraWiFi("approved on camera");
        }
        return;
    }
    if (!raise(Event::telemetry(frame))) {
        return;
    }

    if (key == "07/45") {
        if (frame.payload.size() >= 2) {
            const uint8_t status = frame.payload[1];
            pairStatus_ = status;
            if (status == kPairingStatusWaiting) {
                raise(Event::status("Approve the pairing on the camera screen"));
            } else if (status == kPairingStatusPaired) {
                wakeCameraWiFi("already paired");
            } else {
                PocketLog::logf("Pairing status 0x%02X", status);
            }
        } else {
            pairStatus_ = -1;
            PocketLog::log("Pairing status -1 (short reply)");
        }
    } else if (key == "07/07") {
        ssid_ = asciiString(frame.payload);
        PocketLog::log("Camera SSID: " + ssid_.value_or("unparsed"));
        deliverCredentials();
    } else if (key == "07/0E") {
        password_ = asciiString(frame.payload);
        PocketLog::logf("Camera Wi-Fi password received (%zu chars)", password_ ? password_->size() : size_t{0});
        deliverCredentials();
    } else if (key == "53/10") {
        PocketLog::log("Camera Wi-Fi wake reply " + hexString(frame.payload, " "));
    }
}

void PocketBluetoothLink::wakeCameraWiFi(std::string_view reason) {
    if (paired_) {
        return;
    }
    paired_ = true;
    std::string text = "Paired (" + std::string(reason) + (wakesWiFi_ ? "), waking camera Wi-Fi" : ")");
    if (!raise(Event::status(std::move(text))) || ended_) {
        return;
    }
    std::weak_ptr<Anchor> weak = anchor_;
    main_.cancel(keepalive_);
    keepalive_ = main_.every(kKeepAliveInterval, [weak] {
        auto anchor = weak.lock();
        if (anchor && anchor->link) anchor->link->write(DumlConstants::wakeFrame());
    });
    if (!wakesWiFi_) {
        return;
    }
    afterInSession(kWiFiWakeDelay, [](PocketBluetoothLink& link) { link.write(wifiWakeFrame()); });
    afterInSession(kNameQueryDelay, [](PocketBluetoothLink& link) { link.write(wifiNameQueryFrame()); });
    afterInSession(kPasswordQueryDelay, [](PocketBluetoothLink& link) { link.write(wifiPasswordQueryFrame()); });
    afterInSession(kCredentialsTimeout, [](PocketBluetoothLink& link) {
        if (!link.credentialsDelivered_) link.raise(Event::failed("Camera did not share its Wi-Fi credentials"));
    });
}

void PocketBluetoothLink::deliverCredentials() {
    if (!ssid_ || !password_ || ssid_->empty() || password_->empty() || credentialsDelivered_) {
        return;
    }
    credentialsDelivered_ = true;
    raise(Event::credentials(*ssid_, *password_));
}

}  // namespace hollowkit
