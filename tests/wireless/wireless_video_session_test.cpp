#include "hollowkit/wireless/wireless_video_session.h"

#include <gtest/gtest.h>

#include <map>

#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/testing/reference_hevc_decoder.h"
#include "hollowkit/testing/sim_pocket_transport.h"
#include "tests/wireless/wireless_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::AssemblingStream;
using testsupport::LogCapture;

// The start sequence pumps 400 + 400 + 400 + 600 ms and bursts 22 ms: the
// loop begins this long after run().
constexpr Duration kLoopStart = 1822ms;

// The whole session against the simulated camera, on virtual time: a
// twelve-second run takes a few milliseconds and runs the same way each time.
class WirelessVideoSessionTest : public ::testing::Test {
protected:
    WirelessVideoSessionTest() : camera_(cameraOptions()), gimbal_(clock_) {}

    static SimPocketUdpOptions cameraOptions() {
        SimPocketUdpOptions options;
        options.videoDatagramSize = 700;
        return options;
    }

    // Runs an action once virtual time reaches `at` after run() began.
    void at(Duration when, std::function<void()> action) { script_.emplace(when, std::move(action)); }

    bool run() {
        auto transport = std::make_unique<SimPocketTransport>(camera_, clock_);
        transport_ = transport.get();
        link_ = std::make_unique<DumlUDPLink>(std::move(transport), UdpEndpoint{"127.0.0.21", 9004, "lo"});
        EXPECT_TRUE(link_->open());
        origin_ = clock_.now();
        transport_->onTime = [this](TimePoint now) {
            while (!script_.empty() && now - origin_ >= script_.begin()->first) {
                auto action = std::move(script_.begin()->second);
                script_.erase(script_.begin());
                action();
            }
        };
        WirelessVideoSession::Handlers handlers;
        handlers.emitStatus = [this](const std::string& text) { statuses_.push_back(text); };
        handlers.emitStats = [this](const CameraStats& stats) { stats_.emplace_back(clock_.now() - origin_, stats); };
        handlers.emitTelemetry = [this](const CameraEvent& event) { events_.push_back(event); };
        WirelessVideoSession session(*link_, stream_, gimbal_, commands_, stop_, handlers);
        const bool restart = session.run();
        ended_ = clock_.now() - origin_;
        return restart;
    }

    void stopAt(Duration when) {
        at(when, [this] { stop_.set(); });
    }

    // Command results in emission order: label and outcome.
    std::vector<std::pair<std::string, CommandOutcome>> results() const {
        std::vector<std::pair<std::string, CommandOutcome>> found;
        for (const auto& event : events_) {
            if (auto result = event.get<CameraEvent::CommandResult>()) {
                found.emplace_back(result->label, result->outcome);
            }
        }
        return found;
    }

    template <typename T>
    std::vector<T> eventsOf() const {
        std::vector<T> found;
        for (const auto& event : events_) {
            if (auto value = event.get<T>()) {
                found.push_back(*value);
            }
        }
        return found;
    }

    // Frames the camera received, each with the time after run() began.
    std::vector<std::pair<Duration, DumlFrame>> received(const std::string& key) const {
        std::vector<std::pair<Duration, DumlFrame>> found;
        for (const auto& command : camera_.commands()) {
            if (command.frame.commandKey() == key && command.at >= origin_) {
                found.emplace_back(command.at - origin_, command.frame);
            }
        }
        return found;
    }

    LogCapture log_;
    ManualClock clock_;
    SimPocketUdp camera_;
    SimPocketTransport* transport_ = nullptr;
    std::unique_ptr<DumlUDPLink> link_;
    AssemblingStream stream_;
    GimbalCommands gimbal_;
    CommandQueue commands_;
    StopFlag stop_;
    TimePoint origin_;
    Duration ended_{};
    std::multimap<Duration, std::function<void()>> script_;
    std::vector<std::string> statuses_;
    std::vector<std::pair<Duration, CameraStats>> stats_;
    std::vector<CameraEvent> events_;
};

TEST_F(WirelessVideoSessionTest, StartSequenceThenLiveViewUntilStopped) {
    stopAt(6s);
    EXPECT_FALSE(run());

    // The fixed start: info, START, gimbal init, heartbeat, then the burst.
    std::vector<std::string> keys;
    for (const auto& command : camera_.commands()) {
        if (command.at >= origin_) {
            keys.push_back(command.frame.commandKey());
        }
    }
    ASSERT_GE(keys.size(), 17u);
    const std::vector<std::string> start(keys.begin(), keys.begin() + 17);
    EXPECT_EQ(start, (std::vector<std::string>{"00/81", "00/88", "03/DA", "04/50", "01/01", "09/A8", "01/01",
                                               "09/A8", "01/01", "01/01", "01/01", "01/01", "01/01", "01/01",
                                               "01/01", "01/01", "01/01"}));
    const auto info = received("00/81").front().second;
    EXPECT_EQ(info.flags, 0x80);
    EXPECT_EQ(info.receiver(), 8 + 2 * 32);
    EXPECT_EQ(received("01/01")[6].second.payload, DumlConstants::liveViewPayloadA());
    EXPECT_EQ(received("01/01")[7].second.payload, DumlConstants::liveViewPayloadB());
    EXPECT_EQ(statuses_, (std::vector<std::string>{"Waking gimbal", "Waiting for first keyframe"}));
    EXPECT_TRUE(log_.contains("Gimbal init sent, heartbeat replies: 1"));

    // Pictures arrive in order without a gap, from the first keyframe on.
    ASSERT_TRUE(stream_.hasPicture());
    const auto& pictures = stream_.pictures();
    ASSERT_GT(pictures.size(), 90u);
    EXPECT_EQ(pictures.front() % 30, 0);
    for (size_t i = 1; i < pictures.size(); ++i) {
        ASSERT_EQ(pictures[i], pictures[i - 1] + 1);
    }

    // START every second for the whole run; the stop comes within a turn.
    const auto starts = received("00/88");
    EXPECT_EQ(starts.size(), 1u + 4u);
    EXPECT_GE(ended_, 6s);
    EXPECT_LT(ended_, 6s + 20ms);

    // Gimbal stopped at the end, link closed.
    const auto speeds = camera_.speedFrames();
    ASSERT_EQ(speeds.size(), 3u);
    EXPECT_TRUE(speeds[0].isZero() && speeds[2].isZero());
    EXPECT_TRUE(log_.contains("UDP closed."));
    EXPECT_FALSE(transport_->isOpen());
}

TEST_F(WirelessVideoSessionTest, StatisticsEveryTwoSeconds) {
    stopAt(kLoopStart + 6500ms);
    run();
    ASSERT_EQ(stats_.size(), 3u);
    for (size_t i = 0; i < stats_.size(); ++i) {
        const auto& [when, stats] = stats_[i];
        EXPECT_NEAR(std::chrono::duration<double>(when - kLoopStart).count(), 2.0 * (i + 1), 0.02) << i;
        EXPECT_TRUE(stats.gimbalResponding);
        EXPECT_EQ(stats.transportLag, 0);
        EXPECT_TRUE(stats.attitude.has_value());
        if (i > 0) {
            EXPECT_TRUE(stats.hasPicture);
            EXPECT_NEAR(stats.framesPerSecond, 30.0, 1.0);
            EXPECT_EQ(stats.resolution, (VideoDimensions{320, 180}));
        }
    }
}

TEST_F(WirelessVideoSessionTest, HeartbeatWithoutRepliesIsReportedAsNotResponding) {
    camera_.setReplyRule(0x04, 0x50, SimReplyRule::silent());
    stopAt(kLoopStart + 2500ms);
    run();
    ASSERT_EQ(stats_.size(), 1u);
    EXPECT_FALSE(stats_[0].second.gimbalResponding);
    EXPECT_TRUE(log_.contains("Gimbal init sent, heartbeat replies: 0"));
}

TEST_F(WirelessVideoSessionTest, ReleasingTheGimbalSendsExactlyThreeStopFrames) {
    at(kLoopStart + 1s, [this] { gimbal_.setVelocity({120, -40}); });
    at(kLoopStart + 1500ms, [this] { gimbal_.setVelocity(GimbalVelocity::zero); });
    stopAt(kLoopStart + 4s);
    run();

    const auto speeds = camera_.speedFrames();
    size_t moving = 0;
    while (moving < speeds.size() && !speeds[moving].isZero()) {
        EXPECT_EQ(speeds[moving], (GimbalVelocity{120, -40}));
        ++moving;
    }
    // One speed frame every 50 ms (turns of 12 ms make it 60) for half a second.
    EXPECT_GE(moving, 8u);
    EXPECT_LE(moving, 10u);
    // Three on release, nothing while idle, three at the end of the run.
    ASSERT_EQ(speeds.size(), moving + 6);
    const auto frames = received("04/01");
    const Duration releaseAt = frames[moving].first;
    EXPECT_EQ(frames[moving + 2].first, releaseAt);
    EXPECT_GE(frames[moving + 3].first, kLoopStart + 4s);
    // The camera turned while the speed lasted.
    EXPECT_LT(camera_.attitude().yaw, -1.0);
    EXPECT_GT(camera_.attitude().pitch, 3.0);
}

TEST_F(WirelessVideoSessionTest, AHeldDirectionStopsAfterThreeSeconds) {
    at(kLoopStart + 500ms, [this] { gimbal_.setVelocity({0, 300}); });
    stopAt(kLoopStart + 6s);
    run();
    const auto frames = received("04/01");
    std::vector<Duration> stops;
    for (const auto& [when, frame] : frames) {
        if (frame.payload == gimbalSpeedPayload(0, 0)) {
            stops.push_back(when);
        }
    }
    // Three stop frames when the hold limit ends the motion, three at the end.
    ASSERT_EQ(stops.size(), 6u);
    EXPECT_GE(stops[0], kLoopStart + 3500ms);
    EXPECT_LT(stops[0], kLoopStart + 3600ms);
    EXPECT_GE(stops[3], kLoopStart + 6s);
}

TEST_F(WirelessVideoSessionTest, RecenterAndFlipAreAnsweredSeparately) {
    at(kLoopStart + 1s, [this] {
        gimbal_.requestRecenter();
        commands_.append(CameraCommand::flipGimbal());
    });
    stopAt(kLoopStart + 2s);
    run();
    // Commands go out before the recentre within one turn.
    const auto gimbalFrames = received("04/4C");
    ASSERT_EQ(gimbalFrames.size(), 2u);
    EXPECT_EQ(gimbalFrames[0].second.payload, (Bytes{0xFE, 0x09}));
    EXPECT_EQ(gimbalFrames[1].second.payload, (Bytes{0xFE, 0x08}));
    EXPECT_TRUE(log_.contains("Gimbal recenter sent"));
    EXPECT_TRUE(log_.contains("Gimbal recenter reply 00"));
    // The recentre's reply does not settle the flip, nor report anything.
    EXPECT_EQ(results(), (std::vector<std::pair<std::string, CommandOutcome>>{
                             {"Flip gimbal", CommandOutcome::accepted()}}));
}

TEST_F(WirelessVideoSessionTest, CommandOutcomesUnderTheirOwnLabels) {
    camera_.setReplyRule(0x02, 0x42, SimReplyRule::reject(0x11));
    camera_.setReplyRule(0x02, 0x2A, SimReplyRule::emptyPayload());
    camera_.setReplyRule(0x02, 0x1E, SimReplyRule::silent());
    at(kLoopStart + 1s, [this] {
        commands_.append(CameraCommand::setting(CameraSetting::compression(VideoCodec::h264)));
        commands_.append(CameraCommand::setting(CameraSetting::colorProfile(ColorProfile::dLog)));
        commands_.append(CameraCommand::setting(CameraSetting::iso(CameraISO::iso800)));
        commands_.append(CameraCommand::setting(CameraSetting::exposureMode(ExposureMode::manual)));
        commands_.append(CameraCommand::zoom(200));
    });
    stopAt(kLoopStart + 4s);
    run();

    const auto outcomes = results();
    ASSERT_EQ(outcomes.size(), 4u);
    std::map<std::string, CommandOutcome> byLabel(outcomes.begin(), outcomes.end());
    EXPECT_EQ(byLabel.at("Codec H.264"), CommandOutcome::accepted());
    EXPECT_EQ(byLabel.at("Color D-Log (10-bit)"), CommandOutcome::rejected(0x11));
    EXPECT_EQ(byLabel.at("ISO 800"), CommandOutcome::rejected(0xFF));
    EXPECT_EQ(byLabel.at("Exposure Manual"), CommandOutcome::noReply());
    // The accepted zoom reports nothing; the silent command is logged.
    EXPECT_EQ(byLabel.count("Zoom 2.0x"), 0u);
    EXPECT_TRUE(log_.contains("Camera command got no reply: Exposure Manual"));
    EXPECT_TRUE(log_.contains("Camera command sent: Zoom 2.0x [02/B8 0a 4e b2 01]"));
    EXPECT_TRUE(log_.contains("Camera command reply: Color D-Log (10-bit) -> 11 (rejected)"));
    // The time-out is 2.0 s after sending.
    EXPECT_TRUE(log_.contains("Camera command reply: Codec H.264 -> 00 (accepted)"));
}

TEST_F(WirelessVideoSessionTest, ASecondCommandOfAKeyReplacesTheFirst) {
    // Both answered: one result, the second command's.
    at(kLoopStart + 1s, [this] {
        commands_.append(CameraCommand::cardRecording(true));
        commands_.append(CameraCommand::cardRecording(false));
    });
    // A zoom the camera never answers, twice in one turn: one no-reply.
    camera_.setReplyRule(0x02, 0xB8, SimReplyRule::silent());
    at(kLoopStart + 1200ms, [this] {
        commands_.append(CameraCommand::zoom(150));
        commands_.append(CameraCommand::zoom(300));
    });
    stopAt(kLoopStart + 4s);
    run();
    EXPECT_EQ(results(), (std::vector<std::pair<std::string, CommandOutcome>>{
                             {"Stop recording to the microSD card", CommandOutcome::accepted()},
                             {"Zoom 3.0x", CommandOutcome::noReply()},
                         }));
}

// A reply settles the command it answers (the camera echoes the DUML id),
// never a later or replacing command of the same key.
TEST_F(WirelessVideoSessionTest, RepliesToReplacedOrSettledCommandsSettleNothing) {
    camera_.setReplyRule(0x02, 0x42, SimReplyRule::silent());
    camera_.setReplyRule(0x02, 0x02, SimReplyRule::silent());
    auto answer = [this](const std::string& key, size_t which, uint8_t code) {
        const auto sent = received(key);
        ASSERT_GT(sent.size(), which);
        link_->handleDatagram(udpPacket(UdpPacketType::reliable, link_->sessionId(), 900,
                                        DumlFrame::makeReply(sent[which].second, {code}).encoded().value()));
    };
    // HDR replaces Normal; the late reply to Normal leaves HDR waiting.
    at(kLoopStart + 1s, [this] {
        commands_.append(CameraCommand::setting(CameraSetting::colorProfile(ColorProfile::normal)));
        commands_.append(CameraCommand::setting(CameraSetting::colorProfile(ColorProfile::hdr)));
    });
    at(kLoopStart + 1200ms, [&] { answer("02/42", 0, 0x07); });
    // The start is answered; the same reply again must not settle the stop.
    at(kLoopStart + 1300ms, [this] { commands_.append(CameraCommand::cardRecording(true)); });
    at(kLoopStart + 1400ms, [&] { answer("02/02", 0, 0x00); });
    at(kLoopStart + 1500ms, [this] { commands_.append(CameraCommand::cardRecording(false)); });
    at(kLoopStart + 1600ms, [&] { answer("02/02", 0, 0x00); });
    stopAt(kLoopStart + 4500ms);
    run();
    EXPECT_EQ(results(), (std::vector<std::pair<std::string, CommandOutcome>>{
                             {"Start recording to the microSD card", CommandOutcome::accepted()},
                             {"Color HDR (10-bit)", CommandOutcome::noReply()},
                             {"Stop recording to the microSD card", CommandOutcome::noReply()},
                         }));
}

TEST_F(WirelessVideoSessionTest, CommandsLeftAtTheEndAreDroppedWithoutAResult) {
    camera_.setReplyRule(0x02, 0x02, SimReplyRule::silent());
    at(kLoopStart + 1s, [this] { commands_.append(CameraCommand::cardRecording(true)); });
    stopAt(kLoopStart + 1500ms);
    run();
    EXPECT_TRUE(results().empty());
    EXPECT_FALSE(log_.contains("got no reply"));
}

TEST_F(WirelessVideoSessionTest, PushesBecomeEvents) {
    at(kLoopStart + 1s, [this] { commands_.append(CameraCommand::cardRecording(true)); });
    stopAt(kLoopStart + 7s);
    run();

    // Battery: every push is an event (one every 2 s, the same values).
    const auto batteries = eventsOf<BatteryStatus>();
    EXPECT_GE(batteries.size(), 3u);
    for (const auto& battery : batteries) {
        EXPECT_EQ(battery, (BatteryStatus{76, false}));
    }
    // Storage: the same every second, reported once.
    EXPECT_EQ(eventsOf<CardStorage>(), (std::vector<CardStorage>{{12000, 60000}}));
    // Recording: idle, then starting, then recording with its elapsed time.
    const auto states = eventsOf<CardRecordingState>();
    ASSERT_GE(states.size(), 3u);
    EXPECT_FALSE(states[0].isRecording || states[0].isTransitioning);
    EXPECT_TRUE(states[1].isTransitioning);
    EXPECT_TRUE(states[2].isRecording && !states[2].isTransitioning);
    EXPECT_EQ(states[2].elapsedSeconds, 0);
    // One event per change: every later state has a new elapsed time.
    for (size_t i = 3; i < states.size(); ++i) {
        EXPECT_NE(states[i], states[i - 1]);
    }
    ASSERT_FALSE(stats_.empty());
    EXPECT_TRUE(stats_.back().second.attitude.has_value());
}

TEST_F(WirelessVideoSessionTest, SilenceAsksForANewLink) {
    at(kLoopStart + 2s, [this] { camera_.setFaults({.silent = true}); });
    EXPECT_TRUE(run());
    EXPECT_TRUE(log_.contains("Camera went silent for 4 s, restarting the video link"));
    EXPECT_EQ(statuses_.back(), "Camera stopped sending video, reconnecting");
    EXPECT_GT(ended_, kLoopStart + 5900ms);
    EXPECT_LT(ended_, kLoopStart + 6100ms + 20ms);
    // The gimbal still gets its stop frames.
    EXPECT_EQ(camera_.speedFrames().size(), 3u);
}

TEST_F(WirelessVideoSessionTest, NoKeyframeAsksForANewLinkAfterThreeRetries) {
    camera_.setFaults({.withholdIrap = true});
    EXPECT_TRUE(run());
    EXPECT_FALSE(stream_.hasPicture());
    EXPECT_GT(stream_.completedMessages(), 0);
    EXPECT_TRUE(log_.contains("Live-view START resent (1), messages="));
    EXPECT_TRUE(log_.contains(" nal=[1]"));
    EXPECT_TRUE(log_.contains("Live-view START resent (3)"));
    EXPECT_TRUE(log_.contains("No keyframe after 3 live-view retries"));
    // Bursts at 3, 6, 9 s, the verdict at 12 s.
    EXPECT_EQ(received("09/A8").size(), 2u * 4u);
    EXPECT_GE(ended_, kLoopStart + 12s);
    EXPECT_LT(ended_, kLoopStart + 12s + 100ms);
}

// A real HEVC live view whose resolution changes mid-stream: every message
// the session let through decodes, first at the old size, then at the new.
TEST_F(WirelessVideoSessionTest, ResolutionChangeMidStream) {
    auto toBytes = [](const std::vector<HevcAccessUnit>& units) {
        std::vector<Bytes> bytes;
        for (const auto& unit : units) {
            bytes.push_back(unit.bytes);
        }
        return bytes;
    };
    auto small = encodeHevcTestStream({.width = 320, .height = 180, .gopLength = 10}, 40);
    auto large = encodeHevcTestStream({.width = 480, .height = 272, .gopLength = 10, .firstIndex = 40}, 40);
    ASSERT_TRUE(small.has_value() && large.has_value());
    camera_.setAccessUnits(toBytes(*small));
    at(kLoopStart + 1s, [&] { camera_.setAccessUnits(toBytes(*large)); });
    stopAt(kLoopStart + 2s);
    run();

    auto decoder = ReferenceHevcDecoder::create();
    ASSERT_TRUE(decoder.has_value());
    std::vector<std::pair<int, uint32_t>> seen;  // width, frame number
    for (const Bytes& message : stream_.messages()) {
        if ((*decoder)->decode(message) > 0) {
            const VideoFrame frame = (*decoder)->lastFrame();
            auto index = readPatternIndex(frame);
            ASSERT_TRUE(index.has_value());
            EXPECT_TRUE(patternIntact(frame, *index));
            seen.emplace_back(frame.width(), *index);
        }
    }
    EXPECT_EQ((*decoder)->errors(), 0);
    ASSERT_GT(seen.size(), 40u);
    EXPECT_EQ(seen.front().first, 320);
    EXPECT_EQ(seen.back().first, 480);
    // The new stream starts with its keyframe and counts on from 40.
    auto firstLarge = std::find_if(seen.begin(), seen.end(), [](const auto& s) { return s.first == 480; });
    EXPECT_EQ(firstLarge->second, 40u);
    for (auto it = std::next(firstLarge); it != seen.end(); ++it) {
        EXPECT_EQ(it->second, std::prev(it)->second + 1);
    }
}

}  // namespace
}  // namespace hollowkit
