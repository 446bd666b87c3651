#include "lumenhollow/platform/linux/instance_socket_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>

namespace lumenhollow::instance_io {

namespace fs = std::filesystem;
using hollowkit::UniqueFd;

int millisecondsUntil(Deadline deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

Deadline deadlineIn(std::chrono::nanoseconds limit) {
    const auto now = std::chrono::steady_clock::now();
    // Far enough for any wait, without overflowing.
    return limit > std::chrono::hours(24 * 365) ? now + std::chrono::hours(24 * 365) : now + limit;
}

SocketAddress::SocketAddress(const fs::path& path) {
    address.sun_family = AF_UNIX;
    std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) {
        folder.reset(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder) return;
        text = "/proc/self/fd/" + std::to_string(folder.get()) + "/" + path.filename().string();
        if (text.size() >= sizeof address.sun_path) return;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + text.size() + 1);
    valid = true;
}

std::optional<int> peerOfThisUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || credentials.uid != ::geteuid()) {
        return std::nullopt;
    }
    return credentials.pid;
}

Connect connectTo(const fs::path& path, UniqueFd& fd) {
    fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const SocketAddress address(path);
    if (!fd || !address.valid) return Connect::nobody;
    if (::connect(fd.get(), address.get(), address.length) == 0) return Connect::connected;
    // The listener's queue is full: it takes no requests.
    const Connect result = errno == EAGAIN ? Connect::queueFull : Connect::nobody;
    fd.reset();
    return result;
}

bool freeForSocket(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return errno == ENOENT;
    if (!S_ISSOCK(status.st_mode)) return false;
    UniqueFd probe;
    if (connectTo(path, probe) != Connect::nobody) return false;
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

Wait waitReadable(int fd, int other, Deadline deadline) {
    for (;;) {
        pollfd entries[2] = {{other, POLLIN, 0}, {fd, POLLIN, 0}};
        const int ready = ::poll(entries, 2, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Wait::timedOut;
        if (other >= 0 && entries[0].revents != 0) return Wait::other;
        if (entries[1].revents != 0) return Wait::ready;
        if (ready == 0) return Wait::timedOut;
    }
}

Read readExactly(int fd, std::string_view expected, int other, Deadline deadline) {
    std::string got;
    while (got.size() < expected.size()) {
        switch (waitReadable(fd, other, deadline)) {
        case Wait::ready:
            break;
        case Wait::other:
            return Read::other;
        case Wait::timedOut:
            return Read::timedOut;
        }
        char buffer[16];
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, expected.size() - got.size()));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return Read::failed;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got == expected ? Read::expected : Read::failed;
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace lumenhollow::instance_io
