#include "hollowkit/wireless/tcp_connector.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <thread>

#include "hollowkit/base/unique_fd.h"

namespace hollowkit {
namespace {

// Milliseconds left until `deadline`, for poll(); 0 once it has passed.
int msUntil(TimePoint deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::system().now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

// A non-blocking socket whose connect has been started; invalid when the
// host is not an IPv4 address or the connect failed at once.
UniqueFd startConnect(const std::string& host, uint16_t port, const std::string& interface) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &remote.sin_addr) != 1) {
        return {};
    }
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd) {
        return {};
    }
    if (!interface.empty() && ::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, interface.c_str(),
                                           static_cast<socklen_t>(interface.size())) != 0) {
        return {};
    }
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0 && errno != EINPROGRESS) {
        return {};
    }
    return fd;
}

bool connectSucceeded(int fd) {
    int error = 0;
    socklen_t length = sizeof(error);
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

TcpSendOutcome PosixTcpConnector::sendOnce(const std::string& host, uint16_t port, ByteView bytes,
                                           const TcpSendTimings& timings) {
    UniqueFd fd = startConnect(host, port, interface_);
    if (!fd) {
        return TcpSendOutcome::notConnected;
    }
    const TimePoint connectDeadline = Clock::system().now() + timings.connect;
    pollfd entry{fd.get(), POLLOUT, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, msUntil(connectDeadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || !connectSucceeded(fd.get())) {
            return TcpSendOutcome::notConnected;
        }
        break;
    }

    const TimePoint sendDeadline = Clock::system().now() + timings.send;
    size_t offset = 0;
    while (offset < bytes.size()) {
        ssize_t n = ::send(fd.get(), bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (n > 0) {
            offset += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        if (::poll(&entry, 1, msUntil(sendDeadline)) <= 0 && Clock::system().now() >= sendDeadline) {
            break;
        }
    }
    const bool sent = offset == bytes.size();
    if (sent) {
        // Give the camera a moment to read before the close.
        std::this_thread::sleep_for(timings.linger);
    }
    return sent ? TcpSendOutcome::sent : TcpSendOutcome::sendUnconfirmed;
}

std::vector<std::string> PosixTcpConnector::probe(const std::vector<std::string>& hosts, uint16_t port,
                                                  Duration timeout) {
    struct Attempt {
        UniqueFd fd;
        size_t host;
    };
    std::vector<Attempt> attempts;
    for (size_t i = 0; i < hosts.size(); ++i) {
        if (UniqueFd fd = startConnect(hosts[i], port, interface_)) {
            attempts.push_back({std::move(fd), i});
        }
    }

    std::vector<std::string> ready;
    const TimePoint deadline = Clock::system().now() + timeout;
    while (!attempts.empty()) {
        std::vector<pollfd> entries;
        for (const Attempt& attempt : attempts) {
            entries.push_back({attempt.fd.get(), POLLOUT, 0});
        }
        const int count = ::poll(entries.data(), entries.size(), msUntil(deadline));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;  // the time-out: the rest never became ready
        }
        std::vector<Attempt> waiting;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].revents == 0) {
                waiting.push_back(std::move(attempts[i]));
            } else if (connectSucceeded(attempts[i].fd.get())) {
                ready.push_back(hosts[attempts[i].host]);
            }
        }
        attempts = std::move(waiting);
    }
    return ready;
}

}  // namespace hollowkit
