#include "hollowkit/testing/fake_ble_central.h"

#include <algorithm>
#include <map>
#include <set>

namespace hollowkit {

struct FakeBleRadio::Core {
    std::weak_ptr<Core> self;
    FakeBleRadio* radio = nullptr;
    BleCentralDelegate* delegate = nullptr;
    bool scanning = false;
};

struct FakeBleRadio::Connection {
    uint64_t serial = 0;
    BlePeripheralId id;
    FakeGattPeripheral* device = nullptr;
    std::weak_ptr<Core> central;
    std::set<BleUuid> notifying;
    // Notification targets, worked out once per connection: a device's
    // services stay as they are while it is connected.
    std::map<BleUuid, BleCharacteristic> described;
    std::unique_ptr<ConnectionPort> port;
    bool up = false;  // the device has been told
};

class FakeBleRadio::ConnectionPort final : public FakeGattPeripheral::Port {
public:
    ConnectionPort(FakeBleRadio& radio, uint64_t serial, BlePeripheralId id)
        : radio_(radio), serial_(serial), id_(std::move(id)) {}

    void notify(const BleUuid& characteristic, Bytes value) override {
        Connection* connection = current();
        if (!connection || !connection->notifying.count(characteristic)) return;
        const BleCharacteristic& target = characteristicFor(*connection, characteristic);
        radio_.post(connection->central, [id = id_, target, value = std::move(value)](BleCentralDelegate& delegate) {
            delegate.peripheralDidUpdateValue(id, target, value, std::nullopt);
        });
    }

    void disconnect(std::optional<BleError> error) override {
        // Later, never inside the device's own call into the radio.
        std::weak_ptr<bool> alive = radio_.alive_;
        FakeBleRadio* radio = &radio_;
        radio_.main_.post([alive, radio, serial = serial_, id = id_, error = std::move(error)] {
            if (alive.expired()) return;
            Connection* connection = radio->connectionOf(id);
            if (!connection || connection->serial != serial) return;
            std::weak_ptr<Core> central = connection->central;
            radio->tearDown(id);
            radio->post(central, [id, error](BleCentralDelegate& delegate) {
                delegate.centralDidDisconnect(id, error);
            });
        });
    }

    static const BleCharacteristic& characteristicFor(Connection& connection, const BleUuid& uuid) {
        auto known = connection.described.find(uuid);
        if (known == connection.described.end()) {
            known = connection.described.emplace(uuid, describe(connection, uuid)).first;
        }
        return known->second;
    }

    static BleCharacteristic describe(const Connection& connection, const BleUuid& uuid) {
        const auto services = connection.device->services();
        for (size_t s = 0; s < services.size(); ++s) {
            for (size_t c = 0; c < services[s].characteristics.size(); ++c) {
                const auto& characteristic = services[s].characteristics[c];
                if (characteristic.uuid == uuid) {
                    return BleCharacteristic{connection.id + "/service" + std::to_string(s) + "/char" +
                                                 std::to_string(c),
                                             uuid, services[s].uuid, characteristic.properties};
                }
            }
        }
        return BleCharacteristic{connection.id + "/unknown", uuid, BleUuid{}, 0};
    }

private:
    Connection* current() {
        Connection* connection = radio_.connectionOf(id_);
        return connection && connection->serial == serial_ && connection->up ? connection : nullptr;
    }

    FakeBleRadio& radio_;
    const uint64_t serial_;
    const BlePeripheralId id_;
};

FakeBleRadio::FakeBleRadio(Executor& main) : main_(main) {}

FakeBleRadio::~FakeBleRadio() {
    *alive_ = false;
    main_.cancel(advertisingTimer_);
    for (auto& connection : connections_) {
        if (connection->up) connection->device->disconnected();
    }
}

std::unique_ptr<BleCentral> FakeBleRadio::makeCentral() {
    auto core = std::make_shared<Core>();
    core->self = core;
    core->radio = this;
    centrals_.push_back(core);
    return std::unique_ptr<BleCentral>(new FakeBleCentral(*this, std::move(core)));
}

BleCentralFactory FakeBleRadio::factory() {
    return [this](Executor&) { return makeCentral(); };
}

void FakeBleRadio::add(FakeGattPeripheral& peripheral) {
    peripherals_.push_back(&peripheral);
}

void FakeBleRadio::remove(FakeGattPeripheral& peripheral) {
    const BlePeripheralId id = peripheral.identity().id;
    if (Connection* connection = connectionOf(id)) {
        std::weak_ptr<Core> central = connection->central;
        tearDown(id);
        post(central, [id](BleCentralDelegate& delegate) {
            delegate.centralDidDisconnect(id, BleError{"The peripheral went out of range."});
        });
    }
    std::erase(peripherals_, &peripheral);
}

FakeGattPeripheral* FakeBleRadio::find(const BlePeripheralId& id) const {
    for (FakeGattPeripheral* peripheral : peripherals_) {
        if (peripheral->identity().id == id) return peripheral;
    }
    return nullptr;
}

FakeBleRadio::Connection* FakeBleRadio::connectionOf(const BlePeripheralId& id) {
    for (auto& connection : connections_) {
        if (connection->id == id) return connection.get();
    }
    return nullptr;
}

const FakeBleRadio::Connection* FakeBleRadio::connectionOf(const BlePeripheralId& id) const {
    for (const auto& connection : connections_) {
        if (connection->id == id) return connection.get();
    }
    return nullptr;
}

bool FakeBleRadio::connected(const BlePeripheralId& peripheral) const {
    const Connection* connection = connectionOf(peripheral);
    return connection && connection->up;
}

bool FakeBleRadio::scanning() const {
    return std::any_of(centrals_.begin(), centrals_.end(), [](const std::weak_ptr<Core>& weak) {
        auto core = weak.lock();
        return core && core->scanning;
    });
}

void FakeBleRadio::post(const std::weak_ptr<Core>& core, std::function<void(BleCentralDelegate&)> callback) {
    main_.post([core, callback = std::move(callback)] {
        auto locked = core.lock();
        if (locked && locked->delegate) callback(*locked->delegate);
    });
}

void FakeBleRadio::tearDown(const BlePeripheralId& id) {
    auto it = std::find_if(connections_.begin(), connections_.end(),
                           [&](const auto& connection) { return connection->id == id; });
    if (it == connections_.end()) return;
    std::unique_ptr<Connection> connection = std::move(*it);
    connections_.erase(it);
    if (connection->up) connection->device->disconnected();
}

// MARK: Adapter and scanning

void FakeBleRadio::setAdapterState(BleAdapterState state) {
    state_ = state;
    for (auto& weak : centrals_) {
        auto core = weak.lock();
        if (!core) continue;
        if (state != BleAdapterState::poweredOn) {
            core->scanning = false;
            std::vector<BlePeripheralId> dropped;
            for (auto& connection : connections_) {
                if (connection->central.lock() == core) dropped.push_back(connection->id);
            }
            for (const auto& id : dropped) {
                tearDown(id);
                post(core, [id](BleCentralDelegate& delegate) {
                    delegate.centralDidDisconnect(id, BleError{"The Bluetooth adapter was switched off."});
                });
            }
        }
        post(core, [state](BleCentralDelegate& delegate) { delegate.centralDidUpdateState(state); });
    }
    updateAdvertisingTimer();
}

void FakeBleRadio::start(Core& core, BleCentralDelegate& delegate) {
    core.delegate = &delegate;
    const BleAdapterState state = state_;
    post(core.self, [state](BleCentralDelegate& d) { d.centralDidUpdateState(state); });
}

void FakeBleRadio::scan(Core& core) {
    if (state_ != BleAdapterState::poweredOn) return;
    ++scanStarts_;
    core.scanning = true;
    if (auto locked = core.self.lock()) advertiseTo(locked);
    updateAdvertisingTimer();
}

void FakeBleRadio::stopScan(Core& core) {
    core.scanning = false;
    updateAdvertisingTimer();
}

void FakeBleRadio::advertiseTo(const std::shared_ptr<Core>& core) {
    for (FakeGattPeripheral* peripheral : peripherals_) {
        if (!peripheral->advertising() || connectionOf(peripheral->identity().id)) continue;
        std::weak_ptr<Core> weak = core;
        main_.post([weak, identity = peripheral->identity(), advertisement = peripheral->advertisement(),
                    rssi = peripheral->rssi()] {
            auto locked = weak.lock();
            // A stack reports nothing once the scan has stopped.
            if (locked && locked->delegate && locked->scanning) {
                locked->delegate->centralDidDiscover(identity, advertisement, rssi);
            }
        });
    }
}

void FakeBleRadio::advertiseRound() {
    for (auto& weak : centrals_) {
        auto core = weak.lock();
        if (core && core->scanning) advertiseTo(core);
    }
}

void FakeBleRadio::updateAdvertisingTimer() {
    const bool wanted = state_ == BleAdapterState::poweredOn && scanning();
    if (wanted && advertisingTimer_ == 0) {
        std::weak_ptr<bool> alive = alive_;
        advertisingTimer_ = main_.every(advertisingInterval_, [this, alive] {
            if (!alive.expired()) advertiseRound();
        });
    } else if (!wanted && advertisingTimer_ != 0) {
        main_.cancel(advertisingTimer_);
        advertisingTimer_ = 0;
    }
}

// MARK: Connections

void FakeBleRadio::connect(Core& core, const BlePeripheralId& id) {
    ++connectAttempts_;
    std::shared_ptr<Core> locked = core.self.lock();
    FakeGattPeripheral* device = find(id);
    std::optional<BleError> refusal;
    if (state_ != BleAdapterState::poweredOn) {
        refusal = BleError{"The Bluetooth adapter is not powered."};
    } else if (!device) {
        refusal = BleError{"The peripheral is not in range."};
    } else if (connectionOf(id)) {
        refusal = BleError{"The peripheral is busy."};
    } else {
        refusal = device->connectError();
    }
    if (refusal) {
        post(locked, [id, refusal](BleCentralDelegate& delegate) { delegate.centralDidFailToConnect(id, refusal); });
        return;
    }
    auto connection = std::make_unique<Connection>();
    connection->serial = nextConnection_++;
    connection->id = id;
    connection->device = device;
    connection->central = locked;
    connection->port = std::make_unique<ConnectionPort>(*this, connection->serial, id);
    const uint64_t serial = connection->serial;
    connections_.push_back(std::move(connection));

    std::weak_ptr<Core> weak = locked;
    std::weak_ptr<bool> alive = alive_;
    main_.post([this, alive, weak, serial, id] {
        if (alive.expired()) return;
        Connection* current = connectionOf(id);
        auto central = weak.lock();
        if (!current || current->serial != serial || !central || !central->delegate) return;
        current->up = true;
        current->device->connected(*current->port);
        central->delegate->centralDidConnect(id);
    });
}

void FakeBleRadio::cancelConnection(Core& core, const BlePeripheralId& id) {
    ++cancelConnections_;
    std::weak_ptr<Core> weak = core.self;
    auto end = [this, weak, id] {
        Connection* connection = connectionOf(id);
        if (connection && connection->central.lock() == weak.lock()) tearDown(id);
        post(weak, [id](BleCentralDelegate& delegate) { delegate.centralDidDisconnect(id, std::nullopt); });
    };
    if (disconnectDelay_ == Duration::zero()) {
        end();
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    main_.after(disconnectDelay_, [alive, end] {
        if (!alive.expired()) end();
    });
}

void FakeBleRadio::centralGone(Core& core) {
    core.delegate = nullptr;
    core.scanning = false;
    std::vector<BlePeripheralId> owned;
    for (auto& connection : connections_) {
        auto central = connection->central.lock();
        if (!central || central.get() == &core) owned.push_back(connection->id);
    }
    for (const auto& id : owned) tearDown(id);
    std::erase_if(centrals_, [&](const std::weak_ptr<Core>& weak) {
        auto locked = weak.lock();
        return !locked || locked.get() == &core;
    });
    updateAdvertisingTimer();
}

// MARK: GATT

void FakeBleRadio::discoverServices(Core& core, const BlePeripheralId& id, const std::vector<BleUuid>& uuids) {
    Connection* connection = connectionOf(id);
    std::weak_ptr<Core> weak = core.self;
    if (!connection || !connection->up || connection->central.lock().get() != &core) {
        post(weak, [id](BleCentralDelegate& delegate) {
            delegate.peripheralDidDiscoverServices(id, std::nullopt, BleError{"The peripheral is not connected."});
        });
        return;
    }
    std::vector<BleService> found;
    const auto services = connection->device->services();
    for (size_t s = 0; s < services.size(); ++s) {
        if (uuids.empty() || std::find(uuids.begin(), uuids.end(), services[s].uuid) != uuids.end()) {
            found.push_back(BleService{id + "/service" + std::to_string(s), services[s].uuid});
        }
    }
    post(weak, [id, found](BleCentralDelegate& delegate) {
        delegate.peripheralDidDiscoverServices(id, found, std::nullopt);
    });
}

void FakeBleRadio::discoverCharacteristics(Core& core, const BlePeripheralId& id, const BleService& service,
                                           const std::vector<BleUuid>& uuids) {
    Connection* connection = connectionOf(id);
    std::weak_ptr<Core> weak = core.self;
    std::vector<BleCharacteristic> found;
    std::optional<BleError> error;
    if (!connection || !connection->up || connection->central.lock().get() != &core) {
        error = BleError{"The peripheral is not connected."};
    } else {
        const auto services = connection->device->services();
        for (size_t s = 0; s < services.size(); ++s) {
            const std::string handle = id + "/service" + std::to_string(s);
            if (handle != service.handle) continue;
            for (size_t c = 0; c < services[s].characteristics.size(); ++c) {
                const auto& characteristic = services[s].characteristics[c];
                if (uuids.empty() || std::find(uuids.begin(), uuids.end(), characteristic.uuid) != uuids.end()) {
                    found.push_back(BleCharacteristic{handle + "/char" + std::to_string(c), characteristic.uuid,
                                                      services[s].uuid, characteristic.properties});
                }
            }
        }
    }
    post(weak, [id, service, found, error](BleCentralDelegate& delegate) {
        delegate.peripheralDidDiscoverCharacteristics(id, service, found, error);
    });
}

void FakeBleRadio::setNotifyValue(Core& core, const BlePeripheralId& id, const BleCharacteristic& characteristic,
                                  bool enabled) {
    Connection* connection = connectionOf(id);
    std::weak_ptr<Core> weak = core.self;
    std::optional<BleError> error;
    if (!connection || !connection->up || connection->central.lock().get() != &core) {
        error = BleError{"The peripheral is not connected."};
    } else {
        error = connection->device->setNotify(characteristic.uuid, enabled);
        if (!error) {
            if (enabled) {
                connection->notifying.insert(characteristic.uuid);
            } else {
                connection->notifying.erase(characteristic.uuid);
            }
        }
    }
    post(weak, [id, characteristic, error](BleCentralDelegate& delegate) {
        delegate.peripheralDidUpdateNotificationState(id, characteristic, error);
    });
}

void FakeBleRadio::writeValue(Core& core, const BlePeripheralId& id, const BleCharacteristic& characteristic,
                              ByteView value, BleWriteType type) {
    Write record{id, characteristic.uuid, Bytes(value.begin(), value.end()), type, false};
    Connection* connection = connectionOf(id);
    const bool reachable = connection && connection->up && connection->central.lock().get() == &core;
    if (type == BleWriteType::withoutResponse) {
        if (!reachable || !canSend()) {
            record.dropped = true;
            writes_.push_back(std::move(record));
            return;
        }
        if (credits_) --*credits_;
        writes_.push_back(std::move(record));
        connection->device->write(characteristic.uuid, value, type);
        return;
    }
    writes_.push_back(std::move(record));
    std::weak_ptr<Core> weak = core.self;
    std::optional<BleError> error = reachable ? connection->device->write(characteristic.uuid, value, type)
                                              : std::optional<BleError>(BleError{"The peripheral is not connected."});
    post(weak, [id, characteristic, error](BleCentralDelegate& delegate) {
        delegate.peripheralDidWriteValue(id, characteristic, error);
    });
}

// MARK: Flow control

void FakeBleRadio::limitWriteCredits(int credits) {
    const bool before = canSend();
    credits_ = std::max(credits, 0);
    if (!before && canSend()) announceReady();
}

void FakeBleRadio::grantWriteCredits(int credits) {
    const bool before = canSend();
    credits_ = credits_.value_or(0) + std::max(credits, 0);
    if (!before && canSend()) announceReady();
}

void FakeBleRadio::unlimitWriteCredits() {
    const bool before = canSend();
    credits_.reset();
    if (!before) announceReady();
}

void FakeBleRadio::announceReady() {
    for (auto& connection : connections_) {
        if (!connection->up) continue;
        post(connection->central, [id = connection->id](BleCentralDelegate& delegate) {
            delegate.peripheralIsReadyToSendWriteWithoutResponse(id);
        });
    }
}

// MARK: FakeBleCentral

FakeBleCentral::~FakeBleCentral() {
    radio_.centralGone(*core_);
}

void FakeBleCentral::start(BleCentralDelegate& delegate) {
    radio_.start(*core_, delegate);
}

BleAdapterState FakeBleCentral::state() const {
    return radio_.adapterState();
}

void FakeBleCentral::scanForPeripherals() {
    radio_.scan(*core_);
}

void FakeBleCentral::stopScan() {
    radio_.stopScan(*core_);
}

void FakeBleCentral::connect(const BlePeripheralId& peripheral) {
    radio_.connect(*core_, peripheral);
}

void FakeBleCentral::cancelConnection(const BlePeripheralId& peripheral) {
    radio_.cancelConnection(*core_, peripheral);
}

void FakeBleCentral::discoverServices(const BlePeripheralId& peripheral, const std::vector<BleUuid>& uuids) {
    radio_.discoverServices(*core_, peripheral, uuids);
}

void FakeBleCentral::discoverCharacteristics(const BlePeripheralId& peripheral, const BleService& service,
                                             const std::vector<BleUuid>& uuids) {
    radio_.discoverCharacteristics(*core_, peripheral, service, uuids);
}

void FakeBleCentral::setNotifyValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                                    bool enabled) {
    radio_.setNotifyValue(*core_, peripheral, characteristic, enabled);
}

void FakeBleCentral::writeValue(const BlePeripheralId& peripheral, const BleCharacteristic& characteristic,
                                ByteView value, BleWriteType type) {
    radio_.writeValue(*core_, peripheral, characteristic, value, type);
}

bool FakeBleCentral::canSendWriteWithoutResponse(const BlePeripheralId&) const {
    return radio_.canSend();
}

size_t FakeBleCentral::maximumWriteValueLength(const BlePeripheralId&, BleWriteType type) const {
    return type == BleWriteType::withResponse ? 512 : radio_.maximumWriteLength_;
}

}  // namespace hollowkit
