#include "hollowkit/testing/fake_bluez.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <sdbus-c++/sdbus-c++.h>
#include <thread>
#include <tuple>
#include <utility>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/wireless/linux/bluez_names.h"

namespace hollowkit {
namespace {

constexpr const char* kBluezName = bluez::kService;
using bluez::kAdapter1;
using bluez::kDevice1;
using bluez::kGattCharacteristic1;
using bluez::kGattService1;
using bluez::kObjectManager;
using bluez::kProperties;
constexpr const char* kAdapterPath = "/org/bluez/hci0";
constexpr auto kSyncTimeout = std::chrono::seconds(10);

using Properties = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Properties>;
using Dictionary = std::map<std::string, sdbus::Variant>;

sdbus::Error failed(const std::string& message) {
    return sdbus::Error("org.bluez.Error.Failed", message);
}

std::vector<std::string> flagsOf(uint8_t properties) {
    std::vector<std::string> flags;
    if (properties & BleProperty::kRead) flags.emplace_back("read");
    if (properties & BleProperty::kWriteWithoutResponse) flags.emplace_back("write-without-response");
    if (properties & BleProperty::kWrite) flags.emplace_back("write");
    if (properties & BleProperty::kNotify) flags.emplace_back("notify");
    if (properties & BleProperty::kIndicate) flags.emplace_back("indicate");
    return flags;
}

}  // namespace

struct FakeBluez::Impl {
    struct Characteristic {
        std::string path;
        BleUuid uuid;
        uint8_t properties = 0;
        std::unique_ptr<sdbus::IObject> object;
        bool notifying = false;
        Bytes value;
        UniqueFd socket;  // our end of an AcquireWrite socket pair
    };
    struct Service {
        std::string path;
        BleUuid uuid;
        std::unique_ptr<sdbus::IObject> object;
        std::vector<Characteristic> characteristics;
    };
    struct Device {
        FakeGattPeripheral* peripheral = nullptr;
        FakeGattPeripheral::Port* port = nullptr;
        PeripheralOptions options;
        std::string address;
        std::optional<std::string> name;
        BleAdvertisement advertisement;
        int rssi = -60;
        std::vector<FakeGattPeripheral::Service> services;

        std::unique_ptr<sdbus::IObject> object;  // null until exported
        bool rssiPresent = false;
        bool connecting = false;
        bool connected = false;
        bool servicesResolved = false;
        std::vector<Service> gatt;
    };

    // The peripheral's way back: hops from its executor to the D-Bus thread.
    class Port final : public FakeGattPeripheral::Port {
    public:
        Port(Impl& impl, std::string path) : impl_(impl), path_(std::move(path)) {}
        void notify(const BleUuid& characteristic, Bytes value) override {
            impl_.post([impl = &impl_, path = path_, characteristic, value = std::move(value)] {
                impl->notifyFromPeripheral(path, characteristic, value);
            });
        }
        void disconnect(std::optional<BleError>) override {
            impl_.post([impl = &impl_, path = path_] {
                if (auto* device = impl->find(path)) impl->drop(path, *device);
            });
        }

    private:
        Impl& impl_;
        const std::string path_;
    };

    Impl(Executor& peripherals, Options options)
        : peripherals_(peripherals), options_(options), powered_(options.powered),
          wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        thread_ = std::thread([this] { run(); });
    }

    ~Impl() {
        {
            MutexLock lock(mutex_);
            stopping_ = true;
        }
        wake();
        thread_.join();
    }

    // ---- any thread ----

    void post(std::function<void()> command) {
        {
            MutexLock lock(mutex_);
            if (stopping_) return;
            commands_.push_back(std::move(command));
        }
        wake();
    }

    // Runs `work` on the D-Bus thread and waits for it (never call it there).
    bool runSync(const std::function<void()>& work) {
        auto done = std::make_shared<std::promise<void>>();
        auto finished = done->get_future();
        post([&work, done] {
            try {
                work();
            } catch (...) {
            }
            done->set_value();
        });
        return finished.wait_for(kSyncTimeout) == std::future_status::ready;
    }

    void record(std::string path, std::string method, std::string detail) {
        MutexLock lock(callsMutex_);
        calls_.push_back(Call{std::move(path), std::move(method), std::move(detail)});
    }

    // Runs `work` on the peripherals' executor while the fake lives.
    void toPeripherals(std::function<void()> work) {
        peripherals_.post([alive = alive_, work = std::move(work)] {
            if (*alive) work();
        });
    }

    // ---- D-Bus thread ----

    void wake() {
        uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd_.get(), &one, sizeof one);
    }

    void run() {
        setCurrentThreadName("Test.FakeBluez");
        for (;;) {
            uint64_t value = 0;
            [[maybe_unused]] auto got = ::read(wakeFd_.get(), &value, sizeof value);
            std::vector<std::function<void()>> commands;
            {
                MutexLock lock(mutex_);
                if (stopping_) break;
                commands.swap(commands_);
            }
            for (auto& command : commands) {
                try {
                    command();
                } catch (const std::exception& error) {
                    std::fprintf(stderr, "FakeBluez: %s\n", error.what());
                }
            }
            if (bus_) {
                try {
                    while (bus_->processPendingRequest()) {
                    }
                } catch (const std::exception& error) {
                    std::fprintf(stderr, "FakeBluez: bus failed: %s\n", error.what());
                    closeBus();
                }
            }
            waitForWork();
        }
        closeBus();
        devices_.clear();
    }

    // A method reply answered later, on this thread, after a trip to the
    // peripherals. It shares the connection, because releasing an unanswered
    // reply touches the connection that made it, even after the bus closed.
    std::shared_ptr<sdbus::Result<>> keepPending(sdbus::Result<>&& result) {
        struct Held {
            std::shared_ptr<sdbus::IConnection> bus;  // declared first: released last
            sdbus::Result<> result;
        };
        auto held = std::make_shared<Held>(Held{bus_, std::move(result)});
        return std::shared_ptr<sdbus::Result<>>(held, &held->result);
    }

    // Objects first: they hold the connection. Connected peripherals hear
    // that their link ended.
    void closeBus() {
        for (auto& [path, device] : devices_) {
            if (device.connected) toPeripherals([peripheral = device.peripheral] { peripheral->disconnected(); });
            device.connected = false;
            device.servicesResolved = false;
            device.gatt.clear();
            device.object.reset();
        }
        adapter_.reset();
        root_.reset();
        bus_.reset();
    }

    void waitForWork() {
        std::vector<pollfd> fds{pollfd{wakeFd_.get(), POLLIN, 0}};
        int timeoutMs = -1;
        if (bus_) {
            try {
                auto data = bus_->getEventLoopPollData();
                fds.push_back(pollfd{data.fd, data.events, 0});
                timeoutMs = data.getPollTimeout();
            } catch (const sdbus::Error& error) {
                std::fprintf(stderr, "FakeBluez: bus failed: %s\n", error.what());
                closeBus();
            }
        }
        std::vector<std::string> readers;
        if (!holdWrites_) {
            for (auto& [path, device] : devices_) {
                for (auto& service : device.gatt) {
                    for (auto& characteristic : service.characteristics) {
                        if (!characteristic.socket) continue;
                        fds.push_back(pollfd{characteristic.socket.get(), POLLIN, 0});
                        readers.push_back(characteristic.path);
                    }
                }
            }
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
        size_t first = fds.size() - readers.size();
        for (size_t i = 0; i < readers.size(); ++i) {
            if (fds[first + i].revents != 0) readSocket(readers[i], fds[first + i].revents);
        }
    }

    void readSocket(const std::string& path, short revents) {
        Device* device = nullptr;
        Characteristic* characteristic = findCharacteristic(path, &device);
        if (!characteristic || !characteristic->socket) return;
        for (;;) {
            uint8_t buffer[1024];
            ssize_t n = ::recv(characteristic->socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                Bytes value(buffer, buffer + n);
                record(path, "SocketWrite", hexString(value));
                toPeripherals([peripheral = device->peripheral, uuid = characteristic->uuid, value] {
                    peripheral->write(uuid, value, BleWriteType::withoutResponse);
                });
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if ((n == 0 && (revents & POLLHUP)) || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                // The client closed its end: the write is released.
                characteristic->socket.reset();
                emitChanged(characteristic->object, kGattCharacteristic1,
                            Properties{{"WriteAcquired", sdbus::Variant(false)}});
            }
            return;
        }
    }

    // ---- the object tree ----

    void open(const std::string& address) {
        bus_ = sdbus::createSessionBusConnectionWithAddress(address);
        bus_->requestName(kBluezName);
        // sd-bus answers GetManagedObjects at "/" from the properties each
        // object registers; InterfacesAdded and PropertiesChanged are sent
        // by hand below, as BlueZ decides when things appear and change.
        root_ = sdbus::createObject(*bus_, "/");
        root_->addObjectManager();
        if (options_.adapter != AdapterMode::absent) exportAdapter();
    }

    void exportAdapter() {
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

    void stopDiscovery() {
        discovering_ = false;
        emitChanged(adapter_, kAdapter1, Properties{{"Discovering", sdbus::Variant(false)}});
        for (auto& [path, device] : devices_) {
            if (device.object && device.rssiPresent && !device.connected) {
                device.rssiPresent = false;
                emitChanged(device.object, kDevice1, {}, {"RSSI"});
            }
        }
    }

    Properties deviceProperties(const Device& device) const {
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

    // BlueZ's form: a dictionary from company id to the bytes after it.
    static std::map<uint16_t, sdbus::Variant> manufacturerData(const Device& device) {
        std::map<uint16_t, sdbus::Variant> entries;
        for (const auto& entry : device.advertisement.manufacturerData) {
            entries[entry.companyId] = sdbus::Variant(entry.data);
        }
        if (device.options.malformedProperties) entries[0xFFFF] = sdbus::Variant(std::string("not bytes"));
        return entries;
    }

    static Properties serviceProperties(const std::string& devicePath, const Service& service) {
        return Properties{{"UUID", sdbus::Variant(service.uuid.text)},
                          {"Device", sdbus::Variant(sdbus::ObjectPath(devicePath))},
                          {"Primary", sdbus::Variant(true)}};
    }

    Properties characteristicProperties(const Service& service, const Characteristic& characteristic) const {
        Properties properties{{"UUID", sdbus::Variant(characteristic.uuid.text)},
                              {"Service", sdbus::Variant(sdbus::ObjectPath(service.path))},
                              {"Flags", sdbus::Variant(flagsOf(characteristic.properties))},
                              {"Value", sdbus::Variant(characteristic.value)},
                              {"Notifying", sdbus::Variant(characteristic.notifying)},
                              {"MTU", sdbus::Variant(options_.attMtu)}};
        if (acquirable(characteristic)) properties["WriteAcquired"] = sdbus::Variant(bool(characteristic.socket));
        return properties;
    }

    bool acquirable(const Characteristic& characteristic) const {
        return (characteristic.properties & BleProperty::kWriteWithoutResponse) != 0 &&
               options_.writeAcquire != WriteAcquire::unavailable;
    }

    // Signals are sent from anywhere on this thread, including between the
    // bus dying and the next processPendingRequest noticing it. A signal
    // that cannot go is dropped: that processing closes the bus, and the
    // state change behind the signal must still happen.
    template <typename Emit>
    void sendSignal(Emit&& emit) {
        try {
            emit();
        } catch (const sdbus::Error& error) {
            std::fprintf(stderr, "FakeBluez: signal lost: %s\n", error.what());
        }
    }

    void emitChanged(const std::unique_ptr<sdbus::IObject>& object, const std::string& interface,
                     const Properties& changed, const std::vector<std::string>& invalidated = {}) {
        if (!bus_ || !object) return;
        sendSignal([&] {
            object->emitSignal("PropertiesChanged").onInterface(kProperties).withArguments(interface, changed,
                                                                                            invalidated);
        });
    }

    void emitAdded(const std::string& path, const std::string& interface, const Properties& properties) {
        if (!bus_) return;
        Interfaces interfaces{{interface, properties}, {kProperties, {}}};
        sendSignal([&] {
            root_->emitSignal("InterfacesAdded").onInterface(kObjectManager).withArguments(sdbus::ObjectPath(path),
                                                                                            interfaces);
        });
    }

    void emitRemoved(const std::string& path, const std::string& interface) {
        if (!bus_) return;
        std::vector<std::string> interfaces{interface, kProperties};
        sendSignal([&] {
            root_->emitSignal("InterfacesRemoved").onInterface(kObjectManager).withArguments(sdbus::ObjectPath(path),
                                                                                              interfaces);
        });
    }

    Device* find(const std::string& path) {
        auto it = devices_.find(path);
        return it == devices_.end() ? nullptr : &it->second;
    }

    Characteristic* findCharacteristic(const std::string& path, Device** owner) {
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

    // Registers what GetManagedObjects lists for the device: the properties
    // it has now (no RSSI for a device BlueZ only remembers), read live.
    void exportDevice(const std::string& path, Device& device) {
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

    void advertiseAll() {
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

    // ---- connections ----

    void connect(const std::string& path, sdbus::Result<>&& result) {
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

    void finishConnect(const std::string& path, const std::optional<BleError>& error, sdbus::Result<>& result) {
        Device* device = find(path);
        if (!device || !device->connecting) return result.returnError(failed("Connection canceled"));
        device->connecting = false;
        if (error) return result.returnError(failed(error->description));
        device->connected = true;
        emitChanged(device->object, kDevice1, Properties{{"Connected", sdbus::Variant(true)}});
        result.returnResults();
        if (!options_.holdServicesResolved) resolve(path, *device);
    }

    // GATT discovery ends: the objects appear, then ServicesResolved.
    void resolve(const std::string& path, Device& device) {
        if (!device.connected || device.servicesResolved) return;
        exportGatt(path, device);
        device.servicesResolved = true;
        emitChanged(device.object, kDevice1, Properties{{"ServicesResolved", sdbus::Variant(true)}});
    }

    void exportGatt(const std::string& devicePath, Device& device) {
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

    void exportCharacteristic(Service& service, Characteristic& characteristic) {
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

    void setNotify(const std::string& path, bool enabled, sdbus::Result<>&& result) {
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

    void writeValue(const std::string& path, Bytes value, const Dictionary& options, sdbus::Result<>&& result) {
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

    std::tuple<sdbus::UnixFd, uint16_t> acquireWrite(const std::string& path) {
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

    void notifyFromPeripheral(const std::string& devicePath, const BleUuid& uuid, const Bytes& value) {
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

    // Ends a connection (either side), as BlueZ reports it: the flags drop,
    // then the GATT objects of the unbonded device go.
    void drop(const std::string& path, Device& device) {
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

    Executor& peripherals_;
    const Options options_;
    // Read and cleared on the peripherals' executor only.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    mutable Mutex callsMutex_;
    std::vector<Call> calls_ HK_GUARDED_BY(callsMutex_);

    Mutex mutex_;
    std::vector<std::function<void()>> commands_ HK_GUARDED_BY(mutex_);
    bool stopping_ HK_GUARDED_BY(mutex_) = false;

    // ---- D-Bus thread only ----
    std::shared_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IObject> root_;
    std::unique_ptr<sdbus::IObject> adapter_;
    bool powered_;
    bool discovering_ = false;
    bool holdWrites_ = false;
    std::map<std::string, Device> devices_;
    std::vector<std::unique_ptr<Port>> ports_;  // kept for the fake's life: models may hold them
    unsigned nextAddress_ = 1;

    UniqueFd wakeFd_;
    std::thread thread_;  // last: starts once the rest exists
};

FakeBluez::FakeBluez(Executor& peripherals, Options options)
    : impl_(std::make_unique<Impl>(peripherals, options)) {}

FakeBluez::~FakeBluez() {
    *impl_->alive_ = false;
}

Result<void, std::string> FakeBluez::start(const std::string& busAddress) {
    std::string error;
    bool done = impl_->runSync([&] {
        try {
            impl_->open(busAddress);
        } catch (const std::exception& e) {
            error = e.what();
            impl_->bus_.reset();
        }
    });
    if (!done) return unexpected(std::string("the fake BlueZ thread did not answer"));
    if (!error.empty()) return unexpected(error);
    return {};
}

std::string FakeBluez::add(FakeGattPeripheral& peripheral, PeripheralOptions options) {
    // The model is read here, on its own executor's thread.
    BlePeripheral identity = peripheral.identity();
    BleAdvertisement advertisement = peripheral.advertisement();
    int rssi = peripheral.rssi();
    std::vector<FakeGattPeripheral::Service> services = peripheral.services();
    std::string path;
    impl_->runSync([&] {
        char address[32];
        unsigned index = impl_->nextAddress_++;
        std::snprintf(address, sizeof address, "C0:FF:EE:00:%02X:%02X", (index >> 8) & 0xFF, index & 0xFF);
        path = std::string(kAdapterPath) + "/dev_C0_FF_EE_00_" + std::string(address + 12, 2) + "_" +
               std::string(address + 15, 2);
        auto& device = impl_->devices_[path];
        device.peripheral = &peripheral;
        impl_->ports_.push_back(std::make_unique<Impl::Port>(*impl_, path));
        device.port = impl_->ports_.back().get();
        device.options = options;
        device.address = address;
        device.name = advertisement.localName ? advertisement.localName : identity.name;
        device.advertisement = std::move(advertisement);
        device.rssi = rssi;
        device.services = std::move(services);
        if (impl_->adapter_ && (options.cached || impl_->discovering_)) {
            device.rssiPresent = impl_->discovering_;
            impl_->exportDevice(path, device);
        }
    });
    return path;
}

void FakeBluez::remove(const std::string& devicePath) {
    impl_->runSync([&] {
        Impl::Device* device = impl_->find(devicePath);
        if (!device) return;
        impl_->drop(devicePath, *device);
        if (device->object) impl_->emitRemoved(devicePath, kDevice1);
        impl_->devices_.erase(devicePath);
    });
}

void FakeBluez::setPowered(bool powered) {
    impl_->runSync([&] {
        if (!impl_->adapter_ || impl_->powered_ == powered) return;
        impl_->powered_ = powered;
        Properties changed{{"Powered", sdbus::Variant(powered)}};
        if (!powered && impl_->discovering_) {
            impl_->discovering_ = false;
            changed["Discovering"] = sdbus::Variant(false);
        }
        impl_->emitChanged(impl_->adapter_, kAdapter1, changed);
        if (!powered) {
            for (auto& [path, device] : impl_->devices_) impl_->drop(path, device);
        }
    });
}

void FakeBluez::holdSocketWrites(bool hold) {
    impl_->runSync([&] { impl_->holdWrites_ = hold; });
}

void FakeBluez::resolveServices(const std::string& devicePath) {
    impl_->runSync([&] {
        if (auto* device = impl_->find(devicePath)) impl_->resolve(devicePath, *device);
    });
}

std::vector<FakeBluez::Call> FakeBluez::calls() const {
    MutexLock lock(impl_->callsMutex_);
    return impl_->calls_;
}

size_t FakeBluez::count(std::string_view method) const {
    MutexLock lock(impl_->callsMutex_);
    size_t n = 0;
    for (const auto& call : impl_->calls_) n += call.method == method ? 1 : 0;
    return n;
}

bool FakeBluez::discovering() const {
    bool result = false;
    impl_->runSync([&] { result = impl_->discovering_; });
    return result;
}

bool FakeBluez::connected(const std::string& devicePath) const {
    bool result = false;
    impl_->runSync([&] {
        if (auto* device = impl_->find(devicePath)) result = device->connected;
    });
    return result;
}

}  // namespace hollowkit
