#include "lumenhollow/platform/linux/bounded_bus.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "lumenhollow/platform/linux/session_bus_address.h"

namespace lumenhollow {

namespace {

using std::chrono::microseconds;

uint64_t monotonicMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

uint64_t microsecondsOf(hollowkit::Duration duration) {
    return static_cast<uint64_t>(std::max<int64_t>(1, std::chrono::duration_cast<microseconds>(duration).count()));
}

BusFailure failure(BusFailure::Kind kind, std::string text) {
    return BusFailure{kind, std::move(text)};
}

BusFailure failureOf(int negativeErrno, const char* doing) {
    return failure(BusFailure::Kind::refused, std::string(doing) + ": " + std::strerror(-negativeErrno));
}

// Runs the bus until `done` holds, at most until `deadline` (monotonic µs),
// or until `stopFd` becomes readable.
template <typename Done>
std::optional<BusFailure> runUntil(sd_bus* bus, const Done& done, uint64_t deadline, int stopFd, const char* doing) {
    for (;;) {
        if (done()) return std::nullopt;
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0) return failureOf(processed, doing);
        if (done()) return std::nullopt;
        if (processed > 0) continue;  // more may be waiting already
        const uint64_t now = monotonicMicroseconds();
        if (now >= deadline) return failure(BusFailure::Kind::silent, std::string(doing) + ": no answer in time");
        uint64_t wakeAt = deadline;
        uint64_t busTimeout = 0;
        if (sd_bus_get_timeout(bus, &busTimeout) >= 0) wakeAt = std::min(wakeAt, busTimeout);
        const int events = sd_bus_get_events(bus);
        if (events < 0) return failureOf(events, doing);
        pollfd watched[2] = {{sd_bus_get_fd(bus), static_cast<short>(events), 0}, {stopFd, POLLIN, 0}};
        const int waitMs = wakeAt <= now ? 0 : static_cast<int>(std::min<uint64_t>((wakeAt - now + 999) / 1000, 60'000));
        const int ready = ::poll(watched, stopFd >= 0 ? 2 : 1, waitMs);
        if (ready < 0 && errno != EINTR) return failureOf(-errno, doing);
        if (stopFd >= 0 && ready > 0 && (watched[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            return failure(BusFailure::Kind::stopped, std::string(doing) + ": stopped");
        }
    }
}

std::string busEnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

}  // namespace

void BusReplyFree::operator()(sd_bus_message* reply) const {
    sd_bus_message_unref(reply);
}

std::string BoundedBus::sessionAddress() {
    if (std::string address = busEnvironmentText("DBUS_SESSION_BUS_ADDRESS"); !address.empty()) return address;
    const std::string runtime = busEnvironmentText("XDG_RUNTIME_DIR");
    return runtime.empty() ? std::string() : unixPathAddress(runtime + "/bus");
}

std::string BoundedBus::systemAddress() {
    if (std::string address = busEnvironmentText("DBUS_SYSTEM_BUS_ADDRESS"); !address.empty()) return address;
    return "unix:path=/run/dbus/system_bus_socket";
}

hollowkit::Result<std::unique_ptr<BoundedBus>, BusFailure> BoundedBus::open(const std::string& address,
                                                                             hollowkit::Duration limit,
                                                                             int stopFd) {
    const uint64_t deadline = monotonicMicroseconds() + microsecondsOf(limit);
    if (address.empty()) return hollowkit::unexpected(failure(BusFailure::Kind::refused, "no bus address"));
    sd_bus* raw = nullptr;
    if (const int made = sd_bus_new(&raw); made < 0) return hollowkit::unexpected(failureOf(made, "sd_bus_new"));
    std::unique_ptr<BoundedBus> bus(new BoundedBus(raw));
    if (const int set = sd_bus_set_address(raw, address.c_str()); set < 0) {
        return hollowkit::unexpected(failureOf(set, address.c_str()));
    }
    sd_bus_set_bus_client(raw, 1);
    // The Hello, and any call not given a limit of its own.
    sd_bus_set_method_call_timeout(raw, microsecondsOf(limit));
    if (const int started = sd_bus_start(raw); started < 0) {
        return hollowkit::unexpected(failureOf(started, address.c_str()));
    }
    const auto ready = [raw] { return sd_bus_is_ready(raw) > 0; };
    if (std::optional<BusFailure> failed = runUntil(raw, ready, deadline, stopFd, address.c_str())) {
        return hollowkit::unexpected(std::move(*failed));
    }
    return bus;
}

BoundedBus::~BoundedBus() {
    // Whatever was left unsent is dropped with the connection.
    sd_bus_close(bus_);
    sd_bus_unref(bus_);
}

hollowkit::Result<BusReply, BusFailure> BoundedBus::call(const char* destination, const char* path,
                                                         const char* interface, const char* member,
                                                         const Arguments& arguments, hollowkit::Duration limit,
                                                         int stopFd) {
    const uint64_t deadline = monotonicMicroseconds() + microsecondsOf(limit);
    sd_bus_message* rawCall = nullptr;
    if (const int made = sd_bus_message_new_method_call(bus_, &rawCall, destination, path, interface, member);
        made < 0) {
        return hollowkit::unexpected(failureOf(made, member));
    }
    const BusReply message(rawCall);
    if (arguments) {
        if (const int filled = arguments(rawCall); filled < 0) return hollowkit::unexpected(failureOf(filled, member));
    }
    struct Outcome {
        bool answered = false;
        BusReply reply;
        std::optional<BusFailure> error;
    } outcome;
    const auto answered = [](sd_bus_message* reply, void* context, sd_bus_error*) -> int {
        auto* into = static_cast<Outcome*>(context);
        into->answered = true;
        if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
            // sd-bus answers a call that ran out of time with NoReply.
            const bool late = error->name && (std::strcmp(error->name, SD_BUS_ERROR_NO_REPLY) == 0 ||
                                              std::strcmp(error->name, SD_BUS_ERROR_TIMEOUT) == 0);
            into->error = failure(late ? BusFailure::Kind::silent : BusFailure::Kind::refused,
                                  std::string(error->name ? error->name : "") + ": " +
                                      (error->message ? error->message : ""));
        } else {
            into->reply.reset(sd_bus_message_ref(reply));
        }
        return 1;
    };
    sd_bus_slot* rawSlot = nullptr;
    if (const int sent = sd_bus_call_async(bus_, &rawSlot, rawCall, answered, &outcome, microsecondsOf(limit));
        sent < 0) {
        return hollowkit::unexpected(failureOf(sent, member));
    }
    // Unreffed on every way out, so a late answer never reaches `outcome`.
    const std::unique_ptr<sd_bus_slot, sd_bus_slot* (*)(sd_bus_slot*)> slot(rawSlot, sd_bus_slot_unref);
    if (std::optional<BusFailure> failed = runUntil(
            bus_, [&outcome] { return outcome.answered; }, deadline, stopFd, member)) {
        return hollowkit::unexpected(std::move(*failed));
    }
    if (outcome.error) return hollowkit::unexpected(std::move(*outcome.error));
    return std::move(outcome.reply);
}

}  // namespace lumenhollow
