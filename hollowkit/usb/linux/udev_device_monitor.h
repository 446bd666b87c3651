#pragma once

// UdevDeviceMonitor: device arrival and removal from the kernel's udev
// events, for the video4linux and sound subsystems, on a thread of its own
// ("HollowKit.USBDevices") that polls the monitor socket with an eventfd for
// stop(). A sound card is reported once per card (not once per PCM or
// control node), and only after a short settling time: the sound server
// makes its source for a new card a moment after udev announces it, and
// the USB camera lists the server's sources when it hears of the card.
//
// start() and stop() from one thread; the handler runs on the monitor's
// thread. Without udev (a container) start() logs once and watches nothing.

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

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

    void start(Handler handler) override;
    void stop() override;

private:
    void run();

    std::mutex mutex_;
    Handler handler_;  // guarded by mutex_
    UniqueFd wake_;
    std::thread thread_;
};

}  // namespace hollowkit
