#include "hollowkit/wireless/linux/bluez_central.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <sdbus-c++/sdbus-c++.h>
#include <thread>
#include <utility>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/wireless/linux/bluez_names.h"
#include "hollowkit/wireless/linux/bluez_properties.h"

namespace hollowkit {
namespace {

constexpr const char* kThreadLabel = "HollowKit.BlueZ";

constexpr const char* kBluezService = bluez::kService;
using bluez::kAdapter1;
using bluez::kDevice1;
using bluez::kGattCharacteristic1;
using bluez::kGattService1;
using bluez::kObjectManager;

// BlueZ gives up on an LE connection attempt on its own; this only bounds a
// BlueZ that never answers.
constexpr auto kConnectTimeout = std::chrono::seconds(45);
// Writes without response held on this thread while BlueZ's socket is full.
// The link stops at kWriteCredits, so this bound only stops a caller that
// ignores canSendWriteWithoutResponse().
constexpr size_t kMaximumQueuedWrites = 256;

using Properties = std::map<std::string, sdbus::Variant>;
using InterfaceMap = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, InterfaceMap>;

using bluez::propertyValue;

bool contains(const std::vector<std::string>& list, std::string_view item) {
    for (const auto& entry : list) {
        if (entry == item) return true;
    }
    return false;
}

std::string describe(const sdbus::Error& error) {
    return error.getMessage().empty() ? error.getName() : error.getMessage();
}

bool isAccessError(const sdbus::Error& error) {
    return error.getName() == "org.freedesktop.DBus.Error.AccessDenied" ||
           error.getName() == "org.bluez.Error.NotPermitted";
}

bool matchesFilter(const std::vector<BleUuid>& filter, const BleUuid& uuid) {
    if (filter.empty()) return true;
    for (const auto& wanted : filter) {
        if (wanted == uuid) return true;
    }
    return false;
}

using bluez::propertiesFromFlags;

// Runs a handler that D-Bus or the loop calls. Nothing may escape into
// sd-bus's C frames or end the thread.
template <typename F>
void guarded(const char* what, F&& body) noexcept {
    try {
        body();
    } catch (const std::exception& error) {
        PocketLog::logf("BlueZ: %s failed: %s", what, error.what());
    } catch (...) {
        PocketLog::logf("BlueZ: %s failed", what);
    }
}

}  // namespace

// The D-Bus thread. Everything below the "D-Bus thread only" line is touched
// by that thread alone; post() is the one way in from other threads, and
// toMain() the one way out.
class BluezCentral::Engine {
public:
    Engine(BluezCentral& owner, Executor& main, std::shared_ptr<bool> alive, std::string busAddress)
        : owner_(owner), main_(main), alive_(std::move(alive)), busAddress_(std::move(busAddress)),
          wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ~Engine() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake();
        if (thread_.joinable()) thread_.join();
    }

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Main executor, once.
    void start() {
        thread_ = std::thread([this] { run(); });
    }

    // Any thread: runs `command` on the D-Bus thread, in posting order.
    void post(std::function<void()> command) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            commands_.push_back(std::move(command));
        }
        wake();
    }

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

    void run();
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
    UniqueFd wakeFd_;

    std::mutex mutex_;
    std::vector<std::function<void()>> commands_;  // guarded by mutex_
    bool stopping_ = false;                        // guarded by mutex_
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

// ---- loop ----

void BluezCentral::Engine::run() {
    enterLibraryThread(kThreadLabel);
    openBus();
    for (;;) {
        clearWake();
        std::vector<std::function<void()>> commands;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
            commands.swap(commands_);
        }
        for (auto& command : commands) guarded("command", command);
        processBus();
        waitForWork();
    }
    shutdown();
}

void BluezCentral::Engine::openBus() {
    try {
        bus_ = busAddress_.empty() ? sdbus::createSystemBusConnection()
                                   : sdbus::createSessionBusConnectionWithAddress(busAddress_);
    } catch (const std::exception& error) {
        PocketLog::logf("BlueZ: cannot reach the system bus: %s", error.what());
        bus_.reset();
        publishState();
        return;
    }
    guarded("subscribing to BlueZ signals", [&] {
        auto add = [&](const std::string& rule, void (Engine::*handler)(sdbus::Message&)) {
            matches_.push_back(bus_->addMatch(rule, [this, handler](sdbus::Message& message) {
                guarded("a BlueZ signal", [&] { (this->*handler)(message); });
            }));
        };
        // Subscribed before the first GetManagedObjects so that nothing
        // happening in between is missed.
        add("type='signal',sender='org.bluez',path='/',interface='org.freedesktop.DBus.ObjectManager',"
            "member='InterfacesAdded'",
            &Engine::onInterfacesAdded);
        add("type='signal',sender='org.bluez',path='/',interface='org.freedesktop.DBus.ObjectManager',"
            "member='InterfacesRemoved'",
            &Engine::onInterfacesRemoved);
        add("type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',"
            "member='PropertiesChanged',path_namespace='/org/bluez'",
            &Engine::onPropertiesChanged);
        add("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
            "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.bluez'",
            &Engine::onNameOwnerChanged);
    });
    enumerate();
}

void BluezCentral::Engine::processBus() {
    if (!bus_) return;
    try {
        while (bus_->processPendingRequest()) {
        }
    } catch (const std::exception& error) {
        busLost(error.what());
    }
}

void BluezCentral::Engine::waitForWork() {
    std::vector<pollfd> fds;
    fds.push_back(pollfd{wakeFd_.get(), POLLIN, 0});
    int timeoutMs = -1;
    if (bus_) {
        try {
            auto poll = bus_->getEventLoopPollData();
            fds.push_back(pollfd{poll.fd, poll.events, 0});
            timeoutMs = poll.getPollTimeout();
        } catch (const std::exception& error) {
            busLost(error.what());
            return;
        }
    }
    std::vector<std::string> writers;
    for (auto& [path, characteristic] : characteristics_) {
        if (characteristic.awaitingWritable && characteristic.socket) {
            fds.push_back(pollfd{characteristic.socket.get(), POLLOUT, 0});
            writers.push_back(path);
        }
    }
    if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
    size_t first = fds.size() - writers.size();
    for (size_t i = 0; i < writers.size(); ++i) {
        if (fds[first + i].revents == 0) continue;
        auto it = characteristics_.find(writers[i]);
        if (it == characteristics_.end()) continue;
        it->second.awaitingWritable = false;
        guarded("sending queued writes", [&] { pumpWrites(writers[i]); });
    }
}

void BluezCentral::Engine::shutdown() {
    if (bus_) {
        guarded("leaving BlueZ", [&] {
            // Like Core Bluetooth when its manager goes away: what this
            // central started ends with it.
            if ((discovering_ || discoveryStarting_) && !adapterPath_.empty()) {
                sendNoReply(adapterPath_, kAdapter1, "StopDiscovery");
            }
            for (auto& [path, device] : devices_) {
                if (device.link != Link::idle) sendNoReply(path, kDevice1, "Disconnect");
            }
        });
    }
    characteristics_.clear();
    proxies_.clear();
    matches_.clear();
    // The connection flushes what is queued (the calls above) as it closes.
    guarded("closing the bus", [&] { bus_.reset(); });
}

void BluezCentral::Engine::busLost(const std::string& why) {
    PocketLog::logf("BlueZ: lost the system bus: %s", why.c_str());
    forgetEverything("The Bluetooth service is unavailable");
    // Writes still on their way die with the proxies and will never be
    // counted as gone: start every window afresh.
    proxies_.clear();
    matches_.clear();
    guarded("closing the bus", [&] { bus_.reset(); });
    toMain([](BluezCentral& central) { central.windows_.clear(); });
    publishState();
}

sdbus::IProxy& BluezCentral::Engine::proxy(const std::string& path) {
    auto& slot = proxies_[path];
    if (!slot) slot = sdbus::createProxy(*bus_, kBluezService, path);
    return *slot;
}

void BluezCentral::Engine::sendNoReply(const std::string& path, const char* interface, const char* method) {
    auto& target = proxy(path);
    auto call = target.createMethodCall(interface, method);
    call.dontExpectReply();
    target.callMethod(call);
}

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
        PocketLog::logf("BlueZ: GetManagedObjects failed: %s", error.what());
        enumerated_ = true;
        publishState();
    }
}

void BluezCentral::Engine::onManagedObjects(const sdbus::Error* error, const ManagedObjects& objects) {
    enumerated_ = true;
    if (error) {
        if (isAccessError(*error)) accessDenied_ = true;
        PocketLog::logf("BlueZ: cannot list Bluetooth objects: %s", describe(*error).c_str());
        publishState();
        return;
    }
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
    if (name != kBluezService) return;
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

void BluezCentral::Engine::write(const BlePeripheralId& id, const BleCharacteristic& described, Bytes value,
                                 BleWriteType type) {
    auto* device = connectedDevice(id);
    auto it = characteristics_.find(described.handle);
    bool usable = device && it != characteristics_.end() && it->second.devicePath == id;

    if (type == BleWriteType::withResponse) {
        if (!usable) return;
        uint64_t generation = device->generation;
        std::map<std::string, sdbus::Variant> options{{"type", sdbus::Variant(std::string("request"))}};
        proxy(described.handle)
            .callMethodAsync("WriteValue")
            .onInterface(kGattCharacteristic1)
            .withArguments(value, options)
            .uponReplyInvoke([this, id, described, generation](const sdbus::Error* error) {
                guarded("writing", [&] {
                    auto current = devices_.find(id);
                    if (current == devices_.end() || current->second.generation != generation ||
                        current->second.link != Link::connected) {
                        return;
                    }
                    std::optional<BleError> failure;
                    if (error) failure = BleError{describe(*error)};
                    toMain([id, described, failure](BluezCentral& central) {
                        central.delegate_->peripheralDidWriteValue(id, described, failure);
                    });
                });
            });
        return;
    }

    // Without response: every write is answered by exactly one writesGone,
    // however it ends, so the main executor's window stays exact.
    if (!usable) {
        writesGone(id, 1);
        return;
    }
    auto& characteristic = it->second;
    if (characteristic.outgoing.size() >= kMaximumQueuedWrites) {
        PocketLog::log("BlueZ: too many writes waiting; one was dropped");
        writesGone(id, 1);
        return;
    }
    characteristic.outgoing.push_back(std::move(value));
    pumpWrites(described.handle);
}

// Sends what waits on one characteristic by the path decided for it: the
// AcquireWrite socket when BlueZ offers one, else WriteValue "command".
void BluezCentral::Engine::pumpWrites(const std::string& path) {
    auto it = characteristics_.find(path);
    if (it == characteristics_.end()) return;
    auto& characteristic = it->second;
    if (characteristic.writePath == WritePath::undecided) {
        auto device = devices_.find(characteristic.devicePath);
        if (device == devices_.end()) return;
        if (characteristic.writeAcquirable) {
            characteristic.writePath = WritePath::acquiring;
            acquireWrite(path, device->second.generation);
            return;
        }
        characteristic.writePath = WritePath::command;
    }
    switch (characteristic.writePath) {
        case WritePath::undecided:
        case WritePath::acquiring:
            return;
        case WritePath::command:
            while (!characteristic.outgoing.empty()) {
                Bytes value = std::move(characteristic.outgoing.front());
                characteristic.outgoing.pop_front();
                sendCommandWrite(path, std::move(value));
            }
            return;
        case WritePath::socket:
            break;
    }
    int sent = 0;
    while (!characteristic.outgoing.empty() && !characteristic.awaitingWritable) {
        const Bytes& value = characteristic.outgoing.front();
        // A SOCK_SEQPACKET socket: each send is one ATT write, whole or not at all.
        ssize_t n = ::send(characteristic.socket.get(), value.data(), value.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) {
            characteristic.outgoing.pop_front();
            ++sent;
            continue;
        }
        int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            // Full: the peripheral cannot take more now. POLLOUT resumes.
            characteristic.awaitingWritable = true;
            break;
        }
        if (error == EMSGSIZE) {
            PocketLog::logf("BlueZ: a %zu-byte write does not fit the link; dropped", value.size());
            characteristic.outgoing.pop_front();
            ++sent;
            continue;
        }
        PocketLog::logf("BlueZ: write socket failed (%s); writing with WriteValue", std::strerror(error));
        characteristic.socket.reset();
        characteristic.writePath = WritePath::command;
        writesGone(characteristic.devicePath, sent);
        pumpWrites(path);
        return;
    }
    writesGone(characteristic.devicePath, sent);
}

void BluezCentral::Engine::acquireWrite(const std::string& path, uint64_t generation) {
    auto fallBack = [this, path](const std::string& why) {
        PocketLog::logf("BlueZ: AcquireWrite failed (%s); writing with WriteValue", why.c_str());
        if (auto it = characteristics_.find(path); it != characteristics_.end()) {
            it->second.writePath = WritePath::command;
            pumpWrites(path);
        }
    };
    try {
        proxy(path)
            .callMethodAsync("AcquireWrite")
            .onInterface(kGattCharacteristic1)
            .withArguments(std::map<std::string, sdbus::Variant>{})
            .uponReplyInvoke([this, path, generation, fallBack](const sdbus::Error* error, sdbus::UnixFd fd,
                                                                 uint16_t attMtu) {
                guarded("acquiring the write socket", [&] {
                    auto it = characteristics_.find(path);
                    if (it == characteristics_.end()) return;
                    auto& characteristic = it->second;
                    auto device = devices_.find(characteristic.devicePath);
                    if (device == devices_.end() || device->second.generation != generation ||
                        characteristic.writePath != WritePath::acquiring) {
                        return;  // the link ended; the fd closes with `fd`
                    }
                    if (error) {
                        fallBack(describe(*error));
                        return;
                    }
                    characteristic.socket.reset(fd.release());
                    characteristic.writePath = WritePath::socket;
                    if (attMtu != 0) {
                        characteristic.attMtu = attMtu;
                        toMain([id = characteristic.devicePath, attMtu](BluezCentral& central) {
                            central.deliverMtu(id, attMtu);
                        });
                    }
                    pumpWrites(path);
                });
            });
    } catch (const std::exception& error) {
        fallBack(error.what());
    }
}

void BluezCentral::Engine::sendCommandWrite(const std::string& path, Bytes value) {
    auto it = characteristics_.find(path);
    std::string devicePath = it == characteristics_.end() ? std::string() : it->second.devicePath;
    std::map<std::string, sdbus::Variant> options{{"type", sdbus::Variant(std::string("command"))}};
    try {
        proxy(path)
            .callMethodAsync("WriteValue")
            .onInterface(kGattCharacteristic1)
            .withArguments(value, options)
            .uponReplyInvoke([this, devicePath](const sdbus::Error* error) {
                if (error) PocketLog::logf("BlueZ: write without response failed: %s", describe(*error).c_str());
                writesGone(devicePath, 1);
            });
    } catch (const std::exception& error) {
        PocketLog::logf("BlueZ: write without response failed: %s", error.what());
        writesGone(devicePath, 1);
    }
}

void BluezCentral::Engine::writesGone(const std::string& devicePath, int count) {
    if (count <= 0) return;
    toMain([devicePath, count](BluezCentral& central) { central.deliverWritesGone(devicePath, count); });
}

// ---- the main executor's side ----

BluezCentral::BluezCentral(Executor& main, std::string busAddress)
    : main_(main), alive_(std::make_shared<bool>(true)),
      engine_(std::make_unique<Engine>(*this, main, alive_, std::move(busAddress))) {}

BluezCentral::~BluezCentral() {
    *alive_ = false;
    engine_.reset();
}

BleCentralFactory BluezCentral::factory(std::string busAddress) {
    return [busAddress](Executor& main) -> std::unique_ptr<BleCentral> {
        return std::make_unique<BluezCentral>(main, busAddress);
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
