#include "hollowkit/testing/sim_pocket_network.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/thread_name.h"

namespace hollowkit {
namespace {

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

uint16_t boundPort(int fd) {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 ? ntohs(local.sin_port) : 0;
}

}  // namespace

SimPocketNetwork::SimPocketNetwork(SimPocketUdp& camera, SimPocketNetworkOptions options)
    : camera_(camera), options_(std::move(options)) {}

SimPocketNetwork::~SimPocketNetwork() {
    stop();
}

Result<void, std::string> SimPocketNetwork::start() {
    in_addr address{};
    if (::inet_pton(AF_INET, options_.host.c_str(), &address) != 1) {
        return unexpected("not an IPv4 address: " + options_.host);
    }
    // Tests never reach outside this machine.
    if ((ntohl(address.s_addr) >> 24) != 127) {
        return unexpected("the simulated camera serves only 127.0.0.0/8, not " + options_.host);
    }

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(options_.udpPort);
    udp_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP));
    if (!udp_ || ::bind(udp_.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        return unexpected(errnoText("UDP bind"));
    }
    udpPort_ = boundPort(udp_.get());

    if (options_.listenTcp) {
        listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
        const int yes = 1;
        ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        local.sin_port = htons(options_.tcpPort);
        if (!listener_ || ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
            ::listen(listener_.get(), 16) != 0) {
            return unexpected(errnoText("TCP listen"));
        }
        tcpPort_ = boundPort(listener_.get());
    }

    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_) {
        return unexpected(errnoText("eventfd"));
    }
    thread_ = std::thread([this] { serve(); });
    return {};
}

void SimPocketNetwork::stop() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wake_.get(), &one, sizeof(one));
        thread_.join();
    }
    // Connections still open at the stop count as ended with what they sent.
    for (TcpPeer& peer : peers_) {
        MutexLock lock(mutex_);
        tcpPayloads_.push_back(std::move(peer.bytes));
    }
    tcpEnded_.notify_all();
    peers_.clear();
    udp_.reset();
    listener_.reset();
    wake_.reset();
}

void SimPocketNetwork::flushOutgoing() {
    if (peerPort_ == 0) {
        camera_.takeOutgoing();  // nobody to send to yet
        return;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = peerAddress_;
    peer.sin_port = htons(peerPort_);
    for (const Bytes& datagram : camera_.takeOutgoing()) {
        // Loopback drops only when the receiver's buffer is full: that is a
        // loss like any other on Wi-Fi.
        ::sendto(udp_.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof(peer));
    }
}

void SimPocketNetwork::serve() {
    setCurrentThreadName("SimPocket.Net");
    std::vector<uint8_t> buffer(65536);
    const Clock& clock = Clock::system();
    for (;;) {
        const TimePoint now = clock.now();
        camera_.advanceTo(now);
        flushOutgoing();

        const TimePoint due = camera_.nextDue();
        int timeoutMs = 100;
        if (due != TimePoint::max()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - clock.now()).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait, 0, 100));
        }

        std::vector<pollfd> fds;
        fds.push_back({wake_.get(), POLLIN, 0});
        fds.push_back({udp_.get(), POLLIN, 0});
        fds.push_back({listener_ ? listener_.get() : -1, POLLIN, 0});
        for (const TcpPeer& peer : peers_) {
            fds.push_back({peer.fd.get(), POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }

        if (fds[1].revents & POLLIN) {
            for (;;) {
                sockaddr_in from{};
                socklen_t fromLength = sizeof(from);
                ssize_t n = ::recvfrom(udp_.get(), buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
                if (n < 0) {
                    break;
                }
                peerAddress_ = from.sin_addr.s_addr;
                peerPort_ = ntohs(from.sin_port);
                ++udpReceived_;
                camera_.receive(ByteView(buffer.data(), static_cast<size_t>(n)), clock.now());
            }
        }

        if (listener_ && (fds[2].revents & POLLIN)) {
            for (;;) {
                UniqueFd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
                if (!accepted) {
                    break;
                }
                peers_.push_back(TcpPeer{std::move(accepted), {}, clock.now()});
                MutexLock lock(mutex_);
                ++tcpConnections_;
            }
        }

        // Read every TCP peer; one that closed (or idled too long) is done.
        for (size_t i = 0; i < peers_.size();) {
            TcpPeer& peer = peers_[i];
            bool done = false;
            for (;;) {
                ssize_t n = ::recv(peer.fd.get(), buffer.data(), buffer.size(), 0);
                if (n > 0) {
                    peer.bytes.insert(peer.bytes.end(), buffer.begin(), buffer.begin() + n);
                    peer.lastActivity = clock.now();
                    continue;
                }
                done = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
                break;
            }
            if (done || clock.now() - peer.lastActivity > options_.tcpIdleLimit) {
                Bytes bytes = std::move(peer.bytes);
                peers_.erase(peers_.begin() + static_cast<ptrdiff_t>(i));  // closes it
                {
                    MutexLock lock(mutex_);
                    tcpPayloads_.push_back(std::move(bytes));
                }
                tcpEnded_.notify_all();
            } else {
                ++i;
            }
        }
    }
}

std::vector<Bytes> SimPocketNetwork::tcpPayloads() const {
    MutexLock lock(mutex_);
    return tcpPayloads_;
}

bool SimPocketNetwork::waitForTcpPayloads(size_t count, Duration limit) const {
    MutexLock lock(mutex_);
    return lock.waitFor(tcpEnded_, limit, [&]() HK_REQUIRES(mutex_) { return tcpPayloads_.size() >= count; });
}

int SimPocketNetwork::tcpConnections() const {
    MutexLock lock(mutex_);
    return tcpConnections_;
}

}  // namespace hollowkit
