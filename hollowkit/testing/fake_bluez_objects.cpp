// FakeBluez: the object tree as BlueZ exports it: the adapter with its
// discovery, the devices with their properties, and the signals that tell
// of changes.

#include <cstdio>
#include <utility>

#include "hollowkit/testing/fake_bluez_impl.h"

namespace hollowkit {

void FakeBluez::Impl::open(const std::string& address) {
    bus_ = sdbus::createSessionBusConnectionWithAddress(address);
    bus_->requestName(kBluezName);
    // sd-bus answers GetManagedObjects at "/" from the properties each
    // object registers; InterfacesAdded and PropertiesChanged are sent
    // by hand below, as BlueZ decides when things appear and change.
    root_ = sdbus::createObject(*bus_, "/");
    root_->addObjectManager();
    if (options_.adapter != AdapterMode::absent) exportAdapter();
}

void FakeBluez::Impl::exportAdapter() {
    adapter_ = sdbus::createObject(*bus_, kAdapterPath);
    adapter_->registerMethod("SetDiscoveryFilter")
        .onInterface(kAdapter1)
        .implementedAs([this](const Dictionary& filter) {
            std::string detail;
            if (auto it = filter.find("Transport"); it != filter.end() &&
                                                    it->second.containsValueOfType<std::string>()) {
                detail = "Transport=" + it->second.get<std::string>();
            }
            record(kAdapterPath, "SetDiscoveryFilter", detail);
        });
    adapter_->registerMethod("StartDiscovery").onInterface(kAdapter1).implementedAs([this]() {
        record(kAdapterPath, "StartDiscovery", "");
        if (options_.adapter == AdapterMode::discoveryRefused) {
            throw sdbus::Error("org.bluez.Error.NotPermitted", "Not permitted");
        }
        if (!powered_) throw sdbus::Error("org.bluez.Error.NotReady", "Resource Not Ready");
        if (discovering_) throw sdbus::Error("org.bluez.Error.InProgress", "Operation already in progress");
        discovering_ = true;
        emitChanged(adapter_, kAdapter1, Properties{{"Discovering", sdbus::Variant(true)}});
        // Found devices follow the reply, as with a real controller.
        post([this] { advertiseAll(); });
    });
    adapter_->registerMethod("StopDiscovery").onInterface(kAdapter1).implementedAs([this]() {
        record(kAdapterPath, "StopDiscovery", "");
        if (!discovering_) throw failed("No discovery started");
        stopDiscovery();
    });
    adapter_->registerProperty("Address").onInterface(kAdapter1).withGetter([] {
        return std::string("00:1A:7D:DA:71:13");
    });
    adapter_->registerProperty("Name").onInterface(kAdapter1).withGetter([] { return std::string("hollowkit-test"); });
    adapter_->registerProperty("Powered").onInterface(kAdapter1).withGetter([this] { return powered_; });
    adapter_->registerProperty("Discovering").onInterface(kAdapter1).withGetter([this] { return discovering_; });
    adapter_->finishRegistration();
    emitAdded(kAdapterPath, kAdapter1,
              Properties{{"Powered", sdbus::Variant(powered_)}, {"Discovering", sdbus::Variant(discovering_)}});
}

void FakeBluez::Impl::stopDiscovery() {
    discovering_ = false;
    emitChanged(adapter_, kAdapter1, Properties{{"Discovering", sdbus::Variant(false)}});
    for (auto& [path, device] : devices_) {
        if (device.object && device.rssiPresent && !device.connected) {
            device.rssiPresent = false;
            emitChanged(device.object, kDevice1, {}, {"RSSI"});
        }
    }
}

FakeBluez::Impl::Properties FakeBluez::Impl::deviceProperties(const Device& device) const {
    std::string dashed = device.address;
    for (auto& c : dashed) {
        if (c == ':') c = '-';
    }
    Properties properties{{"Address", sdbus::Variant(device.address)},
                          {"AddressType", sdbus::Variant(std::string("random"))},
                          {"Alias", sdbus::Variant(device.name.value_or(dashed))},
                          {"Paired", sdbus::Variant(false)},
                          {"Trusted", sdbus::Variant(false)},
                          {"Connected", sdbus::Variant(device.connected)},
                          {"ServicesResolved", sdbus::Variant(device.servicesResolved)},
                          {"Adapter", sdbus::Variant(sdbus::ObjectPath(kAdapterPath))}};
    if (device.name) properties["Name"] = sdbus::Variant(*device.name);
    if (device.rssiPresent) properties["RSSI"] = sdbus::Variant(static_cast<int16_t>(device.rssi));
    std::vector<std::string> uuids;
    for (const auto& uuid : device.advertisement.serviceUuids) uuids.push_back(uuid.text);
    properties["UUIDs"] = sdbus::Variant(uuids);
    if (!device.advertisement.manufacturerData.empty() || device.options.malformedProperties) {
        properties["ManufacturerData"] = sdbus::Variant(manufacturerData(device));
    }
    if (device.options.malformedProperties) properties["Name"] = sdbus::Variant(int32_t{7});
    return properties;
}

std::map<uint16_t, sdbus::Variant> FakeBluez::Impl::manufacturerData(const Device& device) {
    std::map<uint16_t, sdbus::Variant> entries;
    for (const auto& entry : device.advertisement.manufacturerData) {
        entries[entry.companyId] = sdbus::Variant(entry.data);
    }
    if (device.options.malformedProperties) entries[0xFFFF] = sdbus::Variant(std::string("not bytes"));
    return entries;
}

FakeBluez::Impl::Properties FakeBluez::Impl::serviceProperties(const std::string& devicePath,
                                                               const Service& service) {
    return Properties{{"UUID", sdbus::Variant(service.uuid.text)},
                      {"Device", sdbus::Variant(sdbus::ObjectPath(devicePath))},
                      {"Primary", sdbus::Variant(true)}};
}

FakeBluez::Impl::Properties FakeBluez::Impl::characteristicProperties(const Service& service,
                                                                      const Characteristic& characteristic) const {
    Properties properties{{"UUID", sdbus::Variant(characteristic.uuid.text)},
                          {"Service", sdbus::Variant(sdbus::ObjectPath(service.path))},
                          {"Flags", sdbus::Variant(flagsOf(characteristic.properties))},
                          {"Value", sdbus::Variant(characteristic.value)},
                          {"Notifying", sdbus::Variant(characteristic.notifying)},
                          {"MTU", sdbus::Variant(options_.attMtu)}};
    if (acquirable(characteristic)) properties["WriteAcquired"] = sdbus::Variant(bool(characteristic.socket));
    return properties;
}

bool FakeBluez::Impl::acquirable(const Characteristic& characteristic) const {
    return (characteristic.properties & BleProperty::kWriteWithoutResponse) != 0 &&
           options_.writeAcquire != WriteAcquire::unavailable;
}

void FakeBluez::Impl::emitChanged(const std::unique_ptr<sdbus::IObject>& object, const std::string& interface,
                                  const Properties& changed, const std::vector<std::string>& invalidated) {
    if (!bus_ || !object) return;
    sendSignal([&] {
        object->emitSignal("PropertiesChanged").onInterface(kProperties).withArguments(interface, changed,
                                                                                        invalidated);
    });
}

void FakeBluez::Impl::emitAdded(const std::string& path, const std::string& interface, const Properties& properties) {
    if (!bus_) return;
    Interfaces interfaces{{interface, properties}, {kProperties, {}}};
    sendSignal([&] {
        root_->emitSignal("InterfacesAdded").onInterface(kObjectManager).withArguments(sdbus::ObjectPath(path),
                                                                                        interfaces);
    });
}

void FakeBluez::Impl::emitRemoved(const std::string& path, const std::string& interface) {
    if (!bus_) return;
    std::vector<std::string> interfaces{interface, kProperties};
    sendSignal([&] {
        root_->emitSignal("InterfacesRemoved").onInterface(kObjectManager).withArguments(sdbus::ObjectPath(path),
                                                                                          interfaces);
    });
}

FakeBluez::Impl::Device* FakeBluez::Impl::find(const std::string& path) {
    auto it = devices_.find(path);
    return it == devices_.end() ? nullptr : &it->second;
}

FakeBluez::Impl::Characteristic* FakeBluez::Impl::findCharacteristic(const std::string& path, Device** owner) {
    for (auto& [devicePath, device] : devices_) {
        for (auto& service : device.gatt) {
            for (auto& characteristic : service.characteristics) {
                if (characteristic.path == path) {
                    *owner = &device;
                    return &characteristic;
                }
            }
        }
    }
    return nullptr;
}

void FakeBluez::Impl::exportDevice(const std::string& path, Device& device) {
    if (!bus_) return;
    device.object = sdbus::createObject(*bus_, path);
    auto& object = *device.object;
    object.registerMethod("Connect").onInterface(kDevice1).implementedAs(
        [this, path](sdbus::Result<>&& result) { connect(path, std::move(result)); });
    object.registerMethod("Disconnect").onInterface(kDevice1).implementedAs([this, path]() {
        record(path, "Disconnect", "");
        if (auto* found = find(path)) drop(path, *found);
    });
    const Properties properties = deviceProperties(device);
    auto has = [&](const char* name) { return properties.count(name) != 0; };
    object.registerProperty("Address").onInterface(kDevice1).withGetter([address = device.address] {
        return address;
    });
    object.registerProperty("Alias").onInterface(kDevice1).withGetter(
        [alias = properties.at("Alias").get<std::string>()] { return alias; });
    object.registerProperty("Adapter").onInterface(kDevice1).withGetter([] {
        return sdbus::ObjectPath(kAdapterPath);
    });
    object.registerProperty("UUIDs").onInterface(kDevice1).withGetter(
        [uuids = properties.at("UUIDs").get<std::vector<std::string>>()] { return uuids; });
    object.registerProperty("Connected").onInterface(kDevice1).withGetter([this, path] {
        auto* found = find(path);
        return found && found->connected;
    });
    object.registerProperty("ServicesResolved").onInterface(kDevice1).withGetter([this, path] {
        auto* found = find(path);
        return found && found->servicesResolved;
    });
    if (device.options.malformedProperties) {
        object.registerProperty("Name").onInterface(kDevice1).withGetter([] { return int32_t{7}; });
    } else if (device.name) {
        object.registerProperty("Name").onInterface(kDevice1).withGetter([name = *device.name] { return name; });
    }
    if (has("RSSI")) {
        object.registerProperty("RSSI").onInterface(kDevice1).withGetter([this, path] {
            auto* found = find(path);
            return static_cast<int16_t>(found ? found->rssi : 0);
        });
    }
    if (has("ManufacturerData")) {
        object.registerProperty("ManufacturerData").onInterface(kDevice1).withGetter([this, path] {
            auto* found = find(path);
            return found ? manufacturerData(*found) : std::map<uint16_t, sdbus::Variant>{};
        });
    }
    object.finishRegistration();
    emitAdded(path, kDevice1, properties);
}

void FakeBluez::Impl::advertiseAll() {
    if (!discovering_) return;
    for (auto& [path, device] : devices_) {
        if (device.connected || device.connecting) continue;
        device.rssiPresent = true;
        if (!device.object) {
            exportDevice(path, device);
            continue;
        }
        Properties changed{{"RSSI", sdbus::Variant(static_cast<int16_t>(device.rssi))}};
        if (!device.advertisement.manufacturerData.empty()) {
            changed["ManufacturerData"] = sdbus::Variant(manufacturerData(device));
        }
        emitChanged(device.object, kDevice1, changed);
    }
}

}  // namespace hollowkit
