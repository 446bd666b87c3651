#include "hollowkit/wireless/linux/bluez_central_engine.h"

#include <exception>
#include <utility>

#include "hollowkit/wireless/linux/bluez_names.h"
#include "hollowkit/wireless/linux/bluez_properties.h"

namespace hollowkit {

namespace {

using bluez::kAdapter1;
using bluez::kDevice1;
using bluez::kGattCharacteristic1;
using bluez::kGattService1;
using bluez::kObjectManager;
using bluez::Properties;

using bluez::propertyValue;

bool contains(const std::vector<std::string>& list, std::string_view item) {
    for (const auto& entry : list) {
        if (entry == item) return true;
    }
    return false;
}

bool isAccessError(const sdbus::Error& error) {
    return error.getName() == "org.freedesktop.DBus.Error.AccessDenied" ||
           error.getName() == "org.bluez.Error.NotPermitted";
}

using bluez::propertiesFromFlags;

}  // namespace

// ---- the object tree ----

void BluezCentral::Engine::enumerate() {
    if (!bus_) return;
    uint64_t round = ++enumeration_;
    try {
        proxy("/")
            .callMethodAsync("GetManagedObjects")
            .onInterface(kObjectManager)
            .uponReplyInvoke([this, round](const sdbus::Error* error, ManagedObjects objects) {
                if (round != enumeration_) return;
                guarded("reading BlueZ objects", [&] { onManagedObjects(error, objects); });
            });
    } catch (const std::exception& error) {
        repeats_->log(kUnreachableTopic, std::string("BlueZ: GetManagedObjects failed: ") + error.what());
        enumerated_ = true;
        publishState();
    }
}

void BluezCentral::Engine::onManagedObjects(const sdbus::Error* error, const ManagedObjects& objects) {
    enumerated_ = true;
    if (error) {
        if (isAccessError(*error)) accessDenied_ = true;
        repeats_->log(kUnreachableTopic, "BlueZ: cannot list Bluetooth objects: " + describe(*error));
        publishState();
        return;
    }
    // BlueZ answers: a failure to reach it later is news again.
    repeats_->forget(kUnreachableTopic);
    // The answer is newer than any signal that came before it.
    for (const auto& [path, interfaces] : objects) addInterfaces(path, interfaces);
    chooseAdapter();
    publishState();
    if (scanWanted_) startDiscovery();
}

void BluezCentral::Engine::onInterfacesAdded(sdbus::Message& message) {
    sdbus::ObjectPath path;
    InterfaceMap interfaces;
    message >> path >> interfaces;
    addInterfaces(path, interfaces);
    if (interfaces.count(kAdapter1) != 0) {
        chooseAdapter();
        publishState();
    }
}

void BluezCentral::Engine::addInterfaces(const std::string& path, const InterfaceMap& interfaces) {
    if (auto it = interfaces.find(kAdapter1); it != interfaces.end()) {
        adapters_[path] = propertyValue<bool>(it->second, "Powered").value_or(false);
        chooseAdapter();
    }
    if (auto it = interfaces.find(kDevice1); it != interfaces.end()) {
        // Only devices of the adapter in use; adapters list before their devices.
        if (adapterPath_.empty() || path.rfind(adapterPath_ + "/", 0) != 0) return;
        auto& device = devices_[path];
        applyDevice(path, device, it->second, {});
        reportDiscovery(path, device);
    }
    if (auto it = interfaces.find(kGattService1); it != interfaces.end()) {
        auto& service = services_[path];
        service.devicePath = propertyValue<sdbus::ObjectPath>(it->second, "Device").value_or(owningDevice(path));
        if (auto text = propertyValue<std::string>(it->second, "UUID")) service.uuid = BleUuid::parse(*text);
    }
    if (auto it = interfaces.find(kGattCharacteristic1); it != interfaces.end()) {
        auto& characteristic = characteristics_[path];
        const auto& properties = it->second;
        characteristic.devicePath = owningDevice(path);
        characteristic.servicePath = propertyValue<sdbus::ObjectPath>(properties, "Service").value_or("");
        if (auto text = propertyValue<std::string>(properties, "UUID")) characteristic.uuid = BleUuid::parse(*text);
        characteristic.properties =
            propertiesFromFlags(propertyValue<std::vector<std::string>>(properties, "Flags").value_or(std::vector<std::string>{}));
        characteristic.attMtu = propertyValue<uint16_t>(properties, "MTU").value_or(0);
        characteristic.writeAcquirable = properties.count("WriteAcquired") != 0;
    }
}

void BluezCentral::Engine::onInterfacesRemoved(sdbus::Message& message) {
    sdbus::ObjectPath path;
    std::vector<std::string> interfaces;
    message >> path >> interfaces;
    if (contains(interfaces, kGattCharacteristic1)) {
        if (auto it = characteristics_.find(path); it != characteristics_.end()) {
            int queued = static_cast<int>(it->second.outgoing.size());
            std::string devicePath = it->second.devicePath;
            characteristics_.erase(it);
            writesGone(devicePath, queued);
        }
    }
    if (contains(interfaces, kGattService1)) services_.erase(path);
    if (contains(interfaces, kDevice1)) {
        if (auto it = devices_.find(path); it != devices_.end()) {
            endLink(path, it->second, BleError{"The peripheral is no longer known to Bluetooth"});
            devices_.erase(it);
        }
    }
    if (contains(interfaces, kAdapter1)) {
        adapters_.erase(path);
        if (path == adapterPath_) {
            forgetEverything("The Bluetooth adapter was removed");
            adapterPath_.clear();
            chooseAdapter();
        }
        publishState();
    }
}

void BluezCentral::Engine::onPropertiesChanged(sdbus::Message& message) {
    std::string interface;
    Properties changed;
    std::vector<std::string> invalidated;
    message >> interface >> changed >> invalidated;
    const std::string path = message.getPath();

    if (interface == kAdapter1) {
        auto it = adapters_.find(path);
        if (it == adapters_.end()) return;
        if (auto powered = propertyValue<bool>(changed, "Powered")) {
            it->second = *powered;
            if (!*powered && path == adapterPath_) {
                // BlueZ ends discovery with the power; a later scan starts anew.
                discovering_ = false;
                discoveryStarting_ = false;
            }
        }
        if (path == adapterPath_) publishState();
    } else if (interface == kDevice1) {
        auto it = devices_.find(path);
        if (it == devices_.end()) return;
        applyDevice(path, it->second, changed, invalidated);
        static const std::vector<std::string> kAdvertised = {"RSSI", "ManufacturerData", "Name", "Alias", "UUIDs"};
        for (const auto& name : kAdvertised) {
            if (changed.count(name) != 0) {
                reportDiscovery(path, it->second);
                break;
            }
        }
    } else if (interface == kGattCharacteristic1) {
        auto it = characteristics_.find(path);
        if (it == characteristics_.end()) return;
        auto& characteristic = it->second;
        if (auto mtu = propertyValue<uint16_t>(changed, "MTU")) characteristic.attMtu = *mtu;
        if (changed.count("WriteAcquired") != 0) characteristic.writeAcquirable = true;
        auto value = propertyValue<std::vector<uint8_t>>(changed, "Value");
        if (!value || !characteristic.notifyRequested) return;
        auto device = devices_.find(characteristic.devicePath);
        if (device == devices_.end() || device->second.link != Link::connected) return;
        toMain([id = characteristic.devicePath, described = describeCharacteristic(path, characteristic),
                value = std::move(*value)](BluezCentral& central) {
            central.delegate_->peripheralDidUpdateValue(id, described, value, std::nullopt);
        });
    }
}

void BluezCentral::Engine::onNameOwnerChanged(sdbus::Message& message) {
    std::string name, oldOwner, newOwner;
    message >> name >> oldOwner >> newOwner;
    if (name != bluez::kService) return;
    if (!oldOwner.empty()) {
        PocketLog::log("BlueZ: the Bluetooth service stopped");
        forgetEverything("The Bluetooth service stopped");
        adapters_.clear();
        adapterPath_.clear();
        accessDenied_ = false;
        publishState();
    }
    if (!newOwner.empty()) {
        PocketLog::log("BlueZ: the Bluetooth service started");
        enumerate();
    }
}

// Ends every link and forgets every object (the adapter or the service went).
void BluezCentral::Engine::forgetEverything(const std::string& why) {
    for (auto& [path, device] : devices_) endLink(path, device, BleError{why});
    devices_.clear();
    services_.clear();
    characteristics_.clear();
    discovering_ = false;
    discoveryStarting_ = false;
}

void BluezCentral::Engine::chooseAdapter() {
    if (!adapterPath_.empty() && adapters_.count(adapterPath_) != 0) return;
    adapterPath_ = adapters_.empty() ? std::string() : adapters_.begin()->first;
}

void BluezCentral::Engine::publishState() {
    BleAdapterState state = BleAdapterState::unknown;
    if (!bus_) {
        state = BleAdapterState::unsupported;
    } else if (!enumerated_) {
        return;
    } else if (accessDenied_) {
        state = BleAdapterState::unauthorized;
    } else if (adapterPath_.empty()) {
        state = BleAdapterState::unsupported;
    } else {
        state = adapters_[adapterPath_] ? BleAdapterState::poweredOn : BleAdapterState::poweredOff;
    }
    if (published_ == state) return;
    published_ = state;
    toMain([state](BluezCentral& central) { central.deliverState(state); });
}

void BluezCentral::Engine::applyDevice(const std::string& path, Device& device, const Properties& changed,
                                       const std::vector<std::string>& invalidated) {
    bluez::applyAdvertised(device, changed, invalidated);

    bool wasConnected = device.connected;
    if (auto connected = propertyValue<bool>(changed, "Connected")) device.connected = *connected;
    if (wasConnected && !device.connected) {
        if (device.link == Link::connecting) device.droppedWhileConnecting = true;
        if (device.link == Link::connected) endLink(path, device, BleError{"The peripheral disconnected"});
    }
    if (auto resolved = propertyValue<bool>(changed, "ServicesResolved")) {
        bool wasResolved = device.servicesResolved;
        device.servicesResolved = *resolved;
        if (!wasResolved && *resolved && device.link == Link::connected) {
            auto queries = std::move(device.pendingServiceQueries);
            device.pendingServiceQueries.clear();
            for (const auto& uuids : queries) answerServiceQuery(path, uuids);
        }
    }
}

void BluezCentral::Engine::reportDiscovery(const std::string& path, const Device& device) {
    if (!scanWanted_) return;
    auto discovery = bluez::discoveryOf(path, device);
    if (!discovery) return;
    toMain([discovery = std::move(*discovery)](BluezCentral& central) {
        central.delegate_->centralDidDiscover(discovery.peripheral, discovery.advertisement, discovery.rssi);
    });
}

void BluezCentral::Engine::reportFreshDevices() {
    for (const auto& [path, device] : devices_) reportDiscovery(path, device);
}

std::string BluezCentral::Engine::owningDevice(const std::string& path) const {
    std::string candidate = path;
    for (;;) {
        auto slash = candidate.rfind('/');
        if (slash == std::string::npos || slash == 0) return {};
        candidate.resize(slash);
        if (devices_.count(candidate) != 0) return candidate;
    }
}

BleCharacteristic BluezCentral::Engine::describeCharacteristic(const std::string& path,
                                                               const Characteristic& characteristic) const {
    BleCharacteristic described;
    described.handle = path;
    described.uuid = characteristic.uuid.value_or(BleUuid{});
    if (auto it = services_.find(characteristic.servicePath); it != services_.end() && it->second.uuid) {
        described.serviceUuid = *it->second.uuid;
    }
    described.properties = characteristic.properties;
    return described;
}

// ---- scanning ----

void BluezCentral::Engine::startScan() {
    bool alreadyWanted = scanWanted_;
    scanWanted_ = true;
    if (discovering_ || discoveryStarting_) {
        if (!alreadyWanted) reportFreshDevices();
        return;
    }
    startDiscovery();
}

void BluezCentral::Engine::startDiscovery() {
    if (!bus_ || adapterPath_.empty() || !adapters_[adapterPath_] || discovering_ || discoveryStarting_) return;
    discoveryStarting_ = true;
    std::string adapter = adapterPath_;
    std::map<std::string, sdbus::Variant> filter{{"Transport", sdbus::Variant(std::string("le"))}};
    auto start = [this, adapter] {
        proxy(adapter)
            .callMethodAsync("StartDiscovery")
            .onInterface(kAdapter1)
            .uponReplyInvoke([this, adapter](const sdbus::Error* error) {
                guarded("starting discovery", [&] { onStartDiscovery(adapter, error); });
            });
    };
    try {
        proxy(adapter)
            .callMethodAsync("SetDiscoveryFilter")
            .onInterface(kAdapter1)
            .withArguments(filter)
            .uponReplyInvoke([start](const sdbus::Error* error) {
                guarded("setting the discovery filter", [&] {
                    if (error) PocketLog::logf("BlueZ: SetDiscoveryFilter failed: %s", describe(*error).c_str());
                    start();
                });
            });
    } catch (const std::exception& error) {
        discoveryStarting_ = false;
        PocketLog::logf("BlueZ: cannot start discovery: %s", error.what());
    }
}

void BluezCentral::Engine::onStartDiscovery(const std::string& adapter, const sdbus::Error* error) {
    if (!discoveryStarting_ || adapter != adapterPath_) return;
    discoveryStarting_ = false;
    // InProgress: this client's discovery already runs.
    if (error && error->getName() != "org.bluez.Error.InProgress") {
        PocketLog::logf("BlueZ: StartDiscovery failed: %s", describe(*error).c_str());
        if (isAccessError(*error)) {
            accessDenied_ = true;
            publishState();
        }
        return;
    }
    discovering_ = true;
    if (!scanWanted_) {
        discovering_ = false;
        sendNoReply(adapter, kAdapter1, "StopDiscovery");
        return;
    }
    reportFreshDevices();
}

void BluezCentral::Engine::stopScan() {
    scanWanted_ = false;
    if (!discovering_ || !bus_) return;
    discovering_ = false;
    std::string adapter = adapterPath_;
    proxy(adapter).callMethodAsync("StopDiscovery").onInterface(kAdapter1).uponReplyInvoke([](const sdbus::Error* error) {
        if (error) PocketLog::logf("BlueZ: StopDiscovery failed: %s", describe(*error).c_str());
    });
}

}  // namespace hollowkit
