#include "lumenhollow/platform/linux/freedesktop_power_assertion.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#include <future>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/base/unique_fd.h"
#include "lumenhollow/platform/linux/bounded_bus.h"

namespace lumenhollow {

namespace {

constexpr const char* kScreenSaverName = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

// A failed greeting or call, as the exception the queue's work reports.
std::runtime_error busError(const BusFailure& failure) {
    return std::runtime_error(failure.text);
}

}  // namespace

struct FreedesktopPowerAssertion::Core {
    // What one activity holds: a screen saver cookie or a logind descriptor.
    struct Held {
        std::optional<uint32_t> cookie;
        hollowkit::UniqueFd inhibitor;
    };

    explicit Core(Options opts) : options(std::move(opts)), stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    // Queue only from here on, except post() and stopWaiting().
    void inhibit(uint64_t id, const std::string& reason) {
        std::string screenSaverError;
        try {
            const uint32_t cookie = screenSaverInhibit(reason);
            held[id].cookie = cookie;
            return;
        } catch (const std::exception& error) {
            // No bus, no service, refused, silent, or the owner ending:
            // never let it leave the queue's thread.
            screenSaverError = error.what();
            session.reset();
        }
        try {
            held[id].inhibitor = logindInhibit(reason);
            return;
        } catch (const std::exception& error) {
            system.reset();
            hollowkit::PocketLog::logf("Could not keep the system awake for \"%s\": screen saver: %s; logind: %s",
                                       reason.c_str(), screenSaverError.c_str(), error.what());
        }
    }

    BoundedBus& connected(std::unique_ptr<BoundedBus>& bus, const std::string& given, bool systemBus) {
        if (!bus) {
            const std::string address =
                !given.empty() ? given : systemBus ? BoundedBus::systemAddress() : BoundedBus::sessionAddress();
            auto opened = BoundedBus::open(address, options.connectTimeout, stop.get());
            if (!opened) throw busError(opened.error());
            bus = std::move(*opened);
        }
        return *bus;
    }

    uint32_t screenSaverInhibit(const std::string& reason) {
        BoundedBus& bus = connected(session, options.sessionBusAddress, false);
        auto reply = bus.call(
            kScreenSaverName, kScreenSaverPath, kScreenSaverName, "Inhibit",
            [&](sd_bus_message* call) {
                return sd_bus_message_append(call, "ss", options.applicationName.c_str(), reason.c_str());
            },
            options.callTimeout, stop.get());
        if (!reply) throw busError(reply.error());
        uint32_t cookie = 0;
        if (sd_bus_message_read(reply->get(), "u", &cookie) < 0) throw std::runtime_error("Inhibit: no cookie");
        return cookie;
    }

    hollowkit::UniqueFd logindInhibit(const std::string& reason) {
        BoundedBus& bus = connected(system, options.systemBusAddress, true);
        auto reply = bus.call(
            kLogindName, kLogindPath, kLogindManager, "Inhibit",
            [&](sd_bus_message* call) {
                return sd_bus_message_append(call, "ssss", "idle", options.applicationName.c_str(), reason.c_str(),
                                             "block");
            },
            options.callTimeout, stop.get());
        if (!reply) throw busError(reply.error());
        int fd = -1;
        if (sd_bus_message_read(reply->get(), "h", &fd) < 0) throw std::runtime_error("Inhibit: no descriptor");
        // The reply owns the one it carries.
        hollowkit::UniqueFd own(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
        if (!own) throw std::runtime_error("Inhibit: the descriptor could not be kept");
        return own;
    }

    void release(uint64_t id) { release(id, options.callTimeout, stop.get()); }

    // `limit` bounds the screen saver's answer; `stopFd` (or -1) cuts it short.
    void release(uint64_t id, hollowkit::Duration limit, int stopFd) {
        auto found = held.find(id);
        if (found == held.end()) return;  // nothing was held
        Held item = std::move(found->second);
        held.erase(found);
        // Closing the descriptor is logind's release.
        if (!item.cookie || !session) return;
        auto answered = session->call(
            kScreenSaverName, kScreenSaverPath, kScreenSaverName, "UnInhibit",
            [&](sd_bus_message* call) { return sd_bus_message_append(call, "u", *item.cookie); }, limit, stopFd);
        if (!answered) {
            hollowkit::PocketLog::logf("The screen saver did not take back inhibition %u: %s", *item.cookie,
                                       answered.error().text.c_str());
            // A bus that does not answer is not asked again: closing the
            // connection gives back what it still holds.
            if (answered.error().kind != BusFailure::Kind::refused) session.reset();
        }
    }

    // The owner's end: each cookie given back while the bus answers
    // promptly, then the connections closed, which gives back the rest.
    void releaseAll() {
        while (!held.empty()) release(held.begin()->first, options.endTimeout, -1);
        session.reset();
        system.reset();
    }

    // Cuts short whatever the queue waits on, and every later wait of
    // inhibit(): the owner is ending.
    void stopWaiting() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stop.get(), &one, sizeof one);
    }

    const Options options;
    const hollowkit::UniqueFd stop;

    hollowkit::Mutex mutex;
    bool closed HK_GUARDED_BY(mutex) = false;
    uint64_t lastId HK_GUARDED_BY(mutex) = 0;

    // The queue's thread only.
    std::unique_ptr<BoundedBus> session;
    std::unique_ptr<BoundedBus> system;
    std::map<uint64_t, Held> held;

    hollowkit::SerialQueue queue{"Lumenhollow.PowerAssertion"};  // last: joined first
};

FreedesktopPowerAssertion::FreedesktopPowerAssertion(Options options)
    : core_(std::make_shared<Core>(std::move(options))) {}

FreedesktopPowerAssertion::~FreedesktopPowerAssertion() {
    {
        hollowkit::MutexLock lock(core_->mutex);
        core_->closed = true;
    }
    // The requests already posted run; a greeting or call under way still
    // unanswered after `endTimeout` is cut short. Then what is held is
    // given back.
    auto reached = std::make_shared<std::promise<void>>();
    std::future<void> caughtUp = reached->get_future();
    core_->queue.post([reached] { reached->set_value(); });
    if (caughtUp.wait_for(core_->options.endTimeout) != std::future_status::ready) core_->stopWaiting();
    core_->queue.sync([core = core_.get()] { core->releaseAll(); });
}

PowerActivity FreedesktopPowerAssertion::begin(const std::string& reason) {
    uint64_t id = 0;
    {
        hollowkit::MutexLock lock(core_->mutex);
        if (core_->closed) return PowerActivity();
        id = ++core_->lastId;
        core_->queue.post([core = core_.get(), id, reason] { core->inhibit(id, reason); });
    }
    return PowerActivity([weak = std::weak_ptr<Core>(core_), id] {
        const std::shared_ptr<Core> core = weak.lock();
        if (!core) return;
        hollowkit::MutexLock lock(core->mutex);
        // After the owner closed, releaseAll has given it back already.
        if (core->closed) return;
        core->queue.post([raw = core.get(), id] { raw->release(id); });
    });
}

}  // namespace lumenhollow
