#include "hollowkit/testing/fake_device_monitor.h"

#include <utility>
#include <vector>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

DeviceMonitor::Subscription FakeDeviceMonitor::subscribe(Handler handler) {
    MutexLock lock(mutex_);
    const uint64_t id = nextId_++;
    handlers_.emplace(id, std::move(handler));
    ++subscriptions_;
    return Subscription([this, id] {
        MutexLock endLock(mutex_);
        if (handlers_.erase(id) > 0) ++ended_;
    });
}

bool FakeDeviceMonitor::announce(const DeviceChange& change) {
    std::vector<Handler> handlers;
    {
        MutexLock lock(mutex_);
        for (const auto& entry : handlers_) handlers.push_back(entry.second);
    }
    for (const Handler& handler : handlers) handler(change);
    return !handlers.empty();
}

bool FakeDeviceMonitor::watching() const {
    return watchers() > 0;
}

int FakeDeviceMonitor::watchers() const {
    MutexLock lock(mutex_);
    return static_cast<int>(handlers_.size());
}

int FakeDeviceMonitor::subscriptions() const {
    MutexLock lock(mutex_);
    return subscriptions_;
}

int FakeDeviceMonitor::endedSubscriptions() const {
    MutexLock lock(mutex_);
    return ended_;
}

}  // namespace hollowkit
