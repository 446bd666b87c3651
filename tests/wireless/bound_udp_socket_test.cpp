#include "hollowkit/wireless/bound_udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "hollowkit/base/unique_fd.h"
#include "tests/wireless/wireless_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::LogCapture;

// A plain UDP socket on a loopback address (127.0.0.1 unless given)
// standing in for the camera, or for another host on its network.
class Peer {
public:
    explicit Peer(const char* address = "127.0.0.1", uint16_t port = 0)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        EXPECT_EQ(::inet_pton(AF_INET, address, &local.sin_addr), 1);
        EXPECT_EQ(::bind(fd_.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0) << address;
        socklen_t length = sizeof(local);
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
    }

    uint16_t port() const { return port_; }

    void sendTo(uint16_t port, ByteView bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    }

    std::optional<Bytes> receive() {
        pollfd fd{fd_.get(), POLLIN, 0};
        if (::poll(&fd, 1, 2000) != 1) {
            return std::nullopt;
        }
        Bytes buffer(65536);
        ssize_t n = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
        buffer.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return buffer;
    }

private:
    UniqueFd fd_;
    uint16_t port_ = 0;
};

TEST(BoundUdpSocketTest, SendsAndReceivesOnLoopback) {
    LogCapture log;
    Peer peer;
    BoundUDPSocket socket;
    ASSERT_TRUE(socket.open({"127.0.0.1", peer.port(), "lo"}));
    EXPECT_TRUE(log.contains("UDP socket bound to lo (index "));

    socket.send(Bytes{1, 2, 3});
    EXPECT_EQ(peer.receive(), (Bytes{1, 2, 3}));

    // A zero-length datagram is not queued; the next one is.
    peer.sendTo(socket.localPort(), Bytes{});
    peer.sendTo(socket.localPort(), Bytes{9, 8});
    EXPECT_TRUE(socket.waitForIncoming(Clock::system().now() + 2s));
    auto taken = socket.takeIncoming();
    EXPECT_EQ(taken, (std::vector<Bytes>{{9, 8}}));
    EXPECT_TRUE(socket.takeIncoming().empty());

    // The biggest IPv4 UDP datagram arrives whole.
    Bytes big(65507, 0x5A);
    peer.sendTo(socket.localPort(), big);
    ASSERT_TRUE(socket.waitForIncoming(Clock::system().now() + 2s));
    EXPECT_EQ(socket.takeIncoming().front().size(), big.size());

    // Datagrams already queued survive close().
    peer.sendTo(socket.localPort(), Bytes{7});
    ASSERT_TRUE(socket.waitForIncoming(Clock::system().now() + 2s));
    socket.close();
    EXPECT_EQ(socket.takeIncoming(), (std::vector<Bytes>{{7}}));
}

// Other hosts on the interface can reach the socket's port, but only the
// camera's address feeds the owner, from whatever port it answers; the rest
// is counted and logged once.
TEST(BoundUdpSocketTest, OnlyTheCamerasAddressFeedsTheOwnerFromAnyPort) {
    LogCapture log;
    Peer camera;
    BoundUDPSocket socket;
    ASSERT_TRUE(socket.open({"127.0.0.1", camera.port(), "lo"}));

    struct Sender {
        const char* name;
        const char* address;
        bool cameraPort;
        bool queued;
    };
    const Sender senders[] = {
        {"another host, from the camera's port", "127.0.0.2", true, false},
        {"the camera's host, from another port", "127.0.0.1", false, true},
        {"another host, from another port", "127.0.0.3", false, false},
    };
    // Looks like the camera's answers: the socket cannot tell by content.
    std::vector<Bytes> expected;
    size_t dropped = 0;
    uint8_t tag = 0;
    for (const Sender& sender : senders) {
        Peer peer(sender.address, sender.cameraPort ? camera.port() : 0);
        for (int i = 0; i < 4; ++i) {
            const Bytes datagram{0x30, 0x80, 0x5A, 0x5A, ++tag};
            peer.sendTo(socket.localPort(), datagram);
            if (sender.queued) {
                expected.push_back(datagram);
            } else {
                ++dropped;
            }
        }
    }
    // Datagrams on one socket arrive in order: once the camera's is queued,
    // every earlier one has been seen.
    camera.sendTo(socket.localPort(), Bytes{0xCA});
    expected.push_back(Bytes{0xCA});
    std::vector<Bytes> received;
    while (received.size() < expected.size() && socket.waitForIncoming(Clock::system().now() + 5s)) {
        for (Bytes& datagram : socket.takeIncoming()) received.push_back(std::move(datagram));
    }
    EXPECT_EQ(received, expected);
    EXPECT_EQ(socket.foreignSenderDatagrams(), dropped);
    EXPECT_EQ(log.count("UDP datagram from 127.0.0.2:" + std::to_string(camera.port()) +
                        " dropped: not the camera's address"),
              1);
    EXPECT_EQ(log.count(" dropped: not the camera's address"), 1);
    socket.close();
    EXPECT_TRUE(log.contains("UDP datagrams from other senders dropped: " + std::to_string(dropped)));
}

TEST(BoundUdpSocketTest, WaitEndsAtTheDeadlineWithoutData) {
    Peer peer;
    BoundUDPSocket socket;
    ASSERT_TRUE(socket.open({"127.0.0.1", peer.port(), ""}));
    const TimePoint deadline = Clock::system().now() + 30ms;
    EXPECT_FALSE(socket.waitForIncoming(deadline));
    EXPECT_GE(Clock::system().now(), deadline);
}

// Every failing open leaves no descriptor and no thread behind.
TEST(BoundUdpSocketTest, FailedOpenLeaksNothing) {
    struct Case {
        UdpEndpoint endpoint;
        const char* log;
    };
    const Case cases[] = {
        {{"127.0.0.1", 9004, "nosuchif0"}, "IP_BOUND_IF failed errno=19"},
        {{"not-an-address", 9004, "lo"}, "UDP bad host not-an-address"},
        {{"", 9004, "lo"}, "UDP bad host "},
    };
    for (const Case& c : cases) {
        LogCapture log;
        const int fds = testsupport::openDescriptors();
        const int threads = testsupport::libraryThreadCount();
        {
            BoundUDPSocket socket;
            EXPECT_FALSE(socket.open(c.endpoint)) << c.log;
            EXPECT_EQ(testsupport::libraryThreadCount(), threads) << c.log;
            socket.send(Bytes{1});  // ignored, not a crash
        }
        EXPECT_TRUE(log.contains(c.log)) << c.log;
        EXPECT_EQ(testsupport::openDescriptors(), fds) << c.log;
    }
}

TEST(BoundUdpSocketTest, SendFailuresAreCountedAndLoggedThreeTimes) {
    LogCapture log;
    Peer peer;
    BoundUDPSocket socket;
    ASSERT_TRUE(socket.open({"127.0.0.1", peer.port(), "lo"}));
    const Bytes tooBig(70000, 0);  // beyond any UDP datagram: EMSGSIZE
    for (int i = 0; i < 5; ++i) {
        socket.send(tooBig);
    }
    EXPECT_EQ(socket.sendErrors(), 5);
    EXPECT_EQ(log.count("UDP sendto errno=90 (Message too long)"), 3);
    socket.close();
    EXPECT_TRUE(log.contains("UDP total send errors: 5"));
}

// Sockets made and closed back to back under traffic: close joins its
// receive thread before the descriptor number can be reused, so no socket
// ever sees another's datagrams, and nothing is left behind.
TEST(BoundUdpSocketTest, OpenCloseCyclesNeverCrossDatagramsNorLeak) {
    LogCapture quiet;
    Peer peer;
    const int fds = testsupport::openDescriptors();
    const int threads = testsupport::libraryThreadCount();
    uint16_t previousPort = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        BoundUDPSocket socket;
        ASSERT_TRUE(socket.open({"127.0.0.1", peer.port(), "lo"}));
        // Stragglers for the previous socket's port go nowhere. The system
        // may hand the same port out again at once (about one run in a
        // hundred here): a datagram to it then belongs to this socket.
        if (previousPort != 0 && previousPort != socket.localPort()) {
            peer.sendTo(previousPort, Bytes{0xEE});
        }
        const Bytes tag{static_cast<uint8_t>(cycle), static_cast<uint8_t>(cycle >> 8)};
        peer.sendTo(socket.localPort(), tag);
        ASSERT_TRUE(socket.waitForIncoming(Clock::system().now() + 2s));
        ASSERT_EQ(socket.takeIncoming(), std::vector<Bytes>{tag}) << cycle;
        previousPort = socket.localPort();
        socket.close();
    }
    EXPECT_EQ(testsupport::openDescriptors(), fds);
    EXPECT_EQ(testsupport::libraryThreadCount(), threads);
}

}  // namespace
}  // namespace hollowkit
