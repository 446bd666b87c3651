#include "hollowkit/wireless/tcp_bootstrap.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/testing/sim_pocket_network.h"
#include "tests/wireless/wireless_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::LogCapture;

constexpr BootstrapTimings kQuick{300ms, 300ms, 10ms, 300ms};

// A TCP listener on a loopback address that never accepts.
struct Listener {
    explicit Listener(const char* host, int backlog = 8) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, host, &local.sin_addr);
        EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
        EXPECT_EQ(::listen(fd.get(), backlog), 0);
        socklen_t length = sizeof(local);
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length);
        port = ntohs(local.sin_port);
    }
    UniqueFd fd;
    uint16_t port = 0;
};

// A port on `host` where nothing listens (connections are refused).
uint16_t closedPort(const char* host) {
    Listener gone(host);
    return gone.port;
}

TEST(TcpBootstrapTest, TheCameraGetsExactlyTheFrame) {
    LogCapture log;
    SimPocketUdp camera;
    SimPocketNetwork network(camera, {.host = "127.0.0.21"});
    ASSERT_TRUE(network.start().has_value());
    const Bytes frame = DumlConstants::pairingFrame().encoded().value();
    PosixTcpConnector connector("lo");

    const int fds = testsupport::openDescriptors();
    sendBootstrapFrame(connector, frame, "127.0.0.21", network.tcpPort(), kQuick);
    EXPECT_TRUE(log.contains("TCP/7001 bootstrap: pairing frame sent"));
    // Our side closed, so the camera sees the end of the connection.
    ASSERT_TRUE(network.waitForTcpPayloads(1));
    EXPECT_EQ(network.tcpPayloads(), std::vector<Bytes>{frame});
    EXPECT_EQ(testsupport::openDescriptors(), fds);
}

TEST(TcpBootstrapTest, NoListenerMeansNoConnection) {
    LogCapture log;
    PosixTcpConnector connector;
    const TimePoint start = Clock::system().now();
    sendBootstrapFrame(connector, Bytes{1, 2, 3}, "127.0.0.22", closedPort("127.0.0.22"), kQuick);
    // A refusal ends the wait at once, well before the time-out.
    EXPECT_LT(Clock::system().now() - start, kQuick.connect);
    EXPECT_TRUE(log.contains("TCP/7001 bootstrap: no connection, continuing to UDP"));

    sendBootstrapFrame(connector, Bytes{1}, "not-an-address", 7001, kQuick);
    EXPECT_EQ(log.count("no connection, continuing to UDP"), 2);
}

// A camera that accepts but never reads: once both socket buffers are full
// the bytes cannot all go, and the log must not claim they did.
TEST(TcpBootstrapTest, AStalledSendIsNotReportedAsSent) {
    LogCapture log;
    Listener stalled("127.0.0.61");
    PosixTcpConnector connector;
    const Bytes huge(64 * 1024 * 1024, 0x55);
    sendBootstrapFrame(connector, huge, "127.0.0.61", stalled.port, {300ms, 200ms, 10ms, 300ms});
    EXPECT_TRUE(log.contains("TCP/7001 bootstrap: pairing frame send not confirmed"));
    EXPECT_FALSE(log.contains("pairing frame sent"));
}

TEST(TcpBootstrapTest, ProbeReportsWhoAccepts) {
    Listener first("127.0.0.31");
    Listener second("127.0.0.33", 8);
    PosixTcpConnector connector("lo");
    EXPECT_TRUE(probeHost(connector, "127.0.0.31", first.port, kQuick));
    EXPECT_TRUE(probeHost(connector, "127.0.0.33", second.port, kQuick));
    EXPECT_FALSE(probeHost(connector, "127.0.0.32", closedPort("127.0.0.32"), kQuick));
    EXPECT_FALSE(probeHost(connector, "256.0.0.1", first.port, kQuick));
}

TEST(TcpBootstrapTest, ProbeOfManyHostsKeepsOnlyTheAnsweringOnes) {
    // The same port on several addresses: two listen, the rest refuse.
    Listener a("127.0.0.41");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(a.port);
    ::inet_pton(AF_INET, "127.0.0.44", &local.sin_addr);
    UniqueFd b(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::bind(b.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
    ASSERT_EQ(::listen(b.get(), 8), 0);

    PosixTcpConnector connector;
    const int fds = testsupport::openDescriptors();
    auto ready = connector.probe({"127.0.0.41", "127.0.0.42", "127.0.0.43", "127.0.0.44", "bogus"}, a.port, 300ms);
    std::sort(ready.begin(), ready.end());
    EXPECT_EQ(ready, (std::vector<std::string>{"127.0.0.41", "127.0.0.44"}));
    EXPECT_EQ(testsupport::openDescriptors(), fds);
}

// A listener whose accept queue is full drops new connection requests: the
// probe must give up at its time-out.
TEST(TcpBootstrapTest, ProbeOfABlackHoleTimesOut) {
    Listener full("127.0.0.51", 0);
    std::vector<UniqueFd> fillers;
    PosixTcpConnector connector;
    // Fill the queue (its size depends on the kernel) until a probe hangs.
    for (int i = 0; i < 4 && probeHost(connector, "127.0.0.51", full.port, {1s, 1s, 0ms, 100ms}); ++i) {
        UniqueFd filler(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(full.port);
        ::inet_pton(AF_INET, "127.0.0.51", &remote.sin_addr);
        ::connect(filler.get(), reinterpret_cast<sockaddr*>(&remote), sizeof(remote));
        fillers.push_back(std::move(filler));
    }
    const TimePoint start = Clock::system().now();
    EXPECT_FALSE(probeHost(connector, "127.0.0.51", full.port, {1s, 1s, 0ms, 200ms}));
    EXPECT_GE(Clock::system().now() - start, 200ms);
}

}  // namespace
}  // namespace hollowkit
