#include "hollowkit/usb/linux/udev_device_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/thread_name.h"

namespace hollowkit {

namespace {

constexpr const char* kThreadLabel = "HollowKit.USBDevices";

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

// The device's own name: a video node's "name", else the USB product it
// belongs to, else udev's model, else the kernel's name.
std::string nameOf(udev_device* device) {
    if (std::string name = text(udev_device_get_sysattr_value(device, "name")); !name.empty()) return name;
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
        if (std::string product = text(udev_device_get_sysattr_value(usb, "product")); !product.empty()) {
            return product;
        }
    }
    if (std::string model = text(udev_device_get_property_value(device, "ID_MODEL")); !model.empty()) return model;
    return text(udev_device_get_sysname(device));
}

}  // namespace

std::optional<DeviceChange> deviceChangeFromUdev(std::string_view subsystem, std::string_view action,
                                                 std::string_view sysname, std::string name) {
    bool connected = false;
    if (action == "add") {
        connected = true;
    } else if (action != "remove") {
        return std::nullopt;
    }
    DeviceChange change;
    if (subsystem == "video4linux") {
        change.kind = DeviceChange::Kind::video;
    } else if (subsystem == "sound" && sysname.rfind("card", 0) == 0) {
        change.kind = DeviceChange::Kind::audio;
    } else {
        return std::nullopt;
    }
    change.connected = connected;
    change.name = std::move(name);
    return change;
}

UdevDeviceMonitor::UdevDeviceMonitor() = default;

UdevDeviceMonitor::~UdevDeviceMonitor() {
    MutexLock control(controlMutex_);
    stopThread();
}

DeviceMonitor::Subscription UdevDeviceMonitor::subscribe(Handler handler) {
    MutexLock control(controlMutex_);
    uint64_t id = 0;
    {
        MutexLock lock(mutex_);
        id = nextId_++;
        handlers_.emplace(id, std::move(handler));
    }
    if (!thread_.joinable()) {
        wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (wake_) {
            thread_ = std::thread([this] { run(); });
        } else {
            PocketLog::logf("USB device watch unavailable: eventfd errno=%d", errno);
        }
    }
    return Subscription([this, id] { unsubscribe(id); });
}

void UdevDeviceMonitor::unsubscribe(uint64_t id) {
    MutexLock control(controlMutex_);
    bool last = false;
    {
        MutexLock lock(mutex_);
        handlers_.erase(id);
        last = handlers_.empty();
    }
    if (last) {
        stopThread();
    } else {
        // Waits out a delivery that may still be calling the handler.
        MutexLock delivery(deliveryMutex_);
    }
}

void UdevDeviceMonitor::stopThread() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof(one));
        thread_.join();
    }
    wake_.reset();
}

void UdevDeviceMonitor::deliver(const DeviceChange& change) {
    MutexLock delivery(deliveryMutex_);
    std::vector<Handler> handlers;
    {
        MutexLock lock(mutex_);
        for (const auto& entry : handlers_) handlers.push_back(entry.second);
    }
    for (const Handler& handler : handlers) handler(change);
}

void UdevDeviceMonitor::run() {
    enterLibraryThread(kThreadLabel);
    UdevPtr<udev> context(udev_new());
    UdevPtr<udev_monitor> monitor(context ? udev_monitor_new_from_netlink(context.get(), "udev") : nullptr);
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "video4linux", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "sound", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        PocketLog::log("USB device watch unavailable: no udev monitor");
        return;
    }
    struct Pending {
        TimePoint due;
        DeviceChange change;
    };
    std::deque<Pending> pending;  // sound cards settling, in arrival order
    for (;;) {
        int timeoutMs = -1;
        if (!pending.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(pending.front().due - SteadyClock::now());
            timeoutMs = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        std::array<pollfd, 2> fds{pollfd{udev_monitor_get_fd(monitor.get()), POLLIN, 0}, pollfd{wake_.get(), POLLIN, 0}};
        const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0 && errno != EINTR) {
            PocketLog::logf("USB device watch ended: poll errno=%d", errno);
            return;
        }
        if (fds[1].revents != 0) return;
        while (!pending.empty() && pending.front().due <= SteadyClock::now()) {
            deliver(pending.front().change);
            pending.pop_front();
        }
        if ((fds[0].revents & POLLIN) == 0) continue;
        UdevPtr<udev_device> device(udev_monitor_receive_device(monitor.get()));
        if (!device) continue;
        auto change = deviceChangeFromUdev(text(udev_device_get_subsystem(device.get())),
                                           text(udev_device_get_action(device.get())),
                                           text(udev_device_get_sysname(device.get())), nameOf(device.get()));
        if (!change) continue;
        if (change->kind == DeviceChange::Kind::audio && change->connected) {
            pending.push_back({SteadyClock::now() + kSoundSettleTime, std::move(*change)});
        } else if (!pending.empty()) {
            // Behind the cards still settling, so the order stays as it was.
            const TimePoint due = pending.back().due;
            pending.push_back({due, std::move(*change)});
        } else {
            deliver(*change);
        }
    }
}

}  // namespace hollowkit
