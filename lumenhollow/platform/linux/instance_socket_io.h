#pragma once

// The instance lock's Unix socket, byte by byte: addresses for paths of any
// depth, the peer's user, and reads and writes bounded by a deadline that
// another descriptor (a stop, a termination signal's pipe) ends at once.

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>

#include "hollowkit/base/unique_fd.h"

namespace lumenhollow::instance_io {

using Deadline = std::chrono::steady_clock::time_point;

int millisecondsUntil(Deadline deadline);
// `limit` from now, however long (never overflowing).
Deadline deadlineIn(std::chrono::nanoseconds limit);

// A socket's address, short enough for sun_path however deep its folder:
// a long path goes through the folder held open (/proc/self/fd/N/name).
struct SocketAddress {
    hollowkit::UniqueFd folder;
    sockaddr_un address{};
    socklen_t length = 0;
    bool valid = false;

    explicit SocketAddress(const std::filesystem::path& path);
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

// The process at the other end of `fd`, when it runs as this user.
std::optional<int> peerOfThisUser(int fd);

enum class Connect { connected, queueFull, nobody };
// Connects a non-blocking stream socket to `path` (done or refused at once
// on a Unix socket).
Connect connectTo(const std::filesystem::path& path, hollowkit::UniqueFd& fd);

// Makes `path` free for a listener's socket: a socket nothing listens on
// (a killed holder's) goes; anything else there (a live socket, a folder, a
// file) is not the caller's to remove: false.
bool freeForSocket(const std::filesystem::path& path);

enum class Wait { ready, other, timedOut };
// Waits until `fd` is readable, `other` (when not -1) is readable, or the deadline.
Wait waitReadable(int fd, int other, Deadline deadline);

enum class Read { expected, other, timedOut, failed };
// Reads `expected` from `fd` by the deadline, `other` ending the wait.
Read readExactly(int fd, std::string_view expected, int other, Deadline deadline);

bool writeAll(int fd, std::string_view text);

}  // namespace lumenhollow::instance_io
