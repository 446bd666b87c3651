#pragma once

// DeviceMonitor: tells of capture devices arriving and leaving, in place of
// the platform's device-connected and device-disconnected notices. On Linux
// a libudev monitor of the video4linux and sound subsystems
// (linux/udev_device_monitor.h); tests use FakeDeviceMonitor.
//
// start() and stop() from one thread (the main executor); the handler runs
// on the monitor's own thread and must be quick. After stop() returns the
// handler is not called any more.

#include <cstdint>
#include <functional>
#include <string>

namespace hollowkit {

struct DeviceChange {
    enum class Kind : uint8_t {
        none = 0,
        video,  // a picture capture device
        audio,  // a sound device
    };

    Kind kind = Kind::none;
    bool connected = false;  // arrived (true) or left (false)
    std::string name;        // the device's own name, for the log

    bool operator==(const DeviceChange&) const = default;
};

class DeviceMonitor {
public:
    using Handler = std::function<void(const DeviceChange&)>;

    virtual ~DeviceMonitor() = default;

    // Starts watching; a second start replaces the handler.
    virtual void start(Handler handler) = 0;
    virtual void stop() = 0;
};

}  // namespace hollowkit
