#pragma once

// DeviceMonitor: tells of capture devices arriving and leaving, in place of
// the platform's device-connected and device-disconnected notices. On Linux
// a libudev monitor of the video4linux and sound subsystems
// (linux/udev_device_monitor.h); tests use FakeDeviceMonitor.
//
// Several watchers (one per USB camera) may share one monitor: each
// subscribes its own handler and ends only its own subscription, so one
// camera going away never cuts off another. Watching runs while at least one
// subscription does. Handlers run on the monitor's own thread and must be
// quick; once a subscription has ended its handler is not called any more.
// A subscription is never ended from inside a handler, and the monitor
// outlives its subscriptions.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

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

    // One watcher's handler, watching until this ends (reset() or
    // destruction). Move-only.
    class Subscription {
    public:
        Subscription() = default;
        explicit Subscription(std::function<void()> end) : end_(std::move(end)) {}
        ~Subscription() { reset(); }
        Subscription(Subscription&& other) noexcept : end_(std::exchange(other.end_, nullptr)) {}
        Subscription& operator=(Subscription&& other) noexcept {
            if (this != &other) {
                reset();
                end_ = std::exchange(other.end_, nullptr);
            }
            return *this;
        }
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

        void reset() {
            if (auto end = std::exchange(end_, nullptr)) end();
        }
        explicit operator bool() const { return static_cast<bool>(end_); }

    private:
        std::function<void()> end_;
    };

    virtual ~DeviceMonitor() = default;

    // Adds `handler` to the watchers, starting to watch with the first.
    [[nodiscard]] virtual Subscription subscribe(Handler handler) = 0;
};

}  // namespace hollowkit
