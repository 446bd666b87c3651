#pragma once

// FakeBluez's inside, shared by its three files: the D-Bus thread and the
// public calls in fake_bluez.cpp, the adapter's and the devices' objects in
// fake_bluez_objects.cpp, connections and GATT in fake_bluez_gatt.cpp.
// Private to the testing library.

#include <sys/eventfd.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sdbus-c++/sdbus-c++.h>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/fake_bluez.h"
#include "hollowkit/wireless/linux/bluez_names.h"

namespace hollowkit {

struct FakeBluez::Impl {
    using Properties = std::map<std::string, sdbus::Variant>;
    using Interfaces = std::map<std::string, Properties>;
    using Dictionary = std::map<std::string, sdbus::Variant>;

    static constexpr const char* kBluezName = bluez::kService;
    static constexpr const char* kAdapter1 = bluez::kAdapter1;
    static constexpr const char* kDevice1 = bluez::kDevice1;
    static constexpr const char* kGattCharacteristic1 = bluez::kGattCharacteristic1;
    static constexpr const char* kGattService1 = bluez::kGattService1;
    static constexpr const char* kObjectManager = bluez::kObjectManager;
    static constexpr const char* kProperties = bluez::kProperties;
    static constexpr const char* kAdapterPath = "/org/bluez/hci0";
    static constexpr auto kSyncTimeout = std::chrono::seconds(10);

    static sdbus::Error failed(const std::string& message) { return sdbus::Error("org.bluez.Error.Failed", message); }
    static std::vector<std::string> flagsOf(uint8_t properties) {
        std::vector<std::string> flags;
        if (properties & BleProperty::kRead) flags.emplace_back("read");
        if (properties & BleProperty::kWriteWithoutResponse) flags.emplace_back("write-without-response");
        if (properties & BleProperty::kWrite) flags.emplace_back("write");
        if (properties & BleProperty::kNotify) flags.emplace_back("notify");
        if (properties & BleProperty::kIndicate) flags.emplace_back("indicate");
        return flags;
    }

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

    void post(std::function<void()> command);

    // Runs `work` on the D-Bus thread and waits for it (never call it there).
    bool runSync(const std::function<void()>& work);

    void record(std::string path, std::string method, std::string detail);

    // Runs `work` on the peripherals' executor while the fake lives.
    void toPeripherals(std::function<void()> work);

    // ---- D-Bus thread ----

    void wake();

    void run();

    // A method reply answered later, on this thread, after a trip to the
    // peripherals. It shares the connection, because releasing an unanswered
    // reply touches the connection that made it, even after the bus closed.
    std::shared_ptr<sdbus::Result<>> keepPending(sdbus::Result<>&& result);

    // Objects first: they hold the connection. Connected peripherals hear
    // that their link ended.
    void closeBus();

    void waitForWork();

    void readSocket(const std::string& path, short revents);

    // ---- the object tree ----

    void open(const std::string& address);

    void exportAdapter();

    void stopDiscovery();

    Properties deviceProperties(const Device& device) const;

    // BlueZ's form: a dictionary from company id to the bytes after it.
    static std::map<uint16_t, sdbus::Variant> manufacturerData(const Device& device);

    static Properties serviceProperties(const std::string& devicePath, const Service& service);

    Properties characteristicProperties(const Service& service, const Characteristic& characteristic) const;

    bool acquirable(const Characteristic& characteristic) const;

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
                     const Properties& changed, const std::vector<std::string>& invalidated = {});

    void emitAdded(const std::string& path, const std::string& interface, const Properties& properties);

    void emitRemoved(const std::string& path, const std::string& interface);

    Device* find(const std::string& path);

    Characteristic* findCharacteristic(const std::string& path, Device** owner);

    // Registers what GetManagedObjects lists for the device: the properties
    // it has now (no RSSI for a device BlueZ only remembers), read live.
    void exportDevice(const std::string& path, Device& device);

    void advertiseAll();

    // ---- connections ----

    void connect(const std::string& path, sdbus::Result<>&& result);

    void finishConnect(const std::string& path, const std::optional<BleError>& error, sdbus::Result<>& result);

    // GATT discovery ends: the objects appear, then ServicesResolved.
    void resolve(const std::string& path, Device& device);

    void exportGatt(const std::string& devicePath, Device& device);

    void exportCharacteristic(Service& service, Characteristic& characteristic);

    void setNotify(const std::string& path, bool enabled, sdbus::Result<>&& result);

    void writeValue(const std::string& path, Bytes value, const Dictionary& options, sdbus::Result<>&& result);

    std::tuple<sdbus::UnixFd, uint16_t> acquireWrite(const std::string& path);

    void notifyFromPeripheral(const std::string& devicePath, const BleUuid& uuid, const Bytes& value);

    // Ends a connection (either side), as BlueZ reports it: the flags drop,
    // then the GATT objects of the unbonded device go.
    void drop(const std::string& path, Device& device);

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

}  // namespace hollowkit
