#include "hollowkit/wireless/duml_udp_link.h"

#include <gtest/gtest.h>

#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/testing/sim_pocket_transport.h"
#include "tests/wireless/wireless_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::LogCapture;

constexpr UdpLinkIdentity kIdentity{0x5A5A, 0x3000};

class DumlUdpLinkTest : public ::testing::Test {
protected:
    explicit DumlUdpLinkTest(SimPocketUdpOptions options = quietCamera()) : camera_(options) {}

    static SimPocketUdpOptions quietCamera() {
        SimPocketUdpOptions options;
        options.attitudeInterval = Duration::zero();
        options.cardInterval = Duration::zero();
        options.batteryInterval = Duration::zero();
        return options;
    }

    std::unique_ptr<DumlUDPLink> makeLink() {
        auto transport = std::make_unique<SimPocketTransport>(camera_, clock_);
        transport_ = transport.get();
        return std::make_unique<DumlUDPLink>(std::move(transport), UdpEndpoint{"127.0.0.21", 9004, "lo"},
                                             UdpLinkTimings{}, kIdentity);
    }

    // A datagram of the link's session, as the camera would send it.
    Bytes fromCamera(uint8_t type, uint16_t sequence, Bytes payload) {
        return udpPacket(type, kIdentity.sessionId, sequence, payload);
    }

    LogCapture log_;
    ManualClock clock_;
    SimPocketUdp camera_;
    SimPocketTransport* transport_ = nullptr;
};

TEST_F(DumlUdpLinkTest, OpenSynchronisesToTheCameraChannel) {
    auto link = makeLink();
    const TimePoint start = clock_.now();
    ASSERT_TRUE(link->open());

    // The handshake carries the base sequence in its first two bytes.
    const Bytes& handshake = transport_->sent().front();
    EXPECT_EQ(handshake[6], UdpPacketType::handshake);
    EXPECT_EQ(uint16LE(handshake, 8), kIdentity.baseSequence);
    EXPECT_EQ(link->cameraChannel(), 0x2340);
    EXPECT_EQ(link->nextSequence(), 0x2348);
    EXPECT_EQ(link->lastSentSequence(), 0x2340);
    EXPECT_EQ(link->peerAckedSequence(), 0x2340);
    EXPECT_TRUE(log_.contains("UDP handshake OK after 1 attempt(s)"));
    EXPECT_TRUE(log_.contains("Synced: channel=0x2340 nextTx=0x2348"));
    EXPECT_EQ(camera_.acksReceived(), 5);
    // Five sync rounds of 400 ms.
    EXPECT_GE(clock_.now() - start, 2000ms);
}

TEST_F(DumlUdpLinkTest, CommandsAdvanceTheSequenceByEight) {
    auto link = makeLink();
    ASSERT_TRUE(link->open());
    const uint16_t firstId = link->send(0x04, 0x50, Bytes{1, 4, 5}, 4, 0, 2);
    const uint16_t secondId = link->send(0x00, 0x88, Bytes{0x17}, 8, 1, 2);
    EXPECT_EQ(firstId, DumlUDPLink::kFirstDumlSequence);
    EXPECT_EQ(secondId, DumlUDPLink::kFirstDumlSequence + 1);

    const auto commands = camera_.commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].header.sequence, 0x2348);
    EXPECT_EQ(commands[0].prefix, (CommandPrefix{0x2340, 0x2348, 1}));
    EXPECT_EQ(commands[1].header.sequence, 0x2350);
    EXPECT_EQ(commands[1].prefix.counter, 2);
    // Receiver type + index * 32 and attribute * 32.
    EXPECT_EQ(commands[0].frame.target, DumlFrame::makeTarget(0x02, 0x04));
    EXPECT_EQ(commands[0].frame.flags, 0x40);
    EXPECT_EQ(commands[1].frame.target, DumlFrame::makeTarget(0x02, 8 + 32));
    EXPECT_EQ(camera_.sequenceViolations(), 0);
    EXPECT_EQ(camera_.malformedHeaders(), 0);
    EXPECT_EQ(link->lastSentSequence(), 0x2350);
}

TEST_F(DumlUdpLinkTest, SequenceWrapsAfter65528) {
    auto link = makeLink();
    ASSERT_TRUE(link->open());
    link->setNextSequenceForTesting(65528);
    link->send(0x04, 0x50, Bytes{}, 4, 0, 2);
    EXPECT_EQ(link->nextSequence(), 0);
    EXPECT_EQ(camera_.commands().back().header.sequence, 65528);
}

TEST_F(DumlUdpLinkTest, HandshakeGivesUpAfterTwentyAttemptsAndIgnoresOtherSessions) {
    SimPocketUdpOptions options = quietCamera();
    options.answerHandshakeOnAttempt = 0;
    SimPocketUdp silent(options);
    auto transport = std::make_unique<SimPocketTransport>(silent, clock_);
    SimPocketTransport* raw = transport.get();
    DumlUDPLink link(std::move(transport), {"127.0.0.21", 9004, "lo"}, {}, kIdentity);
    // A handshake answer of another session arrives first: it must not count.
    const TimePoint start = clock_.now();
    EXPECT_FALSE(link.open());
    EXPECT_EQ(silent.handshakesReceived(), 20);
    EXPECT_EQ(clock_.now() - start, 20 * 350ms);
    EXPECT_TRUE(log_.contains("UDP handshake failed"));
    EXPECT_TRUE(log_.contains("UDP closed."));
    EXPECT_FALSE(raw->isOpen());
}

// The owner's stop ends the handshake before its next attempt; a link
// asked to open after the stop sends nothing.
TEST_F(DumlUdpLinkTest, StopEndsTheHandshake) {
    SimPocketUdpOptions options = quietCamera();
    options.answerHandshakeOnAttempt = 0;
    SimPocketUdp silent(options);
    StopFlag stop;
    stop.set();
    DumlUDPLink link(std::make_unique<SimPocketTransport>(silent, clock_), {"127.0.0.21", 9004, "lo"}, {}, kIdentity);
    EXPECT_FALSE(link.open(&stop));
    EXPECT_EQ(silent.handshakesReceived(), 0);
}

TEST_F(DumlUdpLinkTest, ForeignHandshakeAnswerDoesNotEndTheHandshake) {
    SimPocketUdpOptions options = quietCamera();
    options.answerHandshakeOnAttempt = 3;
    SimPocketUdp late(options);
    late.setFaults({.foreignEvery = 1});
    auto transport = std::make_unique<SimPocketTransport>(late, clock_);
    DumlUDPLink link(std::move(transport), {"127.0.0.21", 9004, "lo"}, {}, kIdentity);
    ASSERT_TRUE(link.open());
    EXPECT_EQ(late.handshakesReceived(), 3);
    EXPECT_TRUE(log_.contains("UDP handshake OK after 3 attempt(s)"));
    EXPECT_GT(link.foreignDatagrams(), 0);
}

TEST_F(DumlUdpLinkTest, FailedTransportOpenFails) {
    auto link = makeLink();
    transport_->failOpen();
    EXPECT_FALSE(link->open());
    EXPECT_TRUE(transport_->sent().empty());
}

// The record rules of received datagrams, one case per row.
TEST_F(DumlUdpLinkTest, ReceivedRecords) {
    auto link = makeLink();
    ASSERT_TRUE(link->open());
    const int base = kIdentity.baseSequence;

    // Status with every field: records move (peerAcked always, video and
    // reliable while nothing of their kind was seen).
    link->handleDatagram(CameraStatusReport{0x4440, 0x0010, 0x0020, 0x4448}.datagram(kIdentity.sessionId, 1));
    EXPECT_EQ(link->cameraChannel(), 0x4440);
    EXPECT_EQ(link->rxVideoSequence(), 0x0010);
    EXPECT_EQ(link->rxReliableSequence(), 0x0020);
    EXPECT_EQ(link->peerAckedSequence(), 0x4448);

    // Zero values never overwrite a record.
    link->handleDatagram(CameraStatusReport{0, 0, 0, 0}.datagram(kIdentity.sessionId, 1));
    EXPECT_EQ(link->cameraChannel(), 0x4440);
    EXPECT_EQ(link->peerAckedSequence(), 0x4448);

    // A 33-byte status updates nothing.
    Bytes shortStatus = CameraStatusReport{0x5550, 0x0011, 0x0021, 0x5558}.datagram(kIdentity.sessionId, 1);
    shortStatus.pop_back();
    link->handleDatagram(shortStatus);
    EXPECT_EQ(link->rxVideoSequence(), 0x0010);
    EXPECT_EQ(link->cameraChannel(), 0x5550);  // the channel needs only 10 bytes

    // A video datagram with sequence 0 reaches the handler but freezes nothing.
    int videoCalls = 0;
    link->onVideoDatagram = [&](ByteView) { ++videoCalls; };
    link->handleDatagram(fromCamera(UdpPacketType::video, 0, Bytes(30, 1)));
    EXPECT_EQ(videoCalls, 1);
    link->handleDatagram(CameraStatusReport{0x6660, 0x0012, 0, 0}.datagram(kIdentity.sessionId, 1));
    EXPECT_EQ(link->rxVideoSequence(), 0x0012);
    EXPECT_EQ(link->cameraChannel(), 0x6660);

    // The first numbered video datagram freezes channel and video records.
    link->handleDatagram(fromCamera(UdpPacketType::video, 0x0100, Bytes(30, 1)));
    EXPECT_EQ(link->rxVideoSequence(), 0x0100);
    link->handleDatagram(CameraStatusReport{0x7770, 0x0013, 0x0022, 0}.datagram(kIdentity.sessionId, 1));
    EXPECT_EQ(link->rxVideoSequence(), 0x0100);
    EXPECT_EQ(link->cameraChannel(), 0x6660);
    EXPECT_EQ(link->rxReliableSequence(), 0x0022);
    (void)base;
}

TEST_F(DumlUdpLinkTest, FramesReachTheHandlerButOnlyThreeAreLoggedPerKey) {
    auto link = makeLink();
    ASSERT_TRUE(link->open());
    std::vector<DumlFrame> frames;
    link->onFrame = [&](const DumlFrame& frame) { frames.push_back(frame); };
    DumlFrame push;
    push.cmdSet = 0x0D;
    push.cmdId = 0x02;
    push.payload = Bytes(33, 0);
    const Bytes encoded = push.encoded().value();
    for (int i = 0; i < 5; ++i) {
        link->handleDatagram(fromCamera(UdpPacketType::reliable, static_cast<uint16_t>(i + 1), encoded));
    }
    // Video datagrams are never scanned, even when they hold a frame.
    link->handleDatagram(fromCamera(UdpPacketType::video, 9, encoded));
    EXPECT_EQ(frames.size(), 5u);
    EXPECT_EQ(log_.count("UDP RX 0x03 0D/02 flags=00 payload[33]="), 3);
}

// A peer cycling through every command key, three frames each, would
// otherwise write 196,608 lines; the log keeps to its budget and says in one
// line per interval how much it left out, while the handler sees every frame.
TEST_F(DumlUdpLinkTest, FramesOfEveryKeyStayWithinTheLogBudget) {
    auto link = makeLink();
    ASSERT_TRUE(link->open());
    size_t handled = 0;
    link->onFrame = [&](const DumlFrame&) { ++handled; };
    constexpr size_t kKeys = 65536;
    constexpr size_t kFramesPerDatagram = 1000;
    std::vector<Bytes> encoded;
    encoded.reserve(kKeys);
    for (size_t key = 0; key < kKeys; ++key) {
        DumlFrame frame;
        frame.cmdSet = static_cast<uint8_t>(key >> 8);
        frame.cmdId = static_cast<uint8_t>(key);
        encoded.push_back(frame.encoded().value());
    }
    const auto flood = [&](int rounds) {
        Bytes body;
        uint16_t sequence = 1;
        for (int round = 0; round < rounds; ++round) {
            for (size_t key = 0; key < kKeys; ++key) {
                body.insert(body.end(), encoded[key].begin(), encoded[key].end());
                if ((key + 1) % kFramesPerDatagram == 0 || key + 1 == kKeys) {
                    link->handleDatagram(fromCamera(UdpPacketType::reliable, sequence++, body));
                    body.clear();
                    clock_.advance(1ms);
                }
            }
        }
    };
    const int budget = DumlUDPLink::kFrameLogLimits.linesPerInterval;
    const std::string leftOut = " left out (at most 64 lines per 10 s)";
    log_.clear();
    flood(3);
    EXPECT_EQ(handled, 3 * kKeys);
    EXPECT_EQ(log_.count("UDP RX 0x03 "), budget);
    EXPECT_EQ(log_.count(leftOut), 0);

    // The next interval opens with the summary of the last one, then logs
    // again within the budget.
    clock_.advance(DumlUDPLink::kFrameLogLimits.interval);
    log_.clear();
    flood(1);
    const auto lines = log_.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "UDP RX: " + std::to_string(3 * kKeys - budget) + " line(s) of 65536 key(s)" + leftOut);
    EXPECT_EQ(log_.count("UDP RX 0x03 "), budget);

    link->close();
    EXPECT_EQ(log_.count("UDP RX: " + std::to_string(kKeys - budget) + " line(s) of " +
                         std::to_string(kKeys - budget) + " key(s)" + leftOut),
              1);
    EXPECT_EQ(log_.lines().size(), lines.size() + 2);  // the summary and the close line
}

TEST_F(DumlUdpLinkTest, PumpCountsForeignAndShortDatagrams) {
    auto link = makeLink();
    ASSERT_TRUE(link->open());
    const int foreignBefore = link->foreignDatagrams();
    camera_.setFaults({.foreignEvery = 1, .shortEvery = 2});
    const int handled = link->pump(1s);
    EXPECT_GT(handled, 0);
    // One foreign after every datagram, one short after every second: more
    // rejected than handled.
    EXPECT_GT(link->foreignDatagrams() - foreignBefore, handled);
    EXPECT_LE(link->lastInbound(), clock_.now());
    EXPECT_GT(link->lastInbound(), clock_.now() - 200ms);
}

TEST_F(DumlUdpLinkTest, CloseLogsTheSummaryOnce) {
    auto link = makeLink();
    ASSERT_TRUE(link->open());
    link->close();
    link->close();
    EXPECT_EQ(log_.count("UDP closed. packets 0x00:1 0x01:"), 1);
    EXPECT_TRUE(log_.contains(" foreign=0 lag=0"));
    EXPECT_FALSE(transport_->isOpen());
}

TEST_F(DumlUdpLinkTest, VerifyCameraReadsTheWifiName) {
    auto link = makeLink();
    ASSERT_TRUE(link->open());
    int passedOn = 0;
    link->onFrame = [&](const DumlFrame&) { ++passedOn; };
    EXPECT_EQ(link->verifyCamera(3s), "OSMO-POCKET3-1A2B");
    EXPECT_GE(passedOn, 1);  // the kept handler still sees the frames
    link->onFrame(DumlFrame{});
    EXPECT_GE(passedOn, 2);

    camera_.setReplyRule(0x07, 0x07, SimReplyRule::silent());
    const TimePoint start = clock_.now();
    EXPECT_FALSE(link->verifyCamera(3s));
    EXPECT_GE(clock_.now() - start, 3s);
}

}  // namespace
}  // namespace hollowkit
