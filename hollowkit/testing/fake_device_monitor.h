#pragma once

// FakeDeviceMonitor: device arrivals and removals a test announces with
// announce(), handed to every watcher on the calling thread. Counts the
// subscriptions made and ended. Thread-safe.

#include <cstdint>
#include <map>

#include "hollowkit/base/mutex.h"
#include "hollowkit/usb/device_monitor.h"

namespace hollowkit {

class FakeDeviceMonitor final : public DeviceMonitor {
public:
    Subscription subscribe(Handler handler) override;

    // False when nobody watches.
    bool announce(const DeviceChange& change);

    bool watching() const;
    int watchers() const;
    int subscriptions() const;  // made, ended or not
    int endedSubscriptions() const;

private:
    mutable Mutex mutex_;
    std::map<uint64_t, Handler> handlers_ HK_GUARDED_BY(mutex_);
    uint64_t nextId_ HK_GUARDED_BY(mutex_) = 1;
    int subscriptions_ HK_GUARDED_BY(mutex_) = 0;
    int ended_ HK_GUARDED_BY(mutex_) = 0;
};

}  // namespace hollowkit
