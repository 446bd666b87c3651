#include "hollowkit/wireless/bound_udp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/base/thread_name.h"

namespace hollowkit {
namespace {

// Log only the first few failed sends; the total comes at close.
constexpr int kLoggedSendErrors = 3;

}  // namespace

BoundUDPSocket::~BoundUDPSocket() {
    close();
}

bool BoundUDPSocket::open(const UdpEndpoint& endpoint) {
    UniqueFd socketFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!socketFd) {
        PocketLog::logf("socket() failed errno=%d", errno);
        return false;
    }

    // An unknown interface has index 0, and binding to "" would remove the
    // binding: either way traffic could leave by another route, so refuse.
    unsigned int index = 0;
    if (!endpoint.interface.empty()) {
        index = ::if_nametoindex(endpoint.interface.c_str());
        if (index == 0) {
            PocketLog::logf("IP_BOUND_IF failed errno=%d", ENODEV);
            return false;
        }
        if (::setsockopt(socketFd.get(), SOL_SOCKET, SO_BINDTODEVICE, endpoint.interface.c_str(),
                         static_cast<socklen_t>(endpoint.interface.size())) != 0) {
            PocketLog::logf("IP_BOUND_IF failed errno=%d", errno);
            return false;
        }
    }

    // An unparsable host would leave 0.0.0.0, which Linux delivers locally.
    in_addr address{};
    if (::inet_pton(AF_INET, endpoint.host.c_str(), &address) != 1) {
        PocketLog::logf("UDP bad host %s", endpoint.host.c_str());
        return false;
    }

    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) {
        PocketLog::logf("eventfd() failed errno=%d", errno);
        return false;
    }

    // Take the local port now (the device binding above must come first), so
    // replies find us before our first send.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (::bind(socketFd.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        PocketLog::logf("UDP bind failed errno=%d", errno);
        return false;
    }
    socklen_t localLength = sizeof(local);
    if (::getsockname(socketFd.get(), reinterpret_cast<sockaddr*>(&local), &localLength) == 0) {
        localPort_ = ntohs(local.sin_port);
    }
    destinationAddress_ = address.s_addr;
    destinationPort_ = endpoint.port;
    descriptor_ = std::move(socketFd);
    wakeFd_ = std::move(wake);
    receiver_ = std::thread([this, fd = descriptor_.get(), wakeFd = wakeFd_.get()] { receiveLoop(fd, wakeFd); });

    if (endpoint.interface.empty()) {
        PocketLog::log("UDP socket open without interface binding");
    } else {
        PocketLog::logf("UDP socket bound to %s (index %u)", endpoint.interface.c_str(), index);
    }
    return true;
}

void BoundUDPSocket::receiveLoop(int socketFd, int wakeFd) {
    enterLibraryThread(kUdpReceiveThread.label);
    auto buffer = std::make_unique<uint8_t[]>(kReceiveBufferSize);
    pollfd fds[2] = {{socketFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        fds[0].revents = fds[1].revents = 0;
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents & (POLLERR | POLLNVAL)) {
            // Pending ICMP errors surface here; reading clears them.
            int error = 0;
            socklen_t length = sizeof(error);
            ::getsockopt(socketFd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (fds[0].revents & POLLNVAL) {
                return;
            }
        }
        // Drain everything available before waiting again.
        for (;;) {
            sockaddr_in sender{};
            socklen_t senderLength = sizeof(sender);
            ssize_t n = ::recvfrom(socketFd, buffer.get(), kReceiveBufferSize, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&sender), &senderLength);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;  // EAGAIN, or an ICMP error that says nothing about our peer's datagrams
            }
            // Anyone on the interface can reach our port; only the camera's
            // address may feed the link, which otherwise has only a 16-bit
            // session id to tell an injected datagram apart. Its source port
            // is not checked: nothing says the camera answers from the port
            // it is sent to, and telling sessions apart is the link's job.
            if (sender.sin_family != AF_INET || sender.sin_addr.s_addr != destinationAddress_) {
                noteForeignSender(sender.sin_addr.s_addr, ntohs(sender.sin_port));
                continue;
            }
            if (n == 0) {
                continue;  // a zero-length datagram carries nothing
            }
            Bytes datagram(buffer.get(), buffer.get() + n);
            {
                MutexLock lock(lock_);
                while (!incoming_.empty() && (incoming_.size() >= kMaxIncomingDatagrams ||
                                              incomingBytes_ + datagram.size() > kMaxIncomingBytes)) {
                    incomingBytes_ -= incoming_.front().size();
                    incoming_.pop_front();
                    ++dropped_;
                }
                incomingBytes_ += datagram.size();
                incoming_.push_back(std::move(datagram));
            }
            arrived_.notify_one();
        }
    }
}

void BoundUDPSocket::noteForeignSender(uint32_t address, uint16_t port) {
    size_t count = 0;
    {
        MutexLock lock(lock_);
        count = ++foreignSenderDatagrams_;
    }
    if (count == 1) {
        in_addr from{};
        from.s_addr = address;
        char text[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &from, text, sizeof(text));
        PocketLog::logf("UDP datagram from %s:%u dropped: not the camera's address", text, unsigned(port));
    }
}

void BoundUDPSocket::send(ByteView datagram) {
    if (!descriptor_) {
        return;
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(destinationPort_);
    destination.sin_addr.s_addr = destinationAddress_;
    ssize_t sent = ::sendto(descriptor_.get(), datagram.data(), datagram.size(), 0,
                            reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
    if (sent < 0) {
        const int error = errno;
        ++sendErrors_;
        if (sendErrors_ <= kLoggedSendErrors) {
            PocketLog::logf("UDP sendto errno=%d (%s)", error, std::strerror(error));
        }
    }
}

std::vector<Bytes> BoundUDPSocket::takeIncoming() {
    MutexLock lock(lock_);
    std::vector<Bytes> taken(std::make_move_iterator(incoming_.begin()), std::make_move_iterator(incoming_.end()));
    incoming_.clear();
    incomingBytes_ = 0;
    return taken;
}

bool BoundUDPSocket::waitForIncoming(TimePoint deadline) {
    MutexLock lock(lock_);
    return lock.waitUntil(arrived_, deadline, [this]() HK_REQUIRES(lock_) { return !incoming_.empty(); });
}

void BoundUDPSocket::sleepUntil(TimePoint deadline) {
    std::this_thread::sleep_until(deadline);
}

void BoundUDPSocket::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    if (receiver_.joinable()) {
        const uint64_t one = 1;
        // An eventfd write of 1 cannot fail short of overflow; the poll wakes.
        [[maybe_unused]] ssize_t written = ::write(wakeFd_.get(), &one, sizeof(one));
        receiver_.join();
    }
    if (sendErrors_ > 0) {
        PocketLog::logf("UDP total send errors: %d", sendErrors_);
    }
    if (const size_t foreign = foreignSenderDatagrams(); foreign > 0) {
        PocketLog::logf("UDP datagrams from other senders dropped: %zu", foreign);
    }
    descriptor_.reset();
    wakeFd_.reset();
}

size_t BoundUDPSocket::droppedDatagrams() const {
    MutexLock lock(lock_);
    return dropped_;
}

size_t BoundUDPSocket::foreignSenderDatagrams() const {
    MutexLock lock(lock_);
    return foreignSenderDatagrams_;
}

}  // namespace hollowkit
