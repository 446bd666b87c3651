// The local-network sweep: candidates of a subnet, batches of 64, the
// limit, the order of answers, and one sweep of a /24 on loopback against
// real listeners.

#include "hollowkit/wireless/subnet_sweep.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <set>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/fake_interface_addresses.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

uint32_t ip(std::string_view text) { return parseDottedQuad(text).value(); }

// Answers from a fixed set of hosts, each batch in reverse order (so the
// result must follow the connector's order, not the address order).
class ScriptedConnector final : public TcpConnector {
public:
    explicit ScriptedConnector(std::set<std::string> answering) : answering_(std::move(answering)) {}

    TcpSendOutcome sendOnce(const std::string&, uint16_t, ByteView, const TcpSendTimings&) override {
        return TcpSendOutcome::notConnected;
    }
    std::vector<std::string> probe(const std::vector<std::string>& hosts, uint16_t port, Duration) override {
        batches.push_back(hosts.size());
        ports.push_back(port);
        std::vector<std::string> ready;
        for (auto it = hosts.rbegin(); it != hosts.rend(); ++it) {
            if (answering_.count(*it)) ready.push_back(*it);
        }
        return ready;
    }

    std::vector<size_t> batches;
    std::vector<uint16_t> ports;

private:
    std::set<std::string> answering_;
};

TEST(SubnetSweepTest, DottedQuadsRoundTripAndRejectMalformedText) {
    EXPECT_EQ(dottedQuad(ip("192.168.1.23")), "192.168.1.23");
    EXPECT_EQ(ip("10.0.0.255"), 0x0A0000FFu);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1.2.3.4 ", "a.b.c.d", "1.2.3.0004"}) {
        EXPECT_EQ(parseDottedQuad(bad), std::nullopt) << bad;
    }
}

TEST(SubnetSweepTest, CandidatesOfASubnet) {
    struct Case {
        const char* address;
        const char* netmask;
        size_t count;
        const char* first;
        const char* last;
    };
    const Case cases[] = {
        {"192.168.1.10", "255.255.255.0", 253, "192.168.1.1", "192.168.1.254"},
        {"10.1.2.3", "255.255.252.0", 1021, "10.1.0.1", "10.1.3.254"},  // /22: 1022 hosts but ours
        {"10.1.2.3", "255.255.248.0", 0, nullptr, nullptr},             // /21: too wide
        {"10.0.0.1", "255.255.255.252", 1, "10.0.0.2", "10.0.0.2"},     // /30
        {"10.0.0.1", "255.255.255.254", 0, nullptr, nullptr},           // /31
        {"10.0.0.1", "255.255.255.255", 0, nullptr, nullptr},           // /32
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + std::string("/") + c.netmask);
        auto candidates = sweepCandidates(ip(c.address), ip(c.netmask));
        ASSERT_EQ(candidates.size(), c.count);
        if (c.count == 0) continue;
        EXPECT_EQ(dottedQuad(candidates.front()), c.first);
        EXPECT_EQ(dottedQuad(candidates.back()), c.last);
        EXPECT_TRUE(std::is_sorted(candidates.begin(), candidates.end()));
        EXPECT_EQ(std::count(candidates.begin(), candidates.end(), ip(c.address)), 0);
    }
}

TEST(SubnetSweepTest, BatchesLimitAndOrderOfAnswers) {
    FakeInterfaceAddresses addresses({FakeInterfaceAddresses::entry("eth0", "10.9.9.9", "255.0.0.0"),
                                      FakeInterfaceAddresses::entry("wlan0", "192.168.1.10", "255.255.255.0"),
                                      FakeInterfaceAddresses::entry("wlan0", "172.16.0.10", "255.255.255.0")});
    SubnetSweepOptions options;
    options.port = 7123;

    // One host in the last batch: all four batches, the first address of
    // the interface decides the subnet.
    ScriptedConnector one({"192.168.1.250"});
    EXPECT_EQ(sweepSubnet(one, addresses, "wlan0", 8, options), std::vector<std::string>{"192.168.1.250"});
    EXPECT_EQ(one.batches, (std::vector<size_t>{64, 64, 64, 61}));
    EXPECT_EQ(one.ports, (std::vector<uint16_t>{7123, 7123, 7123, 7123}));

    // Ten hosts answer in the first batch: stop there, keep the first eight
    // to answer.
    std::set<std::string> ten;
    for (int host = 1; host <= 10; ++host) ten.insert("192.168.1." + std::to_string(host * 5));
    ScriptedConnector many(ten);
    auto found = sweepSubnet(many, addresses, "wlan0", 8, options);
    EXPECT_EQ(many.batches, std::vector<size_t>{64});
    EXPECT_EQ(found, (std::vector<std::string>{"192.168.1.50", "192.168.1.45", "192.168.1.40", "192.168.1.35",
                                               "192.168.1.30", "192.168.1.25", "192.168.1.20", "192.168.1.15"}));

    // Nothing to sweep: no such interface, an unreadable list, a stop.
    ScriptedConnector none(ten);
    EXPECT_TRUE(sweepSubnet(none, addresses, "wlan9", 8, options).empty());
    addresses.setUnreadable(true);
    EXPECT_TRUE(sweepSubnet(none, addresses, "wlan0", 8, options).empty());
    addresses.setUnreadable(false);
    StopFlag stop;
    stop.set();
    EXPECT_TRUE(sweepSubnet(none, addresses, "wlan0", 8, options, &stop).empty());
    EXPECT_TRUE(none.batches.empty());
}

// A listener on a 127.0.0.x address and a free port; closed with the object.
UniqueFd listenOn(const char* host, uint16_t& port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &address.sin_addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd.get(), 8) != 0) {
        return {};
    }
    socklen_t length = sizeof address;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

TEST(SubnetSweepTest, FindsListenersOnALoopbackSlash24) {
    uint16_t port = 0;
    UniqueFd first = listenOn("127.0.0.57", port);
    ASSERT_TRUE(first) << "no listener on 127.0.0.57";
    UniqueFd second = listenOn("127.0.0.200", port);
    ASSERT_TRUE(second) << "port " << port << " is taken on 127.0.0.200";

    FakeInterfaceAddresses addresses({FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")});
    PosixTcpConnector connector("lo");
    SubnetSweepOptions options;
    options.port = port;
    auto found = sweepSubnet(connector, addresses, "lo", 8, options);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"127.0.0.200", "127.0.0.57"}));
}

}  // namespace
}  // namespace hollowkit
