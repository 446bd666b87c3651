// FakeBluez: its D-Bus thread (commands in, the bus and the sockets out)
// and the calls a test makes on it.

#include "hollowkit/testing/fake_bluez.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <future>
#include <utility>

#include "hollowkit/base/thread_name.h"
#include "hollowkit/testing/fake_bluez_impl.h"

namespace hollowkit {

void FakeBluez::Impl::post(std::function<void()> command) {
    {
        MutexLock lock(mutex_);
        if (stopping_) return;
        commands_.push_back(std::move(command));
    }
    wake();
}

bool FakeBluez::Impl::runSync(const std::function<void()>& work) {
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

void FakeBluez::Impl::record(std::string path, std::string method, std::string detail) {
    MutexLock lock(callsMutex_);
    calls_.push_back(Call{std::move(path), std::move(method), std::move(detail)});
}

void FakeBluez::Impl::toPeripherals(std::function<void()> work) {
    peripherals_.post([alive = alive_, work = std::move(work)] {
        if (*alive) work();
    });
}

void FakeBluez::Impl::wake() {
    uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_.get(), &one, sizeof one);
}

void FakeBluez::Impl::run() {
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

std::shared_ptr<sdbus::Result<>> FakeBluez::Impl::keepPending(sdbus::Result<>&& result) {
    struct Held {
        std::shared_ptr<sdbus::IConnection> bus;  // declared first: released last
        sdbus::Result<> result;
    };
    auto held = std::make_shared<Held>(Held{bus_, std::move(result)});
    return std::shared_ptr<sdbus::Result<>>(held, &held->result);
}

void FakeBluez::Impl::closeBus() {
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

void FakeBluez::Impl::waitForWork() {
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

void FakeBluez::Impl::readSocket(const std::string& path, short revents) {
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
        path = std::string(Impl::kAdapterPath) + "/dev_C0_FF_EE_00_" + std::string(address + 12, 2) + "_" +
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
        if (device->object) impl_->emitRemoved(devicePath, Impl::kDevice1);
        impl_->devices_.erase(devicePath);
    });
}

void FakeBluez::setPowered(bool powered) {
    impl_->runSync([&] {
        if (!impl_->adapter_ || impl_->powered_ == powered) return;
        impl_->powered_ = powered;
        Impl::Properties changed{{"Powered", sdbus::Variant(powered)}};
        if (!powered && impl_->discovering_) {
            impl_->discovering_ = false;
            changed["Discovering"] = sdbus::Variant(false);
        }
        impl_->emitChanged(impl_->adapter_, Impl::kAdapter1, changed);
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
