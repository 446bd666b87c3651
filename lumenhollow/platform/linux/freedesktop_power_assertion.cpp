#include "lumenhollow/platform/linux/freedesktop_power_assertion.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/base/unique_fd.h"

namespace lumenhollow {

namespace {

constexpr const char* kScreenSaverName = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

std::unique_ptr<sdbus::IConnection> openBus(const std::string& address, bool system) {
    if (!address.empty()) return sdbus::createSessionBusConnectionWithAddress(address);
    return system ? sdbus::createSystemBusConnection() : sdbus::createSessionBusConnection();
}

}  // namespace

struct FreedesktopPowerAssertion::Core {
    // What one activity holds: a screen saver cookie or a logind descriptor.
    struct Held {
        std::optional<uint32_t> cookie;
        hollowkit::UniqueFd inhibitor;
    };

    explicit Core(Options opts) : options(std::move(opts)) {}

    // Queue only from here on, except post().
    void inhibit(uint64_t id, const std::string& reason) {
        std::string screenSaverError;
        try {
            const uint32_t cookie = screenSaverInhibit(reason);
            held[id].cookie = cookie;
            return;
        } catch (const std::exception& error) {
            // sdbus::Error (no bus, no service, refused) and anything else:
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

    uint32_t screenSaverInhibit(const std::string& reason) {
        if (!session) session = openBus(options.sessionBusAddress, false);
        auto proxy = sdbus::createProxy(*session, kScreenSaverName, kScreenSaverPath);
        uint32_t cookie = 0;
        proxy->callMethod("Inhibit")
            .onInterface(kScreenSaverName)
            .withTimeout(options.callTimeout)
            .withArguments(options.applicationName, reason)
            .storeResultsTo(cookie);
        return cookie;
    }

    hollowkit::UniqueFd logindInhibit(const std::string& reason) {
        if (!system) system = openBus(options.systemBusAddress, true);
        auto proxy = sdbus::createProxy(*system, kLogindName, kLogindPath);
        sdbus::UnixFd fd;
        proxy->callMethod("Inhibit")
            .onInterface(kLogindManager)
            .withTimeout(options.callTimeout)
            .withArguments(std::string("idle"), options.applicationName, reason, std::string("block"))
            .storeResultsTo(fd);
        return hollowkit::UniqueFd(fd.release());
    }

    void release(uint64_t id) {
        auto found = held.find(id);
        if (found == held.end()) return;  // nothing was held
        Held item = std::move(found->second);
        held.erase(found);
        // Closing the descriptor is logind's release.
        if (!item.cookie || !session) return;
        try {
            auto proxy = sdbus::createProxy(*session, kScreenSaverName, kScreenSaverPath);
            proxy->callMethod("UnInhibit")
                .onInterface(kScreenSaverName)
                .withTimeout(options.callTimeout)
                .withArguments(*item.cookie);
        } catch (const std::exception& error) {
            hollowkit::PocketLog::logf("The screen saver did not take back inhibition %u: %s", *item.cookie,
                                       error.what());
        }
    }

    void releaseAll() {
        while (!held.empty()) release(held.begin()->first);
        session.reset();
        system.reset();
    }

    const Options options;
    hollowkit::SerialQueue queue{"Lumenhollow.PowerAssertion"};

    hollowkit::Mutex mutex;
    bool closed HK_GUARDED_BY(mutex) = false;
    uint64_t lastId HK_GUARDED_BY(mutex) = 0;

    // The queue's thread only.
    std::unique_ptr<sdbus::IConnection> session;
    std::unique_ptr<sdbus::IConnection> system;
    std::map<uint64_t, Held> held;
};

FreedesktopPowerAssertion::FreedesktopPowerAssertion(Options options)
    : core_(std::make_shared<Core>(std::move(options))) {}

FreedesktopPowerAssertion::~FreedesktopPowerAssertion() {
    {
        hollowkit::MutexLock lock(core_->mutex);
        core_->closed = true;
    }
    // Waits for the requests already posted, then gives everything back.
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
