#pragma once

// BluezCentral's D-Bus thread, private to the backend. Its parts:
// bluez_central_engine.cpp   the thread, its loop and the bus connection
// bluez_central_objects.cpp  BlueZ's object tree, the adapter and discovery
// bluez_central_links.cpp    connections and GATT services
// bluez_central_writes.cpp   characteristic writes and acquired sockets

#include <unistd.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sdbus-c++/sdbus-c++.h>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/wireless/linux/bluez_central.h"
#include "hollowkit/wireless/linux/bluez_properties.h"

namespace hollowkit {

namespace bluez {

using InterfaceMap = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, InterfaceMap>;

}  // namespace bluez

// The D-Bus thread. Everything below the "D-Bus thread only" line is touched
// by that thread alone; post() is the one way in from other threads, and
// toMain() the one way out.
class BluezCentral::Engine {
    using Properties = bluez::Properties;
    using InterfaceMap = bluez::InterfaceMap;
    using ManagedObjects = bluez::ManagedObjects;

public:
    // The RepeatLog topic of the failures to reach BlueZ.
    static constexpr const char* kUnreachableTopic = "BlueZ";

    Engine(BluezCentral& owner, Executor& main, std::shared_ptr<bool> alive, std::string busAddress,
           std::shared_ptr<RepeatLog> repeats);
    ~Engine();

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Main executor, once.
    void start();

    // Any thread: runs `command` on the D-Bus thread, in posting order.
    void post(std::function<void()> command) HK_EXCLUDES(mutex_);

    // Commands (D-Bus thread).
    void startScan();
    void stopScan();
    void connect(const BlePeripheralId& id);
    void cancelConnection(const BlePeripheralId& id);
    void discoverServices(const BlePeripheralId& id, const std::vector<BleUuid>& uuids);
    void discoverCharacteristics(const BlePeripheralId& id, const BleService& service,
                                 const std::vector<BleUuid>& uuids);
    void setNotify(const BlePeripheralId& id, const BleCharacteristic& characteristic, bool enabled);
    void write(const BlePeripheralId& id, const BleCharacteristic& characteristic, Bytes value, BleWriteType type);

private:
    enum class Link : uint8_t { idle = 0, connecting, connected };
    enum class WritePath : uint8_t { undecided = 0, acquiring, socket, command };

    struct Device : bluez::AdvertisedFields {
        bool connected = false;
        bool servicesResolved = false;

        Link link = Link::idle;
        uint64_t generation = 0;  // bumped whenever a link ends; stale replies compare it
        bool droppedWhileConnecting = false;
        std::vector<std::vector<BleUuid>> pendingServiceQueries;  // until ServicesResolved
    };

    struct Service {
        std::string devicePath;
        std::optional<BleUuid> uuid;
    };

    struct Characteristic {
        std::string devicePath;
        std::string servicePath;
        std::optional<BleUuid> uuid;
        uint8_t properties = 0;
        uint16_t attMtu = 0;
        bool writeAcquirable = false;  // BlueZ lists WriteAcquired
        bool notifyRequested = false;

        WritePath writePath = WritePath::undecided;
        UniqueFd socket;                // from AcquireWrite
        bool awaitingWritable = false;  // the socket said EAGAIN
        std::deque<Bytes> outgoing;     // writes without response not yet sent
    };

    // A D-Bus error as the delegate reads it: BlueZ's message, else its name.
    static std::string describe(const sdbus::Error& error);
    // Runs a handler that D-Bus or the loop calls. Nothing may escape into
    // sd-bus's C frames or end the thread.
    template <typename F>
    static void guarded(const char* what, F&& body) noexcept {
        try {
            body();
        } catch (const std::exception& error) {
            PocketLog::logf("BlueZ: %s failed: %s", what, error.what());
        } catch (...) {
            PocketLog::logf("BlueZ: %s failed", what);
        }
    }

    void wake() {
        uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd_.get(), &one, sizeof one);
    }
    void clearWake() {
        uint64_t value = 0;
        [[maybe_unused]] auto got = ::read(wakeFd_.get(), &value, sizeof value);
    }

    // Posts `deliver` to the main executor; it runs there only while the
    // central lives. Never called with a lock held.
    template <typename F>
    void toMain(F&& deliver) {
        main_.post([alive = alive_, owner = &owner_, deliver = std::forward<F>(deliver)]() mutable {
            if (*alive) deliver(*owner);
        });
    }

    void run() HK_EXCLUDES(mutex_);
    void openBus();
    void processBus();
    void waitForWork();
    void shutdown();
    void busLost(const std::string& why);

    sdbus::IProxy& proxy(const std::string& path);
    void sendNoReply(const std::string& path, const char* interface, const char* method);

    void enumerate();
    void onManagedObjects(const sdbus::Error* error, const ManagedObjects& objects);
    void onInterfacesAdded(sdbus::Message& message);
    void onInterfacesRemoved(sdbus::Message& message);
    void onPropertiesChanged(sdbus::Message& message);
    void onNameOwnerChanged(sdbus::Message& message);
    void addInterfaces(const std::string& path, const InterfaceMap& interfaces);
    void forgetEverything(const std::string& why);
    void chooseAdapter();
    void publishState();

    void applyDevice(const std::string& path, Device& device, const Properties& changed,
                     const std::vector<std::string>& invalidated);
    void reportDiscovery(const std::string& path, const Device& device);
    void reportFreshDevices();
    void startDiscovery();
    void onStartDiscovery(const std::string& adapter, const sdbus::Error* error);

    void onConnectReply(const BlePeripheralId& id, uint64_t generation, const sdbus::Error* error);
    // Ends the peripheral's link (if any) and reports how it ended.
    void endLink(const std::string& path, Device& device, const std::optional<BleError>& error);
    void releaseCharacteristics(const std::string& devicePath);
    void answerServiceQuery(const std::string& path, const std::vector<BleUuid>& uuids);

    Device* connectedDevice(const BlePeripheralId& id);
    std::string owningDevice(const std::string& path) const;
    BleCharacteristic describeCharacteristic(const std::string& path, const Characteristic& characteristic) const;

    void pumpWrites(const std::string& path);
    void acquireWrite(const std::string& path, uint64_t generation);
    void sendCommandWrite(const std::string& path, Bytes value);
    void writesGone(const std::string& devicePath, int count);

    BluezCentral& owner_;  // dereferenced only inside toMain tasks, on the main executor
    Executor& main_;
    const std::shared_ptr<bool> alive_;
    const std::string busAddress_;
    // Failures to reach BlueZ, under kUnreachableTopic: logged once across
    // the centrals sharing it, until one lists BlueZ's objects.
    const std::shared_ptr<RepeatLog> repeats_;
    UniqueFd wakeFd_;

    Mutex mutex_;
    std::vector<std::function<void()>> commands_ HK_GUARDED_BY(mutex_);
    bool stopping_ HK_GUARDED_BY(mutex_) = false;
    std::thread thread_;

    // ---- D-Bus thread only ----
    std::unique_ptr<sdbus::IConnection> bus_;
    std::vector<sdbus::Slot> matches_;
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies_;
    uint64_t enumeration_ = 0;  // answers to an older GetManagedObjects are dropped

    bool enumerated_ = false;
    bool accessDenied_ = false;
    std::optional<BleAdapterState> published_;
    std::map<std::string, bool> adapters_;  // path → Powered
    std::string adapterPath_;               // the adapter in use; empty: none
    std::map<std::string, Device> devices_;
    std::map<std::string, Service> services_;
    std::map<std::string, Characteristic> characteristics_;

    bool scanWanted_ = false;
    bool discoveryStarting_ = false;
    bool discovering_ = false;  // a discovery this central started is running
};

}  // namespace hollowkit
