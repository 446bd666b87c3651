// FakeBluez: connections and GATT: connecting and resolving a device, its
// services and characteristics, notifications, writes and the write socket,
// and a link that ends.

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "hollowkit/testing/fake_bluez_impl.h"

namespace hollowkit {

void FakeBluez::Impl::connect(const std::string& path, sdbus::Result<>&& result) {
    record(path, "Connect", "");
    Device* device = find(path);
    if (!device) return result.returnError(sdbus::Error("org.freedesktop.DBus.Error.UnknownObject", path));
    if (!powered_) return result.returnError(sdbus::Error("org.bluez.Error.NotReady", "Resource Not Ready"));
    if (device->connected) return result.returnResults();
    if (device->connecting) return result.returnError(sdbus::Error("org.bluez.Error.InProgress", "In Progress"));
    device->connecting = true;
    auto pending = keepPending(std::move(result));
    toPeripherals([this, path, peripheral = device->peripheral, port = device->port, pending] {
        std::optional<BleError> error = peripheral->connectError();
        if (!error) peripheral->connected(*port);
        post([this, path, error, pending] { finishConnect(path, error, *pending); });
    });
}

void FakeBluez::Impl::finishConnect(const std::string& path, const std::optional<BleError>& error,
                                    sdbus::Result<>& result) {
    Device* device = find(path);
    if (!device || !device->connecting) return result.returnError(failed("Connection canceled"));
    device->connecting = false;
    if (error) return result.returnError(failed(error->description));
    device->connected = true;
    emitChanged(device->object, kDevice1, Properties{{"Connected", sdbus::Variant(true)}});
    result.returnResults();
    if (!options_.holdServicesResolved) resolve(path, *device);
}

void FakeBluez::Impl::resolve(const std::string& path, Device& device) {
    if (!device.connected || device.servicesResolved) return;
    exportGatt(path, device);
    device.servicesResolved = true;
    emitChanged(device.object, kDevice1, Properties{{"ServicesResolved", sdbus::Variant(true)}});
}

void FakeBluez::Impl::exportGatt(const std::string& devicePath, Device& device) {
    if (!bus_) return;
    char buffer[64];
    unsigned handle = 0x0010;
    for (const auto& model : device.services) {
        Service service;
        std::snprintf(buffer, sizeof buffer, "/service%04x", handle);
        service.path = devicePath + buffer;
        service.uuid = model.uuid;
        unsigned characteristicHandle = handle + 1;
        for (const auto& entry : model.characteristics) {
            Characteristic characteristic;
            std::snprintf(buffer, sizeof buffer, "/char%04x", characteristicHandle);
            characteristic.path = service.path + buffer;
            characteristic.uuid = entry.uuid;
            characteristic.properties = entry.properties;
            service.characteristics.push_back(std::move(characteristic));
            characteristicHandle += 3;
        }
        handle = characteristicHandle + 1;
        device.gatt.push_back(std::move(service));
    }
    for (auto& service : device.gatt) {
        service.object = sdbus::createObject(*bus_, service.path);
        service.object->registerProperty("UUID").onInterface(kGattService1).withGetter(
            [uuid = service.uuid.text] { return uuid; });
        service.object->registerProperty("Device").onInterface(kGattService1).withGetter([devicePath] {
            return sdbus::ObjectPath(devicePath);
        });
        service.object->registerProperty("Primary").onInterface(kGattService1).withGetter([] { return true; });
        service.object->finishRegistration();
        emitAdded(service.path, kGattService1, serviceProperties(devicePath, service));
        for (auto& characteristic : service.characteristics) {
            exportCharacteristic(service, characteristic);
            emitAdded(characteristic.path, kGattCharacteristic1, characteristicProperties(service, characteristic));
        }
    }
}

void FakeBluez::Impl::exportCharacteristic(Service& service, Characteristic& characteristic) {
    const std::string path = characteristic.path;
    auto& object = characteristic.object;
    object = sdbus::createObject(*bus_, path);
    object->registerMethod("StartNotify").onInterface(kGattCharacteristic1).implementedAs(
        [this, path](sdbus::Result<>&& result) { setNotify(path, true, std::move(result)); });
    object->registerMethod("StopNotify").onInterface(kGattCharacteristic1).implementedAs(
        [this, path](sdbus::Result<>&& result) { setNotify(path, false, std::move(result)); });
    object->registerMethod("WriteValue")
        .onInterface(kGattCharacteristic1)
        .implementedAs([this, path](sdbus::Result<>&& result, std::vector<uint8_t> value, Dictionary options) {
            writeValue(path, std::move(value), options, std::move(result));
        });
    object->registerMethod("ReadValue")
        .onInterface(kGattCharacteristic1)
        .implementedAs([this, path](const Dictionary&) -> std::vector<uint8_t> {
            Device* device = nullptr;
            Characteristic* found = findCharacteristic(path, &device);
            return found ? found->value : std::vector<uint8_t>{};
        });
    object->registerProperty("UUID").onInterface(kGattCharacteristic1).withGetter(
        [uuid = characteristic.uuid.text] { return uuid; });
    object->registerProperty("Service").onInterface(kGattCharacteristic1).withGetter(
        [servicePath = service.path] { return sdbus::ObjectPath(servicePath); });
    object->registerProperty("Flags").onInterface(kGattCharacteristic1).withGetter(
        [flags = flagsOf(characteristic.properties)] { return flags; });
    object->registerProperty("MTU").onInterface(kGattCharacteristic1).withGetter(
        [mtu = options_.attMtu] { return mtu; });
    object->registerProperty("Value").onInterface(kGattCharacteristic1).withGetter([this, path] {
        Device* device = nullptr;
        Characteristic* found = findCharacteristic(path, &device);
        return found ? found->value : Bytes{};
    });
    object->registerProperty("Notifying").onInterface(kGattCharacteristic1).withGetter([this, path] {
        Device* device = nullptr;
        Characteristic* found = findCharacteristic(path, &device);
        return found && found->notifying;
    });
    if (acquirable(characteristic)) {
        object->registerProperty("WriteAcquired").onInterface(kGattCharacteristic1).withGetter([this, path] {
            Device* device = nullptr;
            Characteristic* found = findCharacteristic(path, &device);
            return found && bool(found->socket);
        });
        object->registerMethod("AcquireWrite")
            .onInterface(kGattCharacteristic1)
            .implementedAs([this, path](const Dictionary&) { return acquireWrite(path); });
    }
    object->finishRegistration();
}

void FakeBluez::Impl::setNotify(const std::string& path, bool enabled, sdbus::Result<>&& result) {
    record(path, enabled ? "StartNotify" : "StopNotify", "");
    Device* device = nullptr;
    Characteristic* characteristic = findCharacteristic(path, &device);
    if (!characteristic) return result.returnError(failed("Not connected"));
    auto pending = keepPending(std::move(result));
    toPeripherals([this, path, enabled, pending, peripheral = device->peripheral, uuid = characteristic->uuid] {
        std::optional<BleError> error = peripheral->setNotify(uuid, enabled);
        post([this, path, enabled, pending, error] {
            Device* owner = nullptr;
            Characteristic* found = findCharacteristic(path, &owner);
            if (!found || !owner->connected) return pending->returnError(failed("Not connected"));
            if (error) return pending->returnError(failed(error->description));
            if (found->notifying != enabled) {
                found->notifying = enabled;
                emitChanged(found->object, kGattCharacteristic1,
                            Properties{{"Notifying", sdbus::Variant(enabled)}});
            }
            pending->returnResults();
        });
    });
}

void FakeBluez::Impl::writeValue(const std::string& path, Bytes value, const Dictionary& options,
                                 sdbus::Result<>&& result) {
    std::string type = "request";
    if (auto it = options.find("type"); it != options.end() && it->second.containsValueOfType<std::string>()) {
        type = it->second.get<std::string>();
    }
    record(path, "WriteValue", "type=" + type + " " + hexString(value));
    Device* device = nullptr;
    Characteristic* characteristic = findCharacteristic(path, &device);
    if (!characteristic) return result.returnError(failed("Not connected"));
    BleWriteType writeType = type == "command" ? BleWriteType::withoutResponse : BleWriteType::withResponse;
    auto pending = keepPending(std::move(result));
    toPeripherals([this, path, value = std::move(value), writeType, pending, peripheral = device->peripheral,
                   uuid = characteristic->uuid] {
        std::optional<BleError> error = peripheral->write(uuid, value, writeType);
        post([this, path, writeType, pending, error] {
            Device* owner = nullptr;
            // A peripheral that dropped the link while taking the write
            // fails it, as BlueZ does once the link is gone.
            if (!findCharacteristic(path, &owner) || !owner->connected) {
                return pending->returnError(failed("Not connected"));
            }
            if (error && writeType == BleWriteType::withResponse) {
                return pending->returnError(failed(error->description));
            }
            pending->returnResults();
        });
    });
}

std::tuple<sdbus::UnixFd, uint16_t> FakeBluez::Impl::acquireWrite(const std::string& path) {
    record(path, "AcquireWrite", "");
    if (options_.writeAcquire == WriteAcquire::refused) {
        throw sdbus::Error("org.bluez.Error.NotSupported", "Operation is not supported");
    }
    Device* device = nullptr;
    Characteristic* characteristic = findCharacteristic(path, &device);
    if (!characteristic || !device->connected) throw failed("Not connected");
    if (characteristic->socket) throw sdbus::Error("org.bluez.Error.NotPermitted", "Write acquired");
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) {
        throw failed("socketpair failed");
    }
    characteristic->socket.reset(pair[0]);
    if (options_.socketBufferBytes > 0) {
        ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &options_.socketBufferBytes,
                     sizeof options_.socketBufferBytes);
    }
    emitChanged(characteristic->object, kGattCharacteristic1,
                Properties{{"WriteAcquired", sdbus::Variant(true)}});
    return {sdbus::UnixFd(pair[1], sdbus::adopt_fd), options_.attMtu};
}

void FakeBluez::Impl::notifyFromPeripheral(const std::string& devicePath, const BleUuid& uuid, const Bytes& value) {
    Device* device = find(devicePath);
    if (!device || !device->connected) return;
    for (auto& service : device->gatt) {
        for (auto& characteristic : service.characteristics) {
            if (characteristic.uuid != uuid) continue;
            if (!characteristic.notifying) return;
            characteristic.value = value;
            emitChanged(characteristic.object, kGattCharacteristic1,
                        Properties{{"Value", sdbus::Variant(value)}});
            return;
        }
    }
}

void FakeBluez::Impl::drop(const std::string& path, Device& device) {
    if (!device.connected) return;
    device.connected = false;
    device.servicesResolved = false;
    emitChanged(device.object, kDevice1,
                Properties{{"ServicesResolved", sdbus::Variant(false)}, {"Connected", sdbus::Variant(false)}});
    for (auto& service : device.gatt) {
        for (auto& characteristic : service.characteristics) emitRemoved(characteristic.path, kGattCharacteristic1);
        emitRemoved(service.path, kGattService1);
    }
    device.gatt.clear();
    toPeripherals([peripheral = device.peripheral] { peripheral->disconnected(); });
    (void)path;
}

}  // namespace hollowkit
