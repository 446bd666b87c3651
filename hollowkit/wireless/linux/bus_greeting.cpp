#include "hollowkit/wireless/linux/bus_greeting.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace hollowkit {

std::string systemBusAddress() {
    const char* given = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return given && *given ? std::string(given) : std::string("unix:path=/run/dbus/system_bus_socket");
}

BusGreeting greetBus(const std::string& address, Duration limit, int wakeFd, const std::function<bool()>& stopAsked) {
    const auto deadline = SteadyClock::now() + limit;
    sd_bus* raw = nullptr;
    if (sd_bus_new(&raw) < 0) return BusGreeting::refused;
    // Closed without a flush, which would wait for the greeting again.
    const std::unique_ptr<sd_bus, sd_bus* (*)(sd_bus*)> bus(raw, sd_bus_close_unref);
    const auto limitMicroseconds =
        static_cast<uint64_t>(std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::microseconds>(limit).count()));
    if (sd_bus_set_address(raw, address.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
        sd_bus_set_method_call_timeout(raw, limitMicroseconds) < 0 || sd_bus_start(raw) < 0) {
        return BusGreeting::refused;
    }
    for (;;) {
        if (sd_bus_is_ready(raw) > 0) return BusGreeting::answered;
        const int processed = sd_bus_process(raw, nullptr);
        if (processed < 0) return BusGreeting::refused;
        if (processed > 0) continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) return BusGreeting::silent;
        const int events = sd_bus_get_events(raw);
        if (events < 0) return BusGreeting::refused;
        // sd-bus's own deadlines (its authentication's) are kept by
        // sd_bus_process; waking once a second is enough for them.
        pollfd watched[2] = {{sd_bus_get_fd(raw), static_cast<short>(events), 0}, {wakeFd, POLLIN, 0}};
        const int waitMs = static_cast<int>(std::min<int64_t>(left.count(), 1000));
        if (::poll(watched, wakeFd >= 0 ? 2 : 1, waitMs) > 0 && wakeFd >= 0 && (watched[1].revents & POLLIN) != 0) {
            uint64_t value = 0;
            [[maybe_unused]] const ssize_t got = ::read(wakeFd, &value, sizeof value);
            if (stopAsked()) return BusGreeting::interrupted;
        }
    }
}

}  // namespace hollowkit
