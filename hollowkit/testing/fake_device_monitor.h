#pragma once

// FakeDeviceMonitor: device arrivals and removals a test announces with
// announce(), handed to every watcher on the calling thread. Counts the
// subscriptions made and ended. Thread-safe.

#include <cstdint>
#include <map>
#include <mutex>

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
    mutable std::mutex mutex_;
    std::map<uint64_t, Handler> handlers_;  // guarded by mutex_
    uint64_t nextId_ = 1;                   // guarded by mutex_
    int subscriptions_ = 0;                 // guarded by mutex_
    int ended_ = 0;                         // guarded by mutex_
};

}  // namespace hollowkit
