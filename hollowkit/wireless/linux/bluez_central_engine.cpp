#include "hollowkit/wireless/linux/bluez_central_engine.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <chrono>
#include <exception>
#include <string>
#include <utility>

#include "hollowkit/base/thread_name.h"
#include "hollowkit/wireless/linux/bluez_names.h"
#include "hollowkit/wireless/linux/bus_greeting.h"

namespace hollowkit {

namespace {

constexpr const char* kThreadLabel = "HollowKit.BlueZ";
// A slow bus on a busy machine answers within this; a stopped one never does.
constexpr auto kBusGreetingLimit = std::chrono::seconds(8);

constexpr const char* kBluezService = bluez::kService;
using bluez::kAdapter1;
using bluez::kDevice1;

}  // namespace

// ---- the thread ----

BluezCentral::Engine::Engine(BluezCentral& owner, Executor& main, std::shared_ptr<bool> alive, std::string busAddress,
                             std::shared_ptr<RepeatLog> repeats)
    : owner_(owner), main_(main), alive_(std::move(alive)), busAddress_(std::move(busAddress)),
      repeats_(std::move(repeats)), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

BluezCentral::Engine::~Engine() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    wake();
    if (thread_.joinable()) thread_.join();
}

void BluezCentral::Engine::start() {
    thread_ = std::thread([this] { run(); });
}

void BluezCentral::Engine::post(std::function<void()> command) {
    {
        MutexLock lock(mutex_);
        if (stopping_) return;
        commands_.push_back(std::move(command));
    }
    wake();
}

std::string BluezCentral::Engine::describe(const sdbus::Error& error) {
    return error.getMessage().empty() ? error.getName() : error.getMessage();
}

// ---- loop ----

void BluezCentral::Engine::run() {
    enterLibraryThread(kThreadLabel);
    openBus();
    for (;;) {
        clearWake();
        std::vector<std::function<void()>> commands;
        {
            MutexLock lock(mutex_);
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
    // A bus that accepts and never answers would hold this thread in
    // sdbus-c++'s connecting, and the central's end with it.
    const BusGreeting greeting =
        greetBus(busAddress_.empty() ? systemBusAddress() : busAddress_, kBusGreetingLimit, wakeFd_.get(), [this] {
            MutexLock lock(mutex_);
            return stopping_;
        });
    if (greeting == BusGreeting::interrupted) return;
    if (greeting == BusGreeting::silent) {
        repeats_->log(kUnreachableTopic, "BlueZ: cannot reach the system bus: it did not answer within " +
                                             std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                                                kBusGreetingLimit)
                                                                .count()) +
                                             " s");
        publishState();
        return;
    }
    try {
        bus_ = busAddress_.empty() ? sdbus::createSystemBusConnection()
                                   : sdbus::createSessionBusConnectionWithAddress(busAddress_);
        // Subscribing waits for the bus's answer: bounded too.
        bus_->setMethodCallTimeout(kBusGreetingLimit);
    } catch (const std::exception& error) {
        repeats_->log(kUnreachableTopic, std::string("BlueZ: cannot reach the system bus: ") + error.what());
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

}  // namespace hollowkit
