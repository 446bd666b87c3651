#include "hollowkit/testing/fake_device_monitor.h"

#include <utility>

namespace hollowkit {

void FakeDeviceMonitor::start(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    ++starts_;
}

void FakeDeviceMonitor::stop() {
    std::lock_guard lock(mutex_);
    handler_ = nullptr;
    ++stops_;
}

bool FakeDeviceMonitor::announce(const DeviceChange& change) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    if (!handler) return false;
    handler(change);
    return true;
}

bool FakeDeviceMonitor::watching() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(handler_);
}

int FakeDeviceMonitor::starts() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

int FakeDeviceMonitor::stops() const {
    std::lock_guard lock(mutex_);
    return stops_;
}

}  // namespace hollowkit
