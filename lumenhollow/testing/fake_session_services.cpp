#include "lumenhollow/testing/fake_session_services.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "hollowkit/base/unique_fd.h"

namespace lumenhollow {

namespace {

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : ",") + item;
    return text;
}

}  // namespace

struct FakeSessionServices::Impl {
    explicit Impl(Options opts) : options(opts) {}

    void record(std::string line) {
        std::lock_guard guard(mutex);
        calls.push_back(std::move(line));
        changed.notify_all();
    }

    template <typename Done>
    bool waitUntil(std::chrono::milliseconds bound, Done done) const {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, bound, [&] { return done(); });
    }

    // Pipes whose write end the client has not closed yet.
    int logindHeldLocked() const {
        int count = 0;
        for (const auto& fd : inhibitors) {
            pollfd entry{fd.get(), POLLIN, 0};
            const bool hungUp = ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR)) != 0;
            if (!hungUp) ++count;
        }
        return count;
    }

    void serveScreenSaver() {
        const char* interface = "org.freedesktop.ScreenSaver";
        screenSaver = sdbus::createObject(*bus, "/org/freedesktop/ScreenSaver");
        screenSaver->registerMethod("Inhibit")
            .onInterface(interface)
            .implementedAs([this](const std::string& application, const std::string& reason) -> uint32_t {
                if (options.screenSaverRefuses) {
                    record("Inhibit " + application + "|" + reason + " -> refused");
                    throw sdbus::Error("org.freedesktop.DBus.Error.NotSupported", "Inhibition is not supported");
                }
                uint32_t cookie = 0;
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [this] { return !options.holdScreenSaver || released; });
                    cookie = ++lastCookie;
                    cookies.insert(cookie);
                }
                record("Inhibit " + application + "|" + reason + " -> " + std::to_string(cookie));
                return cookie;
            });
        screenSaver->registerMethod("UnInhibit").onInterface(interface).implementedAs([this](uint32_t cookie) {
            {
                std::lock_guard guard(mutex);
                if (cookies.erase(cookie) == 0) {
                    throw sdbus::Error("org.freedesktop.DBus.Error.InvalidArgs", "Unknown cookie");
                }
            }
            record("UnInhibit " + std::to_string(cookie));
        });
        screenSaver->finishRegistration();
        bus->requestName("org.freedesktop.ScreenSaver");
    }

    void serveLogind() {
        logind = sdbus::createObject(*bus, "/org/freedesktop/login1");
        logind->registerMethod("Inhibit")
            .onInterface("org.freedesktop.login1.Manager")
            .implementedAs([this](const std::string& what, const std::string& who, const std::string& why,
                                  const std::string& mode) {
                int ends[2];
                if (::pipe2(ends, O_CLOEXEC) != 0) throw sdbus::Error("org.freedesktop.DBus.Error.Failed", "pipe");
                hollowkit::UniqueFd readEnd(ends[0]);
                // The reply carries a copy; the fake's own write end closes here.
                sdbus::UnixFd writeEnd(ends[1], sdbus::adopt_fd);
                {
                    std::lock_guard guard(mutex);
                    inhibitors.push_back(std::move(readEnd));
                }
                record("login1.Inhibit " + what + "|" + who + "|" + why + "|" + mode);
                return writeEnd;
            });
        logind->finishRegistration();
        bus->requestName("org.freedesktop.login1");
    }

    void serveFileManager() {
        const char* interface = "org.freedesktop.FileManager1";
        fileManager = sdbus::createObject(*bus, "/org/freedesktop/FileManager1");
        for (const char* method : {"ShowFolders", "ShowItems"}) {
            fileManager->registerMethod(method).onInterface(interface).implementedAs(
                [this, method](const std::vector<std::string>& uris, const std::string& startup) {
                    record(std::string(method) + " " + joined(uris) + "|" + startup);
                });
        }
        fileManager->finishRegistration();
        bus->requestName("org.freedesktop.FileManager1");
    }

    Options options;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::string> calls;               // guarded by mutex
    std::set<uint32_t> cookies;                   // guarded by mutex
    uint32_t lastCookie = 0;                      // guarded by mutex
    bool released = false;                        // guarded by mutex
    std::vector<hollowkit::UniqueFd> inhibitors;  // guarded by mutex

    std::unique_ptr<sdbus::IConnection> bus;
    std::unique_ptr<sdbus::IObject> screenSaver;
    std::unique_ptr<sdbus::IObject> logind;
    std::unique_ptr<sdbus::IObject> fileManager;
};

FakeSessionServices::FakeSessionServices(Options options) : impl_(std::make_unique<Impl>(options)) {}

FakeSessionServices::~FakeSessionServices() {
    releaseScreenSaver();
    if (impl_->bus) {
        try {
            impl_->bus->leaveEventLoop();
        } catch (const std::exception&) {
        }
    }
    impl_->fileManager.reset();
    impl_->logind.reset();
    impl_->screenSaver.reset();
    impl_->bus.reset();
}

hollowkit::Result<void, std::string> FakeSessionServices::start(const std::string& address) {
    try {
        impl_->bus = sdbus::createSessionBusConnectionWithAddress(address);
        if (impl_->options.screenSaver) impl_->serveScreenSaver();
        if (impl_->options.logind) impl_->serveLogind();
        if (impl_->options.fileManager) impl_->serveFileManager();
        impl_->bus->enterEventLoopAsync();
    } catch (const std::exception& error) {
        return hollowkit::unexpected(std::string(error.what()));
    }
    return {};
}

std::vector<std::string> FakeSessionServices::calls() const {
    std::lock_guard guard(impl_->mutex);
    return impl_->calls;
}

bool FakeSessionServices::waitForCall(const std::string& line, std::chrono::milliseconds bound) const {
    return impl_->waitUntil(bound, [&] {
        for (const auto& call : impl_->calls) {
            if (call == line) return true;
        }
        return false;
    });
}

bool FakeSessionServices::waitForLogindHeld(int count, std::chrono::milliseconds bound) const {
    // A closed descriptor wakes no condition variable: look again every few
    // milliseconds until the bound.
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock lock(impl_->mutex);
    while (impl_->logindHeldLocked() != count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        impl_->changed.wait_for(lock, std::chrono::milliseconds(10));
    }
    return true;
}

int FakeSessionServices::screenSaverHeld() const {
    std::lock_guard guard(impl_->mutex);
    return static_cast<int>(impl_->cookies.size());
}

void FakeSessionServices::releaseScreenSaver() {
    std::lock_guard guard(impl_->mutex);
    impl_->released = true;
    impl_->changed.notify_all();
}

}  // namespace lumenhollow
