#pragma once

// FakeDeviceMonitor: device arrivals and removals a test announces with
// announce(), handed to the watcher on the calling thread. Records how
// often it was started and stopped. Thread-safe.

#include <mutex>

#include "hollowkit/usb/device_monitor.h"

namespace hollowkit {

class FakeDeviceMonitor final : public DeviceMonitor {
public:
    void start(Handler handler) override;
    void stop() override;

    // False when nobody watches.
    bool announce(const DeviceChange& change);

    bool watching() const;
    int starts() const;
    int stops() const;

private:
    mutable std::mutex mutex_;
    Handler handler_;  // guarded by mutex_
    int starts_ = 0;   // guarded by mutex_
    int stops_ = 0;    // guarded by mutex_
};

}  // namespace hollowkit
