#pragma once

// SilentBus: a D-Bus bus that accepts and never answers, as a stopped
// dbus-daemon or a stale socket does: a listening Unix socket whose clients
// are taken and never read from or written to.
//
// Thread: one owner thread.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit::testsupport {

class SilentBus {
public:
    // In a temporary folder of its own.
    SilentBus() : folder_(std::make_unique<TempDir>()) { listen(folder_->file("bus")); }
    // At `path` (a folder's `bus`, where the D-Bus libraries look for one).
    explicit SilentBus(const std::filesystem::path& path) { listen(path.string()); }

    bool listening() const { return listening_; }
    const std::string& path() const { return path_; }
    // Its D-Bus address (the test's temporary paths need no escaping).
    std::string address() const { return "unix:path=" + path_; }

    // Waits, at most `bound`, for a client to connect, and keeps it.
    bool waitForClient(std::chrono::milliseconds bound) {
        pollfd watched{listener_.get(), POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(bound.count())) != 1) return false;
        UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client) return false;
        clients_.push_back(std::move(client));
        return true;
    }

private:
    void listen(std::string path) {
        path_ = std::move(path);
        listener_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (!listener_ || path_.size() >= sizeof address.sun_path) return;
        path_.copy(address.sun_path, path_.size());
        listening_ = ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(listener_.get(), 16) == 0;
    }

    std::unique_ptr<TempDir> folder_;
    std::string path_;
    UniqueFd listener_;
    bool listening_ = false;
    std::vector<UniqueFd> clients_;
};

}  // namespace hollowkit::testsupport
