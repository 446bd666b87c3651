#pragma once

// UdevDeviceMonitor: device arrival and removal from the kernel's udev
// events, for the video4linux and sound subsystems, on a thread of its own
// ("HollowKit.USBDevices") that polls the monitor socket with an eventfd to
// end it. The thread runs from the first subscription until the last one
// ends (or the monitor goes). A sound card is reported once per card (not once per PCM or
// control node), and only after a short settling time: the sound server
// makes its source for a new card a moment after udev announces it, and
// the USB camera lists the server's sources when it hears of the card.
//
// Subscriptions from any thread; handlers run on the monitor's thread.
// Without udev (a container) the thread logs once and watches nothing.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/usb/device_monitor.h"

namespace hollowkit {

// What one udev event means to the USB camera: nothing for other actions
// ("change", "bind"), other subsystems and the nodes of a sound card other
// than the card itself.
std::optional<DeviceChange> deviceChangeFromUdev(std::string_view subsystem, std::string_view action,
                                                 std::string_view sysname, std::string name);

class UdevDeviceMonitor final : public DeviceMonitor {
public:
    static constexpr std::chrono::milliseconds kSoundSettleTime{1500};

    UdevDeviceMonitor();
    ~UdevDeviceMonitor() override;
    UdevDeviceMonitor(const UdevDeviceMonitor&) = delete;
    UdevDeviceMonitor& operator=(const UdevDeviceMonitor&) = delete;

    Subscription subscribe(Handler handler) override;

private:
    void unsubscribe(uint64_t id);
    void stopThread() HK_REQUIRES(controlMutex_);
    void run();
    void deliver(const DeviceChange& change);

    Mutex controlMutex_;  // starting and ending the thread
    UniqueFd wake_;  // set and reset by controlMutex_ holders while no thread runs
    std::thread thread_ HK_GUARDED_BY(controlMutex_);
    Mutex mutex_;
    std::map<uint64_t, Handler> handlers_ HK_GUARDED_BY(mutex_);
    uint64_t nextId_ HK_GUARDED_BY(mutex_) = 1;
    // Held while handlers run, so an ended subscription's handler that was
    // running has returned when unsubscribe() does.
    Mutex deliveryMutex_;
};

}  // namespace hollowkit
