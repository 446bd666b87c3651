#include "hollowkit/wireless/linux/bluez_central_engine.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "hollowkit/wireless/linux/bluez_names.h"

namespace hollowkit {

namespace {

using bluez::kDevice1;
using bluez::kGattCharacteristic1;

// BlueZ gives up on an LE connection attempt on its own; this only bounds a
// BlueZ that never answers.
constexpr auto kConnectTimeout = std::chrono::seconds(45);

bool matchesFilter(const std::vector<BleUuid>& filter, const BleUuid& uuid) {
    if (filter.empty()) return true;
    for (const auto& wanted : filter) {
        if (wanted == uuid) return true;
    }
    return false;
}

}  // namespace

// ---- connections ----

BluezCentral::Engine::Device* BluezCentral::Engine::connectedDevice(const BlePeripheralId& id) {
    auto it = devices_.find(id);
    if (it == devices_.end() || it->second.link != Link::connected || !bus_) return nullptr;
    return &it->second;
}

void BluezCentral::Engine::connect(const BlePeripheralId& id) {
    auto it = devices_.find(id);
    if (it == devices_.end() || !bus_) {
        toMain([id](BluezCentral& central) {
            central.delegate_->centralDidFailToConnect(id, BleError{"The peripheral is not known to Bluetooth"});
        });
        return;
    }
    auto& device = it->second;
    if (device.link != Link::idle) return;
    device.link = Link::connecting;
    device.droppedWhileConnecting = false;
    uint64_t generation = ++device.generation;
    try {
        proxy(id)
            .callMethodAsync("Connect")
            .onInterface(kDevice1)
            .withTimeout(kConnectTimeout)
            .uponReplyInvoke([this, id, generation](const sdbus::Error* error) {
                guarded("connecting", [&] { onConnectReply(id, generation, error); });
            });
    } catch (const std::exception& error) {
        device.link = Link::idle;
        ++device.generation;
        toMain([id, why = std::string(error.what())](BluezCentral& central) {
            central.delegate_->centralDidFailToConnect(id, BleError{why});
        });
    }
}

void BluezCentral::Engine::onConnectReply(const BlePeripheralId& id, uint64_t generation, const sdbus::Error* error) {
    auto it = devices_.find(id);
    if (it == devices_.end()) return;  // reported when it went
    auto& device = it->second;
    if (device.generation != generation || device.link != Link::connecting) return;  // cancelled
    if (error || device.droppedWhileConnecting) {
        device.link = Link::idle;
        ++device.generation;
        std::string why = error ? describe(*error) : std::string("The connection dropped while it was being made");
        if (error && error->getName() == "org.freedesktop.DBus.Error.NoReply") {
            // BlueZ may still be trying; stop it so a later connect starts clean.
            sendNoReply(id, kDevice1, "Disconnect");
        }
        toMain([id, why](BluezCentral& central) { central.delegate_->centralDidFailToConnect(id, BleError{why}); });
        return;
    }
    device.link = Link::connected;
    toMain([id](BluezCentral& central) { central.delegate_->centralDidConnect(id); });
}

void BluezCentral::Engine::cancelConnection(const BlePeripheralId& id) {
    if (auto it = devices_.find(id); it != devices_.end() && it->second.link != Link::idle) {
        auto& device = it->second;
        device.link = Link::idle;
        ++device.generation;
        device.pendingServiceQueries.clear();
        releaseCharacteristics(id);
        if (bus_) {
            guarded("disconnecting", [&] {
                proxy(id).callMethodAsync("Disconnect").onInterface(kDevice1).uponReplyInvoke(
                    [](const sdbus::Error* error) {
                        if (error) PocketLog::logf("BlueZ: Disconnect failed: %s", describe(*error).c_str());
                    });
            });
        }
    }
    // Always answered, so a caller waiting for the end never waits in vain.
    toMain([id](BluezCentral& central) { central.delegate_->centralDidDisconnect(id, std::nullopt); });
}

void BluezCentral::Engine::endLink(const std::string& path, Device& device, const std::optional<BleError>& error) {
    Link was = device.link;
    device.link = Link::idle;
    ++device.generation;
    device.pendingServiceQueries.clear();
    device.droppedWhileConnecting = false;
    releaseCharacteristics(path);
    if (was == Link::connecting) {
        toMain([path, error](BluezCentral& central) { central.delegate_->centralDidFailToConnect(path, error); });
    } else if (was == Link::connected) {
        toMain([path, error](BluezCentral& central) { central.delegate_->centralDidDisconnect(path, error); });
    }
}

void BluezCentral::Engine::releaseCharacteristics(const std::string& devicePath) {
    int dropped = 0;
    for (auto& [path, characteristic] : characteristics_) {
        if (characteristic.devicePath != devicePath) continue;
        dropped += static_cast<int>(characteristic.outgoing.size());
        characteristic.outgoing.clear();
        characteristic.socket.reset();
        characteristic.awaitingWritable = false;
        characteristic.writePath = WritePath::undecided;
        characteristic.notifyRequested = false;
    }
    writesGone(devicePath, dropped);
}

// ---- GATT ----

void BluezCentral::Engine::discoverServices(const BlePeripheralId& id, const std::vector<BleUuid>& uuids) {
    auto* device = connectedDevice(id);
    if (!device) return;
    if (!device->servicesResolved) {
        device->pendingServiceQueries.push_back(uuids);
        return;
    }
    answerServiceQuery(id, uuids);
}

void BluezCentral::Engine::answerServiceQuery(const std::string& path, const std::vector<BleUuid>& uuids) {
    std::vector<BleService> found;
    // Paths carry the attribute handle in fixed-width hex, so map order is
    // the peripheral's own order.
    for (const auto& [servicePath, service] : services_) {
        if (service.devicePath == path && service.uuid && matchesFilter(uuids, *service.uuid)) {
            found.push_back(BleService{servicePath, *service.uuid});
        }
    }
    toMain([path, found = std::move(found)](BluezCentral& central) {
        central.delegate_->peripheralDidDiscoverServices(path, found, std::nullopt);
    });
}

void BluezCentral::Engine::discoverCharacteristics(const BlePeripheralId& id, const BleService& service,
                                                   const std::vector<BleUuid>& uuids) {
    if (!connectedDevice(id)) return;
    auto serviceIt = services_.find(service.handle);
    if (serviceIt == services_.end() || serviceIt->second.devicePath != id) {
        toMain([id, service](BluezCentral& central) {
            central.delegate_->peripheralDidDiscoverCharacteristics(id, service, {},
                                                                    BleError{"The service is not known"});
        });
        return;
    }
    std::vector<BleCharacteristic> found;
    uint16_t attMtu = 0;
    for (const auto& [path, characteristic] : characteristics_) {
        if (characteristic.servicePath != service.handle || !characteristic.uuid) continue;
        attMtu = std::max(attMtu, characteristic.attMtu);
        if (matchesFilter(uuids, *characteristic.uuid)) found.push_back(describeCharacteristic(path, characteristic));
    }
    toMain([id, service, found = std::move(found), attMtu](BluezCentral& central) {
        if (attMtu != 0) central.deliverMtu(id, attMtu);
        central.delegate_->peripheralDidDiscoverCharacteristics(id, service, found, std::nullopt);
    });
}

void BluezCentral::Engine::setNotify(const BlePeripheralId& id, const BleCharacteristic& described, bool enabled) {
    auto* device = connectedDevice(id);
    if (!device) return;
    auto it = characteristics_.find(described.handle);
    if (it == characteristics_.end() || it->second.devicePath != id) {
        toMain([id, described](BluezCentral& central) {
            central.delegate_->peripheralDidUpdateNotificationState(id, described,
                                                                    BleError{"The characteristic is not known"});
        });
        return;
    }
    it->second.notifyRequested = enabled;
    uint64_t generation = device->generation;
    std::string path = described.handle;
    proxy(path)
        .callMethodAsync(enabled ? "StartNotify" : "StopNotify")
        .onInterface(kGattCharacteristic1)
        .uponReplyInvoke([this, id, described, path, generation, enabled](const sdbus::Error* error) {
            guarded("switching notifications", [&] {
                auto current = devices_.find(id);
                if (current == devices_.end() || current->second.generation != generation ||
                    current->second.link != Link::connected) {
                    return;
                }
                std::optional<BleError> failure;
                if (error && error->getName() != "org.bluez.Error.InProgress") failure = BleError{describe(*error)};
                if (failure && enabled) {
                    if (auto entry = characteristics_.find(path); entry != characteristics_.end()) {
                        entry->second.notifyRequested = false;
                    }
                }
                toMain([id, described, failure](BluezCentral& central) {
                    central.delegate_->peripheralDidUpdateNotificationState(id, described, failure);
                });
            });
        });
}

}  // namespace hollowkit
