// The live-view road on real sockets: our link and session against the
// simulated camera on 127.0.0.x, on real time with shortened timings. The
// session runs on its own thread as on the video thread; the test waits for
// what it expects with bounded condition waits. Labelled slow (about a
// second each).

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/reference_hevc_decoder.h"
#include "hollowkit/testing/sim_pocket_network.h"
#include "hollowkit/wireless/bound_udp_socket.h"
#include "hollowkit/wireless/ffmpeg_hevc_decoder.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "hollowkit/wireless/wireless_video_session.h"
#include "tests/wireless/live_view_timings.h"
#include "tests/wireless/wireless_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::AssemblingStream;
using testsupport::LogCapture;


SimPocketUdpOptions cameraOptions() {
    SimPocketUdpOptions options;
    options.videoDatagramSize = 1000;
    options.frameInterval = 20ms;
    return options;
}

class LiveViewNetworkTest : public ::testing::Test {
protected:
    LiveViewNetworkTest() : camera_(cameraOptions()), network_(camera_, {.host = "127.0.0.21"}) {}

    void SetUp() override {
        fds_ = testsupport::openDescriptors();
        threads_ = testsupport::libraryThreadCount();
        ASSERT_TRUE(network_.start().has_value());
    }

    void startSession() {
        auto socket = std::make_unique<BoundUDPSocket>();
        link_ = std::make_unique<DumlUDPLink>(std::move(socket), UdpEndpoint{"127.0.0.21", network_.udpPort(), "lo"},
                                              testsupport::kLiveViewLinkTimings);
        ASSERT_TRUE(link_->open());
        WirelessVideoSession::Handlers handlers;
        handlers.emitStats = [this](const CameraStats& stats) {
            reports_.note([&] { stats_.push_back(stats); });
        };
        handlers.emitTelemetry = [this](const CameraEvent& event) {
            reports_.note([&] { events_.push_back(event); });
        };
        session_ = std::make_unique<WirelessVideoSession>(*link_, *liveView_, gimbal_, commands_, stop_, handlers,
                                                          testsupport::shortLiveViewSession());
        runner_ = std::thread([this] { restart_ = session_->run(); });
    }

    void stopSession() {
        stop_.set();
        if (runner_.joinable()) {
            runner_.join();
        }
    }

    // Waits (bounded) until `done` holds; re-checked at every report of the
    // session and at least every 50 ms.
    bool waitUntil(const std::function<bool()>& done, Duration limit = 5s) {
        return reports_.waitUntil(done, limit);
    }

    std::vector<std::pair<std::string, CommandOutcome>> results() {
        std::vector<std::pair<std::string, CommandOutcome>> found;
        for (const auto& event : events_) {
            if (auto result = event.get<CameraEvent::CommandResult>()) {
                found.emplace_back(result->label, result->outcome);
            }
        }
        return found;
    }

    LogCapture log_;
    int fds_ = 0;
    int threads_ = 0;
    SimPocketUdp camera_;
    SimPocketNetwork network_;
    std::unique_ptr<DumlUDPLink> link_;
    AssemblingStream stream_;
    LiveViewStream* liveView_ = &stream_;
    GimbalCommands gimbal_;
    CommandQueue commands_;
    StopFlag stop_;
    std::unique_ptr<WirelessVideoSession> session_;
    std::thread runner_;
    bool restart_ = true;
    testsupport::ReportedState reports_;
    std::vector<CameraStats> stats_;   // guarded by reports_
    std::vector<CameraEvent> events_;  // guarded by reports_
};

TEST_F(LiveViewNetworkTest, DecodedFramesArriveInOrderAndCloseIsClean) {
    auto units = encodeHevcTestStream({.width = 320, .height = 180, .gopLength = 15}, 45);
    ASSERT_TRUE(units.has_value()) << units.error();
    std::vector<Bytes> accessUnits;
    for (const auto& unit : *units) {
        accessUnits.push_back(unit.bytes);
    }
    camera_.setAccessUnits(accessUnits);

    startSession();
    ASSERT_TRUE(waitUntil([&] {
        return stats_.size() >= 3 && stats_.back().hasPicture && stats_.back().framesPerSecond > 10;
    }));
    stopSession();
    EXPECT_FALSE(restart_);
    EXPECT_EQ(camera_.sequenceViolations(), 0);
    EXPECT_EQ(camera_.malformedHeaders(), 0);
    EXPECT_GT(camera_.acksReceived(), 0);

    // Every message decodes to the picture of its frame number, in order.
    auto decoder = ReferenceHevcDecoder::create();
    ASSERT_TRUE(decoder.has_value());
    std::optional<uint32_t> previous;
    int decoded = 0;
    for (const Bytes& message : stream_.messages()) {
        if ((*decoder)->decode(message) == 0) {
            continue;
        }
        const VideoFrame frame = (*decoder)->lastFrame();
        auto index = readPatternIndex(frame);
        ASSERT_TRUE(index.has_value());
        EXPECT_TRUE(patternIntact(frame, *index));
        if (previous) {
            EXPECT_EQ(*index, (*previous + 1) % 45);
        }
        previous = index;
        ++decoded;
    }
    EXPECT_GT(decoded, 20);
    EXPECT_EQ((*decoder)->errors(), 0);

    // Nothing is left behind: descriptors and threads as before.
    link_.reset();
    session_.reset();
    network_.stop();
    EXPECT_EQ(testsupport::openDescriptors(), fds_);
    EXPECT_EQ(testsupport::libraryThreadCount(), threads_);
}

TEST_F(LiveViewNetworkTest, GimbalAndCommandsReachTheCamera) {
    startSession();
    ASSERT_TRUE(waitUntil([&] { return !stats_.empty(); }));

    gimbal_.setVelocity({0, 200});
    ASSERT_TRUE(waitUntil([&] { return camera_.speedFrames().size() >= 3; }));
    gimbal_.setVelocity(GimbalVelocity::zero);
    ASSERT_TRUE(waitUntil([&] {
        const auto speeds = camera_.speedFrames();
        return !speeds.empty() && speeds.back().isZero();
    }));

    camera_.setReplyRule(0x02, 0x42, SimReplyRule::reject(0x05));
    commands_.append(CameraCommand::setting(CameraSetting::colorProfile(ColorProfile::dLog)));
    commands_.append(CameraCommand::flipGimbal());
    ASSERT_TRUE(waitUntil([&] { return results().size() >= 2; }));
    // The camera turned with the speed it was given, and the attitude came back.
    ASSERT_TRUE(waitUntil([&] { return stats_.back().attitude && stats_.back().attitude->yaw != 0; }));
    stopSession();
    // The final stop frames left before the session ended; the camera's
    // thread takes them in its own time.
    ASSERT_TRUE(waitUntil([&] {
        const auto frames = camera_.speedFrames();
        return std::count_if(frames.begin(), frames.end(), [](const auto& speed) { return speed.isZero(); }) >= 6;
    }));

    const auto speeds = camera_.speedFrames();
    size_t moving = 0;
    while (moving < speeds.size() && !speeds[moving].isZero()) {
        ++moving;
    }
    // Three stop frames on release, three at the end, none while idle.
    EXPECT_EQ(speeds.size(), moving + 6);
    std::map<std::string, CommandOutcome> byLabel;
    for (const auto& [label, outcome] : results()) {
        byLabel.emplace(label, outcome);
    }
    EXPECT_EQ(byLabel.at("Color D-Log (10-bit)"), CommandOutcome::rejected(0x05));
    EXPECT_EQ(byLabel.at("Flip gimbal"), CommandOutcome::accepted());
}

}  // namespace
}  // namespace hollowkit
