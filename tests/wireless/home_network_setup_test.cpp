#include "hollowkit/wireless/home_network_setup.h"

#include <gtest/gtest.h>

#include "ble_harness.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::BleHarness;
using testsupport::kIdentifier;

const HomeNetwork kHome{"Home", "correct horse"};

Bytes bytes(std::initializer_list<uint8_t> list) {
    return Bytes(list);
}

// MARK: Values

TEST(StationRole, FromReplyPayload) {
    struct Case {
        std::optional<Bytes> payload;
        StationRole role;
    };
    const Case cases[] = {
        {bytes({0x00, 0x01}), StationRole::station},
        {bytes({0x00, 0x00}), StationRole::accessPoint},
        {bytes({0xE0}), StationRole::unknownButSettable},
        {bytes({0x00, 0x01, 0x00}), StationRole::unsupported},
        {bytes({}), StationRole::unsupported},
        {bytes({0x00}), StationRole::unsupported},
        {std::nullopt, StationRole::unsupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload ? hexString(*c.payload) : "none");
        EXPECT_EQ(stationRoleFromReply(c.payload), c.role);
    }
    EXPECT_STREQ(toString(StationRole::unknownButSettable), "unknownButSettable");
}

TEST(HomeNetworkError, EveryCaseHasItsSentence) {
    struct Case {
        HomeNetworkError error;
        const char* text;
    };
    const Case cases[] = {
        {HomeNetworkError::joinRejected("Home"),
         "The camera could not join Home. Check the password, and that the network is 2.4 or 5 GHz WPA2 (WPA3-only "
         "networks are refused)."},
        {HomeNetworkError::notFound("Home"),
         "The camera joined Home, but Lumenhollow could not find it. Make sure this Mac is on Home too."},
        {HomeNetworkError::unsupportedRole(), "This camera did not report a Wi-Fi mode Lumenhollow can change."},
        {HomeNetworkError::roleRefused(), "The camera did not accept joining another Wi-Fi network."},
        {HomeNetworkError::roleStarting(), "The camera's Wi-Fi is still starting. Keep it close and try again."},
        {HomeNetworkError::joinSilent(), "The camera did not answer while joining Wi-Fi. Keep it close and try again."},
        {HomeNetworkError::invalidSsid(""), "The home Wi-Fi name must be 1 to 32 bytes long."},
        {HomeNetworkError::invalidPassword("Home"),
         "The password of Home is too long. Wi-Fi passwords have at most 63 characters, or exactly 64 hexadecimal "
         "digits."},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.errorDescription(), c.text);
}

TEST(HomeNetworkSetupFrames, JoinAndAccessPointRequests) {
    auto join = HomeNetworkSetup::joinFrame(HomeNetwork{"Home", "pw"});
    ASSERT_TRUE(join.has_value());
    EXPECT_EQ(join.value().commandKey(), "07/47");
    EXPECT_EQ(join.value().target, 0x0702);
    EXPECT_EQ(join.value().id, 0x8047);
    EXPECT_EQ(join.value().flags, 0x40);
    EXPECT_EQ(join.value().payload, bytes({0x04, 'H', 'o', 'm', 'e', 0x02, 'p', 'w'}));

    const DumlFrame leave = HomeNetworkSetup::accessPointFrame(true);
    const DumlFrame back = HomeNetworkSetup::accessPointFrame(false);
    EXPECT_EQ(leave.commandKey(), "07/48");
    EXPECT_EQ(leave.id, 0x8048);
    EXPECT_EQ(leave.payload, bytes({0x01}));
    EXPECT_EQ(back.payload, bytes({0x00}));
}

TEST(HomeNetworkSetupFrames, OverLongNamesAndPasswordsNeverReachAFrame) {
    const std::string hexKey(64, 'a');
    struct Case {
        HomeNetwork home;
        HomeNetworkError::Kind error;
    };
    const Case cases[] = {
        {{"", "password"}, HomeNetworkError::Kind::invalidSsid},
        {{std::string(33, 's'), "password"}, HomeNetworkError::Kind::invalidSsid},
        {{"Home", std::string(64, 'x')}, HomeNetworkError::Kind::invalidPassword},
        {{"Home", std::string(300, 'x')}, HomeNetworkError::Kind::invalidPassword},
        {{std::string(32, 's'), std::string(63, 'x')}, HomeNetworkError::Kind::none},
        {{"Home", hexKey}, HomeNetworkError::Kind::none},
        {{"Open", ""}, HomeNetworkError::Kind::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.home.ssid.size());
        auto frame = HomeNetworkSetup::joinFrame(c.home);
        if (c.error == HomeNetworkError::Kind::none) {
            ASSERT_TRUE(frame.has_value());
            EXPECT_EQ(frame.value().payload.size(), c.home.ssid.size() + c.home.password.size() + 2);
        } else {
            ASSERT_FALSE(frame.has_value());
            EXPECT_EQ(frame.error().kind, c.error);
        }
    }
}

// MARK: Moving the camera

class HomeNetworkSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Table cases start over: the old bench goes before the new one
        // takes the log.
        setup_.reset();
        bench_.reset();
        statuses_.clear();
        probes_ = 0;
        SimPocketBle::Config config;
        config.pairedIdentifiers = {kIdentifier};
        bench_ = std::make_unique<BleHarness>(config);
        ASSERT_TRUE(bench_->startUntilCredentials());
        setup_ = std::make_unique<HomeNetworkSetup>(bench_->executor, *bench_->link,
                                                    [this](const std::string& text) { statuses_.push_back(text); });
    }

    SimPocketBle& camera() { return bench_->camera; }

    // Runs a move to its end; the outcome is the error kind (none: moved).
    HomeNetworkError::Kind move(StationRole role, std::vector<bool> probeAnswers = {},
                                const HomeNetwork& home = kHome) {
        calls_ = 0;
        std::optional<Result<void, HomeNetworkError>> outcome;
        const TimePoint started = bench_->executor.clock().now();
        setup_->moveCamera(
            home, role,
            [this, probeAnswers](std::function<void(bool)> done) {
                ++probes_;
                done(probes_ <= static_cast<int>(probeAnswers.size()) && probeAnswers[probes_ - 1]);
            },
            [&](Result<void, HomeNetworkError> result) {
                ++calls_;
                outcome = std::move(result);
            });
        EXPECT_FALSE(outcome) << "completed inside the call";
        bench_->runUntil([&] { return outcome.has_value(); }, 600s);
        elapsed_ = bench_->executor.clock().now() - started;
        EXPECT_EQ(calls_, 1);
        if (!outcome) return HomeNetworkError::Kind::cancelled;
        return outcome->has_value() ? HomeNetworkError::Kind::none : outcome->error().kind;
    }

    int countStatus(const std::string& text) const {
        return static_cast<int>(std::count(statuses_.begin(), statuses_.end(), text));
    }

    std::unique_ptr<BleHarness> bench_;
    std::unique_ptr<HomeNetworkSetup> setup_;
    std::vector<std::string> statuses_;
    int probes_ = 0;
    int calls_ = 0;
    Duration elapsed_{};
};

TEST_F(HomeNetworkSetupTest, CameraInAccessPointModeMovesOntoTheHomeNetwork) {
    camera().config().roleQueriesBeforeSwitch = 2;
    EXPECT_EQ(move(StationRole::accessPoint), HomeNetworkError::Kind::none);
    EXPECT_EQ(statuses_, (std::vector<std::string>{"Switching the camera to Video mode", "Moving the camera onto Home",
                                                   "Waiting for the camera's Wi-Fi", "Joining Home (attempt 1 of 3)"}));
    EXPECT_EQ(camera().count("02/E1"), 1);
    EXPECT_EQ(camera().count("07/48"), 1);
    EXPECT_EQ(camera().count("07/39"), 3);  // two still in access-point mode
    ASSERT_EQ(camera().joinRequests().size(), 1u);
    EXPECT_EQ(camera().joinRequests()[0], std::make_pair(kHome.ssid, kHome.password));
    EXPECT_TRUE(camera().isStation());
    EXPECT_EQ(bench_->log.count("Home Wi-Fi join reply: 00 00"), 1);
    // 2 s video mode, two 2 s pauses, 10 s wait, plus the reply round trips.
    EXPECT_GE(elapsed_, 16s);
    EXPECT_LT(elapsed_, 17s);
}

TEST_F(HomeNetworkSetupTest, RoleDecidesHowTheAccessPointIsLeft) {
    struct Case {
        const char* name;
        StationRole role;
        std::optional<Bytes> leaveReply;
        HomeNetworkError::Kind outcome;
        int leaveRequests;
    };
    const Case cases[] = {
        {"station skips the leave request", StationRole::station, std::nullopt, HomeNetworkError::Kind::none, 0},
        {"settable camera accepts with 00", StationRole::unknownButSettable, bytes({0x00}),
         HomeNetworkError::Kind::none, 1},
        {"settable camera accepts with 00 00", StationRole::unknownButSettable, bytes({0x00, 0x00}),
         HomeNetworkError::Kind::none, 1},
        {"access point refuses with 00", StationRole::accessPoint, bytes({0x00}), HomeNetworkError::Kind::roleRefused,
         1},
        {"no answer", StationRole::accessPoint, std::nullopt, HomeNetworkError::Kind::roleRefused, 1},
        {"other answer", StationRole::unknownButSettable, bytes({0x01}), HomeNetworkError::Kind::roleRefused, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.role != StationRole::station) camera().accessPointReplies = {c.leaveReply};
        EXPECT_EQ(move(c.role), c.outcome);
        EXPECT_EQ(camera().count("07/48"), c.leaveRequests);
        EXPECT_EQ(camera().count("07/39"), 0);
        EXPECT_EQ(camera().joinRequests().size(), c.outcome == HomeNetworkError::Kind::none ? 1u : 0u);
        EXPECT_EQ(countStatus("Waiting for the camera's Wi-Fi"), c.outcome == HomeNetworkError::Kind::none ? 1 : 0);
    }
}

TEST_F(HomeNetworkSetupTest, AccessPointThatDoesNotEndFailsAfterSixQueries) {
    camera().accessPointReplies = {bytes({0x00, 0x00})};
    for (int i = 0; i < 6; ++i) camera().roleReplies.push_back(bytes({0x00, 0x00}));
    EXPECT_EQ(move(StationRole::accessPoint), HomeNetworkError::Kind::roleStarting);
    EXPECT_EQ(camera().count("07/39"), 6);
    EXPECT_EQ(camera().joinRequests().size(), 0u);
    // Six round trips and six 2 s pauses after the 2 s video-mode pause.
    EXPECT_GE(elapsed_, 14s);
    EXPECT_LT(elapsed_, 15s);
}

TEST_F(HomeNetworkSetupTest, UnknownRoleWhileWaitingIsUnsupported) {
    for (const auto& reply : {std::optional<Bytes>(bytes({0xE0})), std::optional<Bytes>()}) {
        SetUp();
        camera().accessPointReplies = {bytes({0x00, 0x00})};
        camera().roleReplies = {bytes({0x00, 0x00}), reply};
        EXPECT_EQ(move(StationRole::accessPoint), HomeNetworkError::Kind::unsupportedRole);
        EXPECT_EQ(camera().count("07/39"), 2);
    }
}

TEST_F(HomeNetworkSetupTest, JoinVerdicts) {
    using Kind = HomeNetworkError::Kind;
    const Bytes notYet = bytes({0x01, 0xFF});
    const Bytes joined = bytes({0x00, 0x00});
    struct Case {
        const char* name;
        std::deque<std::optional<Bytes>> replies;
        std::vector<bool> probes;
        Kind outcome;
        size_t joinRequests;
        int retryStatuses;
        int probesRun;
    };
    const Case cases[] = {
        {"joined", {joined}, {}, Kind::none, 1, 0, 0},
        {"joined, long form", {bytes({0x00, 0x00, 0x00})}, {}, Kind::none, 1, 0, 0},
        {"third time lucky", {notYet, notYet, joined}, {}, Kind::none, 3, 2, 0},
        {"never ready", {notYet, notYet, notYet}, {}, Kind::joinRejected, 3, 2, 0},
        {"refused", {bytes({0x01, 0x02})}, {}, Kind::joinRejected, 1, 0, 0},
        {"silent but found", {std::nullopt}, {true}, Kind::none, 1, 0, 1},
        {"silent, found on the second probe", {std::nullopt, std::nullopt}, {false, true}, Kind::none, 2, 0, 2},
        {"silent throughout", {std::nullopt, std::nullopt, std::nullopt}, {false, false, false}, Kind::joinSilent, 3,
         0, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        probes_ = 0;
        camera().joinReplies = c.replies;
        EXPECT_EQ(move(StationRole::station, c.probes), c.outcome);
        EXPECT_EQ(camera().joinRequests().size(), c.joinRequests);
        EXPECT_EQ(countStatus("Retrying the Wi-Fi connection"), c.retryStatuses);
        EXPECT_EQ(probes_, c.probesRun);
        for (size_t n = 1; n <= c.joinRequests; ++n) {
            EXPECT_EQ(countStatus("Joining Home (attempt " + std::to_string(n) + " of 3)"), 1);
        }
        EXPECT_EQ(bench_->log.count("Home Wi-Fi join: no reply, probing the network"), c.probesRun);
    }
}

TEST_F(HomeNetworkSetupTest, InvalidNetworkFailsBeforeAnythingIsSent) {
    const size_t before = camera().received().size();
    EXPECT_EQ(move(StationRole::accessPoint, {}, HomeNetwork{std::string(40, 'n'), "password"}),
              HomeNetworkError::Kind::invalidSsid);
    EXPECT_EQ(move(StationRole::accessPoint, {}, HomeNetwork{"Home", std::string(80, 'p')}),
              HomeNetworkError::Kind::invalidPassword);
    for (size_t i = before; i < camera().received().size(); ++i) {
        EXPECT_EQ(camera().received()[i].commandKey(), "00/2B");  // keep-alives only
    }
    EXPECT_TRUE(statuses_.empty());
}

TEST_F(HomeNetworkSetupTest, CameraLeavingMidMoveEndsTheMoveOnce) {
    using Step = SimPocketBle::Step;
    using Kind = HomeNetworkError::Kind;
    struct Case {
        Step step;
        Kind outcome;
    };
    const Case cases[] = {
        {Step::videoMode, Kind::roleRefused},
        {Step::accessPoint, Kind::roleRefused},
        {Step::roleQuery, Kind::unsupportedRole},
        {Step::join, Kind::joinSilent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.step));
        SetUp();
        camera().config().disconnectAt = c.step;
        camera().config().roleQueriesBeforeSwitch = 1;
        EXPECT_EQ(move(StationRole::accessPoint), c.outcome);
        EXPECT_EQ(bench_->count(testsupport::Kind::disconnected), 1);
        EXPECT_EQ(bench_->link->pendingRequestCount(), 0u);
    }
}

TEST_F(HomeNetworkSetupTest, CancelEndsTheMoveAndSendsNothingMore) {
    std::vector<Result<void, HomeNetworkError>> outcomes;
    setup_->moveCamera(kHome, StationRole::station, nullptr,
                       [&](Result<void, HomeNetworkError> result) { outcomes.push_back(result); });
    bench_->executor.advance(5s);  // inside the 10 s wait
    setup_->cancel();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].error().kind, HomeNetworkError::Kind::cancelled);
    bench_->executor.advance(120s);
    EXPECT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(camera().joinRequests().empty());
}

TEST_F(HomeNetworkSetupTest, SetupDestroyedMidMoveCallsNothing) {
    int calls = 0;
    setup_->moveCamera(kHome, StationRole::accessPoint, nullptr, [&](auto) { ++calls; });
    bench_->executor.advance(2100ms);  // the leave request is on its way
    setup_.reset();
    bench_->executor.advance(120s);
    EXPECT_EQ(calls, 0);
}

// MARK: Switching back

TEST_F(HomeNetworkSetupTest, SwitchBackWaitsForTheAccessPoint) {
    struct Case {
        const char* name;
        std::optional<std::optional<Bytes>> backReply;  // scripted answer (nothing: silence)
        int queriesBeforeSwitch;
        bool result;
        int queries;
    };
    const Case cases[] = {
        {"back after three queries", std::nullopt, 2, true, 3},
        {"short accept", std::optional<Bytes>(bytes({0x00})), 0, true, 1},
        {"refused", std::optional<Bytes>(bytes({0x01})), 0, false, 0},
        {"no answer", std::optional<Bytes>(), 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        camera().setStation(true);
        camera().config().roleQueriesBeforeSwitch = c.queriesBeforeSwitch;
        if (c.backReply) {
            camera().accessPointReplies = {*c.backReply};
            camera().roleReplies = {bytes({0x00, 0x00})};  // a scripted accept does not move the camera
        }
        std::optional<bool> result;
        setup_->switchBack([&](bool back) { result = back; });
        bench_->runUntil([&] { return result.has_value(); }, 300s);
        ASSERT_TRUE(result);
        EXPECT_EQ(*result, c.result);
        EXPECT_EQ(camera().count("07/39"), c.queries);
        EXPECT_EQ(statuses_.front(), "Switching the camera back to its own Wi-Fi");
    }
}

TEST_F(HomeNetworkSetupTest, SwitchBackGivesUpAfterEightQueries) {
    camera().setStation(true);
    for (int i = 0; i < 10; ++i) camera().roleReplies.push_back(bytes({0x00, 0x01}));
    std::optional<bool> result;
    setup_->switchBack([&](bool back) { result = back; });
    bench_->runUntil([&] { return result.has_value(); }, 300s);
    ASSERT_TRUE(result);
    EXPECT_FALSE(*result);
    EXPECT_EQ(camera().count("07/39"), 8);
}

}  // namespace
}  // namespace hollowkit
