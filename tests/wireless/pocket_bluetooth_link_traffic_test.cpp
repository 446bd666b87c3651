#include "hollowkit/wireless/pocket_bluetooth_link.h"

#include <gtest/gtest.h>

#include <random>

#include "ble_harness.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_text.h"
#include "pocket_link_frames.h"

// The link's writes and requests, its disconnection and bad input.

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using namespace testsupport;

// MARK: Writes and requests

TEST(PocketBluetoothLink, WritesWaitForThePeripheralAndKeepTheirOrder) {
    SimPocketBle::Config config;
    config.pairedIdentifiers = {kIdentifier};
    BleHarness bench(config, false);
    bench.start();
    ASSERT_TRUE(bench.runUntil([&] { return bench.link->paired(); }, 5s));
    const size_t before = bench.camera.received().size();

    bench.radio.limitWriteCredits(0);
    for (uint8_t n = 1; n <= 3; ++n) bench.link->write(requestFrame(0x02, 0x10, Bytes{n}));
    bench.executor.runUntilIdle();
    EXPECT_EQ(bench.link->queuedWriteCount(), 3u);
    EXPECT_EQ(bench.camera.received().size(), before);

    bench.radio.grantWriteCredits(2);
    bench.executor.runUntilIdle();
    EXPECT_EQ(bench.link->queuedWriteCount(), 1u);
    // The peripheral can take writes again before its "ready" report
    // arrives: a new frame still goes behind the one waiting.
    bench.radio.grantWriteCredits(5);
    bench.link->write(requestFrame(0x02, 0x10, Bytes{4}));
    bench.executor.runUntilIdle();
    EXPECT_EQ(bench.link->queuedWriteCount(), 0u);
    bench.radio.unlimitWriteCredits();

    std::vector<uint8_t> order;
    for (const auto& frame : bench.camera.received()) {
        if (frame.commandKey() == "02/10") order.push_back(frame.payload.at(0));
    }
    EXPECT_EQ(order, (std::vector<uint8_t>{1, 2, 3, 4}));
    for (const auto& write : bench.radio.writes()) EXPECT_FALSE(write.dropped);
}

TEST(PocketBluetoothLink, WriteBeforeTheChannelIsLostAndItsRequestTimesOut) {
    BleHarness bench;
    int calls = 0;
    std::optional<DumlFrame> answer = replyFrame(0, 0, {});
    bench.link->request(requestFrame(0x07, 0x39, Bytes{0}), 12s, [&](std::optional<DumlFrame> reply) {
        ++calls;
        answer = std::move(reply);
    });
    bench.link->write(requestFrame(0x02, 0xE1, Bytes{1}));
    EXPECT_EQ(bench.link->queuedWriteCount(), 0u);
    bench.executor.advance(11900ms);
    EXPECT_EQ(calls, 0);
    bench.executor.advance(100ms);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(answer);
    EXPECT_TRUE(bench.radio.writes().empty());
}

class LinkRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimPocketBle::Config config;
        config.pairedIdentifiers = {kIdentifier};
        config.replyDelay = 500ms;
        bench_ = std::make_unique<BleHarness>(config);
        ASSERT_TRUE(bench_->startUntilCredentials());
    }

    // A 07/39 request whose outcome lands in `replies` (nothing: "none").
    void ask(std::vector<std::string>& replies, Duration timeout) {
        bench_->link->request(DumlConstants::wifiRoleQueryFrame(), timeout, [&replies](std::optional<DumlFrame> r) {
            replies.push_back(r ? hexString(r->payload) : "none");
        });
    }

    std::unique_ptr<BleHarness> bench_;
};

TEST_F(LinkRequestTest, NewerRequestReplacesTheOlderAtOnce) {
    std::vector<std::string> first;
    std::vector<std::string> second;
    ask(first, 12s);
    ask(second, 12s);
    EXPECT_EQ(first, std::vector<std::string>{"none"});
    bench_->executor.advance(1s);
    EXPECT_EQ(first, std::vector<std::string>{"none"});
    EXPECT_EQ(second, std::vector<std::string>{"00 00"});
}

TEST_F(LinkRequestTest, TimeOutActsOnlyOnItsOwnRequest) {
    // The first query is answered; a second one with the same key is sent
    // just before the first one's time-out and answered after it.
    std::vector<std::string> first;
    std::vector<std::string> second;
    ask(first, 12s);
    bench_->executor.advance(1s);
    EXPECT_EQ(first, std::vector<std::string>{"00 00"});
    bench_->executor.advance(10s);
    bench_->camera.config().replyDelay = 1500ms;
    ask(second, 12s);
    bench_->executor.advance(1400ms);  // the first query's 12 s have passed
    EXPECT_TRUE(second.empty());
    bench_->executor.advance(200ms);
    EXPECT_EQ(second, std::vector<std::string>{"00 00"});

    // A replaced request's time-out does not cut its successor short.
    std::vector<std::string> third;
    std::vector<std::string> fourth;
    bench_->camera.roleReplies = {std::nullopt, std::nullopt};
    ask(third, 12s);
    bench_->executor.advance(5s);
    ask(fourth, 12s);
    EXPECT_EQ(third, std::vector<std::string>{"none"});
    bench_->executor.advance(11s);  // 16 s after the third: its time-out passed
    EXPECT_TRUE(fourth.empty());
    bench_->executor.advance(1s);
    EXPECT_EQ(fourth, std::vector<std::string>{"none"});
    EXPECT_EQ(bench_->link->pendingRequestCount(), 0u);
}

TEST_F(LinkRequestTest, LateReplyReachesTheOwnerOnlyAsTelemetry) {
    std::vector<std::string> replies;
    bench_->camera.config().replyDelay = 3s;
    ask(replies, 2s);
    bench_->executor.advance(2s);
    EXPECT_EQ(replies, std::vector<std::string>{"none"});
    const size_t before = bench_->events.size();
    bench_->executor.advance(2s);
    ASSERT_EQ(bench_->events.size(), before + 1);
    EXPECT_EQ(bench_->events.back().kind, Kind::telemetry);
    EXPECT_EQ(bench_->events.back().frame.commandKey(), "07/39");
    EXPECT_EQ(replies.size(), 1u);
}

TEST_F(LinkRequestTest, ReplyToAWaitedNameQueryStillUpdatesTheName) {
    std::vector<std::string> replies;
    bench_->camera.config().ssid = "Renamed";
    bench_->link->request(PocketBluetoothLink::wifiNameQueryFrame(), 5s, [&](std::optional<DumlFrame> r) {
        replies.push_back(r ? r->commandKey() : "none");
    });
    bench_->executor.advance(1s);
    EXPECT_EQ(replies, std::vector<std::string>{"07/07"});
    EXPECT_EQ(bench_->link->ssid(), "Renamed");
    EXPECT_EQ(bench_->events.back().kind, Kind::telemetry);
}

// MARK: Disconnection

TEST(PocketBluetoothLink, DisconnectWithoutConnectionReportsAtOnce) {
    BleHarness bench;
    bench.link->disconnect();
    ASSERT_EQ(bench.events.size(), 1u);  // synchronously, nothing run yet
    EXPECT_EQ(bench.events[0].kind, Kind::disconnected);
}

TEST(PocketBluetoothLink, DisconnectEndsEveryPairingAndCredentialTimer) {
    struct Case {
        const char* name;
        Duration disconnectAfter;
        bool approve;
    };
    const Case cases[] = {
        {"while pairing", 1s, false},
        {"while fetching credentials", 0ms, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimPocketBle::Config config;
        config.answerNameQuery = false;
        if (!c.approve) config.pairingReply = SimPocketBle::PairingReply::silent;  // resends would follow
        BleHarness bench(config);
        bench.radio.setDisconnectDelay(3s);  // the link stays up a while
        bench.start();
        ASSERT_TRUE(bench.runUntil([&] { return bench.camera.announces() == 1; }, 5s));
        if (c.approve) {
            bench.camera.approvePairing();
            bench.executor.advance(200ms);
            ASSERT_TRUE(bench.link->paired());
        }
        bench.executor.advance(c.disconnectAfter);
        const size_t writes = bench.radio.writes().size();
        bench.link->disconnect();
        bench.executor.advance(120s);
        EXPECT_EQ(bench.count(Kind::disconnected), 1);
        EXPECT_EQ(bench.count(Kind::failed), 0);
        EXPECT_EQ(bench.radio.writes().size(), writes);  // no resend, keep-alive or query
        EXPECT_FALSE(bench.camera.isConnected());
    }
}

TEST(PocketBluetoothLink, CameraLeavingAtAnyStepEndsInOneDisconnection) {
    using Step = SimPocketBle::Step;
    const Step steps[] = {Step::connect,        Step::notifySetup, Step::arming,    Step::announce,
                          Step::pairingRequest, Step::approvalAnswer, Step::keepAlive, Step::wifiWake,
                          Step::nameQuery,      Step::passwordQuery};
    for (Step step : steps) {
        SCOPED_TRACE(static_cast<int>(step));
        SimPocketBle::Config config;
        config.disconnectAt = step;
        BleHarness bench(config);
        bench.start();
        bench.executor.advance(2s);
        if (step == Step::approvalAnswer || step == Step::keepAlive || step == Step::wifiWake ||
            step == Step::nameQuery || step == Step::passwordQuery) {
            bench.camera.approvePairing();
        }
        bench.executor.advance(2s);
        EXPECT_EQ(bench.count(Kind::disconnected), 1);
        EXPECT_EQ(bench.count(Kind::credentials), 0);
        const size_t writes = bench.sentWrites();
        bench.executor.advance(120s);
        EXPECT_EQ(bench.count(Kind::failed), 0) << (bench.texts(Kind::failed).empty() ? "" : bench.texts(Kind::failed)[0]);
        EXPECT_EQ(bench.count(Kind::disconnected), 1);
        EXPECT_EQ(bench.sentWrites(), writes);
        EXPECT_EQ(bench.log.count("Bluetooth disconnected: The camera went away."), 1);
    }
}

TEST(PocketBluetoothLink, OwnerMayDestroyTheLinkFromItsEventHandler) {
    SimPocketBle::Config config;
    config.pairedIdentifiers = {kIdentifier};
    BleHarness bench(config);
    bench.link->onEvent = [&](const Event& event) {
        bench.events.push_back(event);
        if (event.kind == Kind::telemetry) bench.link.reset();
    };
    bench.start();
    bench.executor.advance(20s);
    EXPECT_FALSE(bench.link);
    EXPECT_EQ(bench.count(Kind::telemetry), 1);
    EXPECT_FALSE(bench.camera.isConnected());
}

// MARK: Bad input

TEST(PocketBluetoothLink, AnyNotificationBytesAreSurvivedAndRealFramesStillFound) {
    SimPocketBle::Config config;
    config.pairedIdentifiers = {kIdentifier};
    BleHarness bench(config, false);
    bench.start();
    ASSERT_TRUE(bench.runUntil([&] { return bench.link->paired(); }, 5s));

    std::mt19937 random(1234);
    auto battery = [](int percent) {
        DumlFrame push;
        push.target = 0x020B;
        push.cmdSet = 0x0D;
        push.cmdId = 0x02;
        push.payload.assign(33, 0);
        push.payload[20] = static_cast<uint8_t>(percent);
        return push.encoded().value();
    };
    int expected = 0;
    for (int round = 0; round < 300; ++round) {
        Bytes noise(random() % 300);
        for (auto& b : noise) b = static_cast<uint8_t>(random() % 4 == 0 ? 0x55 : random());
        if (round % 3 == 0) {
            Bytes frame = battery(round % 101);
            noise.insert(noise.begin() + static_cast<std::ptrdiff_t>(noise.size() / 2), frame.begin(), frame.end());
            ++expected;
        }
        // Delivered in random small pieces.
        for (size_t offset = 0; offset < noise.size();) {
            size_t length = std::min<size_t>(1 + random() % 25, noise.size() - offset);
            bench.camera.sendRaw(Bytes(noise.begin() + static_cast<std::ptrdiff_t>(offset),
                                       noise.begin() + static_cast<std::ptrdiff_t>(offset + length)));
            offset += length;
        }
        bench.executor.runUntilIdle();
    }
    int batteries = 0;
    for (const auto& event : bench.events) {
        if (event.kind == Kind::telemetry && event.frame.commandKey() == "0D/02") ++batteries;
    }
    EXPECT_GE(batteries, expected);
    EXPECT_TRUE(bench.link->paired());
}

TEST(PocketBluetoothLink, AnyAdvertisementDataIsSurvived) {
    BleHarness bench;
    bench.radio.remove(bench.camera);
    std::mt19937 random(99);
    std::vector<std::unique_ptr<FakeBleDecoy>> devices;
    for (int n = 0; n < 200; ++n) {
        BleAdvertisement advertisement;
        if (random() % 2) {
            std::string name(random() % 40, '\0');
            for (auto& ch : name) ch = static_cast<char>(random());
            advertisement.localName = name;
        }
        Bytes raw(random() % 8);
        for (auto& b : raw) b = static_cast<uint8_t>(random());
        if (auto entry = BleManufacturerData::fromRaw(raw)) advertisement.manufacturerData.push_back(*entry);
        devices.push_back(std::make_unique<FakeBleDecoy>(BlePeripheral{"d" + std::to_string(n), std::nullopt},
                                                         advertisement, static_cast<int>(random() % 200) - 100));
        bench.radio.add(*devices.back());
    }
    bench.start();
    bench.executor.advance(25s);
    EXPECT_EQ(bench.radio.connectAttempts(), 0);
    EXPECT_EQ(bench.texts(Kind::failed), std::vector<std::string>{"No DJI Pocket found nearby. Is it turned on?"});
    for (auto& device : devices) bench.radio.remove(*device);
}

}  // namespace
}  // namespace hollowkit
