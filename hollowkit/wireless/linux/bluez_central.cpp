#include "hollowkit/wireless/linux/bluez_central.h"

#include <algorithm>
#include <utility>

#include "hollowkit/wireless/linux/bluez_central_engine.h"

namespace hollowkit {

BluezCentral::BluezCentral(Executor& main, std::string busAddress, std::shared_ptr<RepeatLog> repeats)
    : main_(main), alive_(std::make_shared<bool>(true)),
      engine_(std::make_unique<Engine>(*this, main, alive_, std::move(busAddress),
                                       repeats ? std::move(repeats) : std::make_shared<RepeatLog>())) {}

BluezCentral::~BluezCentral() {
    *alive_ = false;
    engine_.reset();
}

BleCentralFactory BluezCentral::factory(std::string busAddress, std::shared_ptr<RepeatLog> repeats) {
    if (!repeats) repeats = std::make_shared<RepeatLog>();
    return [busAddress, repeats](Executor& main) -> std::unique_ptr<BleCentral> {
        return std::make_unique<BluezCentral>(main, busAddress, repeats);
    };
}

void BluezCentral::start(BleCentralDelegate& delegate) {
    if (delegate_) return;
    delegate_ = &delegate;
    engine_->start();
}

void BluezCentral::scanForPeripherals() {
    engine_->post([engine = engine_.get()] { engine->startScan(); });
}

void BluezCentral::stopScan() {
    engine_->post([engine = engine_.get()] { engine->stopScan(); });
}

void BluezCentral::connect(const BlePeripheralId& peripheral) {
    engine_->post([engine = engine_.get(), peripheral] { engine->connect(peripheral); });
}

void BluezCentral::cancelConnection(const BlePeripheralId& peripheral) {
    engine_->post([engine = engine_.get(), peripheral] { engine->cancelConnection(peripheral); });
}

void BluezCentral::discoverServices(const BlePeripheralId& peripheral, const std::vector<BleUuid>& uuids) {
    engine_->post([engine = engine_.get(), peripheral, uuids] { engine->discoverServices(peripheral, uuids); });
}

void BluezCentral::discoverCharacteristics(const BlePeripheralId& peripheral, const BleService& service,
                                           const std::vector<BleUuid>& uuids) {
    engine_->post([engine = engine_.get(), peripheral, service, uuids] {
        engine->discoverCharacteristics(peripheral, service, uuids);
    });
}

void BluezCentral::setNotifyValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                                  bool enabled) {
    engine_->post([engine = engine_.get(), peripheral, characteristic, enabled] {
        engine->setNotify(peripheral, characteristic, enabled);
    });
}

void BluezCentral::writeValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                              ByteView value, BleWriteType type) {
    if (type == BleWriteType::withoutResponse) {
        auto& window = windows_[peripheral];
        ++window.inFlight;
        if (window.inFlight >= kWriteCredits) window.waitingForReady = true;
    }
    engine_->post([engine = engine_.get(), peripheral, characteristic, bytes = Bytes(value.begin(), value.end()),
                   type]() mutable { engine->write(peripheral, characteristic, std::move(bytes), type); });
}

bool BluezCentral::canSendWriteWithoutResponse(const BlePeripheralId& peripheral) const {
    auto it = windows_.find(peripheral);
    return it == windows_.end() || it->second.inFlight < kWriteCredits;
}

size_t BluezCentral::maximumWriteValueLength(const BlePeripheralId& peripheral, BleWriteType type) const {
    if (type == BleWriteType::withResponse) return kMaximumWriteWithResponseLength;
    auto it = windows_.find(peripheral);
    // The ATT header takes three bytes of each packet.
    return it == windows_.end() || it->second.attMtu <= 3 ? 0 : it->second.attMtu - 3;
}

void BluezCentral::deliverState(BleAdapterState state) {
    state_ = state;
    delegate_->centralDidUpdateState(state);
}

void BluezCentral::deliverWritesGone(const BlePeripheralId& peripheral, int count) {
    auto& window = windows_[peripheral];
    window.inFlight = std::max(0, window.inFlight - count);
    if (window.waitingForReady && window.inFlight < kWriteCredits) {
        window.waitingForReady = false;
        delegate_->peripheralIsReadyToSendWriteWithoutResponse(peripheral);
    }
}

void BluezCentral::deliverMtu(const BlePeripheralId& peripheral, size_t attMtu) {
    windows_[peripheral].attMtu = attMtu;
}

}  // namespace hollowkit
