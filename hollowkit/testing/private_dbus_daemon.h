#pragma once

// PrivateDbusDaemon: a dbus-daemon of a test's own, listening on a socket in
// a fresh temporary folder, with a policy that lets anyone own any name and
// call anything. Tests serve fake system services on it (a fake BlueZ) and
// point the code under test at its address. The daemon is a child process:
// started by start(), ended (SIGTERM, then reaped) by the destructor, and its
// folder removed. Its standard streams are not the test's, so a daemon left
// behind by a crash cannot hold the test runner's pipes open.
//
// Thread: one owner thread; nothing here is shared.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/result.h"

namespace hollowkit {

class PrivateDbusDaemon {
public:
    PrivateDbusDaemon() = default;
    ~PrivateDbusDaemon();
    PrivateDbusDaemon(const PrivateDbusDaemon&) = delete;
    PrivateDbusDaemon& operator=(const PrivateDbusDaemon&) = delete;

    // The dbus-daemon program (/usr/bin/dbus-daemon, else the first on
    // PATH); nothing when the machine has none.
    static std::optional<std::string> program();

    // Starts the daemon and waits (at most a few seconds) for its address.
    // Method calls to the names in `refusedDestinations` are refused by the
    // bus with org.freedesktop.DBus.Error.AccessDenied, as a system bus
    // policy refuses a user. The error says what went wrong.
    Result<void, std::string> start(const std::vector<std::string>& refusedDestinations = {});

    // The address clients connect to ("unix:path=…,guid=…"); empty before start().
    const std::string& address() const { return address_; }
    // The daemon's process (-1 before start()), for a test that stops it.
    pid_t pid() const { return pid_; }

private:
    void stop();

    pid_t pid_ = -1;
    std::string folder_;
    std::string address_;
};

}  // namespace hollowkit
