// The wireless camera end to end against the simulated camera: Bluetooth
// on virtual time, the camera's network side on real loopback sockets, a
// fake nmcli. The access-point route and the home-network route to decoded
// pictures, commands with their results, the failures a user sees, the
// camera turning off, and a stop in every phase of the road.

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include "hollowkit/camera/camera_command.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/camera/camera_setting.h"
#include "hollowkit/wireless/tcp_connector.h"
#include "tests/wireless/wireless_camera_harness.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::CameraRig;
using testsupport::RigOptions;
using Kind = CameraEvent::Kind;

RigOptions homeRoute() {
    RigOptions options;
    options.home = HomeNetwork{testsupport::kHomeSsid, testsupport::kHomePassword};
    options.cameraAddress = std::string("127.0.0.57");
    return options;
}

std::vector<std::pair<std::string, CommandOutcome>> commandResults(const CameraRig& rig) {
    std::vector<std::pair<std::string, CommandOutcome>> out;
    for (const auto& event : rig.events) {
        if (auto result = event.get<CameraEvent::CommandResult>()) out.emplace_back(result->label, result->outcome);
    }
    return out;
}

// Consecutive numbered pictures: every one readable, in order.
void expectPicturesInOrder(const std::vector<int>& indices) {
    ASSERT_FALSE(indices.empty());
    int jumps = 0;
    for (size_t i = 0; i < indices.size(); ++i) {
        ASSERT_GE(indices[i], 0) << "picture " << i << " is damaged";
        if (i > 0 && indices[i] != (indices[i - 1] + 1) % 30) ++jumps;
    }
    EXPECT_LE(jumps, 1);  // at most one resynchronisation on a key picture
}

TEST(WirelessCameraRouteTest, AccessPointRouteFromPairingToStop) {
    ASSERT_FALSE(testsupport::cameraAccessUnits().empty());
    CameraRig rig;
    rig.udp.setReplyRule(0x02, 0x42, SimReplyRule::reject(0x05));
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 10; })) << rig.log.lines().size();

    EXPECT_TRUE(rig.log.contains("Camera Wi-Fi role: accessPoint"));
    EXPECT_TRUE(rig.hasStatus("Joining camera Wi-Fi OsmoPocket3-4A1F"));
    EXPECT_TRUE(rig.hasStatus("Opening video link"));
    EXPECT_TRUE(rig.log.contains("Wi-Fi joined, lo = 127.0.0.10"));
    ASSERT_TRUE(rig.network->waitForTcpPayloads(1));
    EXPECT_EQ(rig.network->tcpPayloads().front(), *WirelessCamera::pairingFrameBytes(testsupport::kPairingIdentifier));
    expectPicturesInOrder(rig.frameIndices());

    // Commands go out on the video thread and come back as results.
    const CameraSetting color = CameraSetting::colorProfile(ColorProfile::dLog);
    rig.camera->setZoom(1000);  // beyond the Pocket 3's 4x
    rig.camera->flipGimbal();
    rig.camera->setCardRecording(true);
    rig.camera->applySetting(color);
    ASSERT_TRUE(rig.runReal([&] { return commandResults(rig).size() >= 3; }));
    auto results = commandResults(rig);
    EXPECT_EQ(results, (std::vector<std::pair<std::string, CommandOutcome>>{
                           {"Flip gimbal", CommandOutcome::accepted()},
                           {"Start recording to the microSD card", CommandOutcome::accepted()},
                           {CameraCommand::setting(color).label, CommandOutcome::rejected(0x05)},
                       }));
    auto zooms = rig.udp.framesWithKey("02/B8");
    ASSERT_EQ(zooms.size(), 1u);
    EXPECT_EQ(zooms[0].payload, CameraCommand::zoom(400).payload);
    EXPECT_TRUE(rig.runReal([&] { return rig.count(Kind::stats) > 0; }));

    // The stop ends the session, leaves the camera's network and completes
    // through the link's disconnection, well inside its bound.
    const TimePoint stopAt = SteadyClock::now();
    rig.stop();
    ASSERT_TRUE(rig.runReal([&] { return rig.completions > 0; }, 6s));
    EXPECT_LT(SteadyClock::now() - stopAt, 6s);
    EXPECT_EQ(rig.completions, 1);
    EXPECT_EQ(rig.count(Kind::stopped), 1);
    EXPECT_TRUE(rig.completedAfterStopped);
    EXPECT_EQ(rig.indexOf(Kind::stopped), static_cast<int>(rig.events.size()) - 1);
    EXPECT_FALSE(rig.camera->videoThreadRunning());
    EXPECT_FALSE(rig.ble.isConnected());
    EXPECT_EQ(rig.count(Kind::failed), 0);
    EXPECT_EQ(rig.nmcli->activeSsid(), std::nullopt);  // forgotten
    EXPECT_EQ(rig.nmcli->count("radio wifi off"), 0);  // it was on before
    EXPECT_EQ(rig.udp.speedFrames().size() >= 3, true);  // the session's stop frames

    // The camera's password never shows in a tool's arguments or the log.
    const std::string password = rig.ble.config().password;
    EXPECT_EQ(rig.nmcli->record().find(password), std::string::npos);
    for (const auto& line : rig.log.lines()) {
        EXPECT_EQ(line.find(password), std::string::npos) << line;
    }
}

TEST(WirelessCameraRouteTest, HomeRouteMovesTheCameraAndFindsItOnTheLocalNetwork) {
    CameraRig rig(homeRoute());
    // Another camera on the same network, answering with its own name.
    SimPocketUdpOptions otherOptions;
    otherOptions.ssid = "OSMO-POCKET3-OTHER";
    SimPocketUdp other(otherOptions);
    SimPocketNetwork otherNetwork(other, {.host = "127.0.0.33",
                                          .udpPort = rig.network->udpPort(),
                                          .tcpPort = rig.network->tcpPort()});
    ASSERT_TRUE(otherNetwork.start().has_value());

    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 5; }));
    EXPECT_EQ(rig.ble.joinRequests(), (std::vector<std::pair<std::string, std::string>>{
                                          {testsupport::kHomeSsid, testsupport::kHomePassword}}));
    EXPECT_TRUE(rig.hasStatus("Finding the camera on Home"));
    EXPECT_TRUE(rig.log.contains("Home Wi-Fi sweep: 2 device(s) answering on port 7001"));
    EXPECT_TRUE(rig.log.contains("127.0.0.33 is not this camera"));
    EXPECT_TRUE(rig.log.contains("Home Wi-Fi: camera found at 127.0.0.57"));
    expectPicturesInOrder(rig.frameIndices());
    // This machine's Wi-Fi is never touched on this route.
    EXPECT_TRUE(rig.nmcli->calls().empty());

    rig.stop();
    ASSERT_TRUE(rig.runReal([&] { return rig.completions > 0; }, 6s));
    EXPECT_EQ(rig.count(Kind::stopped), 1);
    EXPECT_TRUE(rig.nmcli->calls().empty());
    otherNetwork.stop();
}

// Each worker runs at the priority its label asks for: the sweep lower
// (utility), the video thread as the rest of the process. Seen from inside,
// where the workers make their TCP connectors.
TEST(WirelessCameraRouteTest, WorkersRunAtTheirLabelsPriority) {
    struct Seen {
        std::string thread;
        int nice = 0;
    };
    auto lock = std::make_shared<std::mutex>();
    auto seen = std::make_shared<std::vector<Seen>>();
    RigOptions options = homeRoute();
    options.adjust = [lock, seen](NetworkEnvironment& env) {
        env.tcpConnectors = [lock, seen](const std::string& interface) {
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            errno = 0;
            const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
            std::lock_guard guard(*lock);
            seen->push_back({name, nice});
            return std::make_unique<PosixTcpConnector>(interface);
        };
    };
    const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    CameraRig rig(options);
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 1; }));

    struct Case {
        const char* thread;
        int nice;
    };
    const Case cases[] = {{"HK.Probe", std::min(base + niceIncrement(QualityOfService::utility), 19)},
                          {"HK.Video", base}};
    std::lock_guard guard(*lock);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.thread);
        int found = 0;
        for (const Seen& entry : *seen) {
            if (entry.thread != c.thread) continue;
            ++found;
            EXPECT_EQ(entry.nice, c.nice);
        }
        EXPECT_GT(found, 0);
    }
}

// A camera destroyed while the live view runs ends the session, leaves the
// camera's network and joins its thread before the destructor returns.
TEST(WirelessCameraRouteTest, DestroyedDuringTheLiveViewCleansUpAndLeavesNoThread) {
    CameraRig rig;
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 3; }));
    // The decoder's own threads take the video thread's name too.
    ASSERT_GE(testsupport::threadsNamed("HK.Video"), 1);
    ASSERT_TRUE(rig.nmcli->activeSsid().has_value());
    const size_t events = rig.events.size();
    rig.camera.reset();
    EXPECT_EQ(testsupport::threadsNamed("HK.Video"), 0);
    EXPECT_EQ(rig.nmcli->activeSsid(), std::nullopt);
    rig.main.runUntilIdle();
    EXPECT_EQ(rig.events.size(), events);
}

// The camera joins in silence; the one sweep made meanwhile finds it, so
// the video thread starts without the long search.
TEST(WirelessCameraRouteTest, ProbeDuringASilentJoinFindsTheCamera) {
    RigOptions options = homeRoute();
    CameraRig rig(options);
    rig.ble.joinReplies.push_back(std::nullopt);
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 3; }));
    EXPECT_TRUE(rig.log.contains("Home Wi-Fi join: no reply, probing the network"));
    EXPECT_EQ(rig.log.count("Home Wi-Fi sweep: "), 1);
    EXPECT_EQ(rig.ble.joinRequests().size(), 1u);
}

// A camera already in station mode that answers on the home network is
// used where it is.
TEST(WirelessCameraRouteTest, CameraAlreadyOnTheHomeNetworkIsNotMoved) {
    RigOptions options = homeRoute();
    options.ble.startsAsStation = true;
    CameraRig rig(options);
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 3; }));
    EXPECT_TRUE(rig.log.contains("Camera Wi-Fi role: station"));
    EXPECT_EQ(rig.ble.count("07/48"), 0);
    EXPECT_EQ(rig.ble.count("02/E1"), 0);
    EXPECT_TRUE(rig.ble.joinRequests().empty());
}

TEST(WirelessCameraRouteTest, CameraNotFoundOnTheHomeNetwork) {
    RigOptions options = homeRoute();
    options.cameraAddress.reset();  // it never appears
    CameraRig rig(options);
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return !rig.failures().empty(); }, 180s));
    EXPECT_EQ(rig.failures(), std::vector<std::string>{HomeNetworkError::notFound("Home").errorDescription()});
    // Sweeps every 2 s of the 60 s search, after the move.
    EXPECT_GE(rig.log.count("Home Wi-Fi sweep: 0 device(s)"), 25);
    EXPECT_FALSE(rig.camera->videoThreadRunning());
}

// The camera going off during the search ends it without a failure of its
// own: the owner hears cameraOff only.
TEST(WirelessCameraRouteTest, CameraGoingOffDuringTheSearchEndsItQuietly) {
    RigOptions options = homeRoute();
    options.cameraAddress.reset();
    CameraRig rig(options);
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.log.count("Home Wi-Fi sweep: ") >= 3; }));
    rig.ble.dropConnection();
    ASSERT_TRUE(rig.runMixed([&] { return rig.count(Kind::cameraOff) > 0; }));
    const int sweeps = rig.log.count("Home Wi-Fi sweep: ");
    rig.runMixed([] { return false; }, 90s);
    EXPECT_LE(rig.log.count("Home Wi-Fi sweep: "), sweeps + 1);  // at most the one under way
    EXPECT_TRUE(rig.failures().empty());
    EXPECT_EQ(rig.indexOf(Kind::cameraOff), static_cast<int>(rig.events.size()) - 1);
}

// Failures of the video thread: each reported once, then the thread ends,
// the Bluetooth link is dropped and the camera reports itself off. (nmcli
// failing is this computer's failure: wireless_camera_computer_test.cpp.)
TEST(WirelessCameraRouteTest, VideoThreadFailures) {
    struct Case {
        const char* name;
        std::function<void(RigOptions&)> setup;
        std::string failure;
        int bootstraps;
    };
    const std::vector<Case> cases{
        {"the join fails",
         [](RigOptions& o) {
             o.nmcli.failingActivations = 4;
             o.nmcli.associatedSsid = "HomeRouter";
         },
         "Could not join the camera Wi-Fi", 0},
        {"the link never opens", [](RigOptions& o) { o.udp.answerHandshakeOnAttempt = 0; },
         "Could not open the video link to the camera", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RigOptions options;
        c.setup(options);
        CameraRig rig(options);
        rig.start();
        ASSERT_TRUE(rig.runMixed([&] { return rig.count(Kind::cameraOff) > 0; }));
        EXPECT_EQ(rig.failures(), std::vector<std::string>{c.failure});
        EXPECT_LT(rig.indexOf(Kind::failed), rig.indexOf(Kind::cameraOff));
        EXPECT_FALSE(rig.camera->videoThreadRunning());
        EXPECT_TRUE(rig.camera->stopFlagSet());
        EXPECT_EQ(rig.nmcli->activeSsid(), std::nullopt);  // left the camera's network in every case
        rig.network->waitForTcpPayloads(static_cast<size_t>(c.bootstraps), 1s);
        EXPECT_EQ(rig.network->tcpPayloads().size(), static_cast<size_t>(c.bootstraps));
        if (c.bootstraps == 4) {
            auto statuses = rig.statuses();
            for (const char* text : {"Opening video link", "Restarting video link (attempt 2)",
                                     "Restarting video link (attempt 3)", "Restarting video link (attempt 4)"}) {
                EXPECT_EQ(std::count(statuses.begin(), statuses.end(), text), 1) << text;
            }
        }
    }
}

TEST(WirelessCameraRouteTest, CameraTurnedOffDuringTheLiveView) {
    CameraRig rig;
    rig.start();
    ASSERT_TRUE(rig.runMixed([&] { return rig.frames() >= 3; }));
    rig.ble.dropConnection();
    ASSERT_TRUE(rig.runMixed([&] { return rig.count(Kind::cameraOff) > 0 && !rig.camera->videoThreadRunning(); }));
    EXPECT_EQ(rig.count(Kind::cameraOff), 1);
    EXPECT_EQ(rig.count(Kind::failed), 0);
    EXPECT_FALSE(rig.hasStatus("Restarting video link (attempt 2)"));
    EXPECT_EQ(rig.nmcli->activeSsid(), std::nullopt);

    // Stopping a camera that went off completes at once.
    rig.stop();
    rig.main.runUntilIdle();
    EXPECT_EQ(rig.completions, 1);
    EXPECT_EQ(rig.count(Kind::stopped), 1);
}

// A stop in any phase of the road completes exactly once, after exactly
// one `stopped`, and nothing follows it.
TEST(WirelessCameraRouteTest, StopInEveryPhaseCompletesOnce) {
    struct Phase {
        const char* name;
        std::function<void(RigOptions&)> setup;
        std::function<bool(CameraRig&)> reached;
    };
    const auto status = [](const char* text) {
        return [text](CameraRig& rig) { return rig.hasStatus(text); };
    };
    const std::vector<Phase> phases{
        {"before start", [](RigOptions&) {}, nullptr},
        {"scanning", [](RigOptions&) {}, status("Looking for the camera over Bluetooth")},
        {"pairing", [](RigOptions& o) { o.ble.pairedIdentifiers.clear(); },
         status("Approve the pairing on the camera screen")},
        {"role query", [](RigOptions&) {}, [](CameraRig& rig) { return rig.ble.count("07/39") > 0; }},
        {"moving the camera",
         [](RigOptions& o) { o = homeRoute(); },
         status("Waiting for the camera's Wi-Fi")},
        {"searching the home network",
         [](RigOptions& o) {
             o = homeRoute();
             o.ble.startsAsStation = true;
             o.cameraAddress.reset();
         },
         [](CameraRig& rig) { return rig.log.contains("Home Wi-Fi sweep: "); }},
        {"joining the camera's Wi-Fi",
         [](RigOptions& o) {
             o.nmcli.hangOn = "connection up";
             o.adjust = [](NetworkEnvironment& env) { env.timings.wifi.activationTimeout = 1s; };
         },
         status("Joining camera Wi-Fi OsmoPocket3-4A1F")},
        {"opening the link", [](RigOptions& o) { o.udp.answerHandshakeOnAttempt = 0; },
         status("Opening video link")},
        {"live view", [](RigOptions&) {}, [](CameraRig& rig) { return rig.frames() >= 2; }},
        {"camera off",
         [](RigOptions&) {},
         [](CameraRig& rig) {
             if (rig.camera->bluetooth().paired() && rig.ble.isConnected()) rig.ble.dropConnection();
             return rig.count(Kind::cameraOff) > 0;
         }},
    };
    for (const Phase& phase : phases) {
        SCOPED_TRACE(phase.name);
        RigOptions options;
        phase.setup(options);
        CameraRig rig(options);
        if (phase.reached) {
            rig.start();
            ASSERT_TRUE(rig.runMixed([&] { return phase.reached(rig); }));
        }
        const size_t before = rig.events.size();
        rig.stop();
        ASSERT_TRUE(rig.runReal([&] { return rig.completions > 0; }, 6s));
        EXPECT_TRUE(rig.completedAfterStopped);
        // Long after: still one of each, and nothing after `stopped`.
        rig.runMixed([] { return false; }, 30s, 3s);
        EXPECT_EQ(rig.completions, 1);
        EXPECT_EQ(rig.count(Kind::stopped), 1);
        EXPECT_EQ(rig.indexOf(Kind::stopped), static_cast<int>(rig.events.size()) - 1);
        for (size_t i = before; i < rig.events.size(); ++i) {
            EXPECT_NE(rig.events[i].kind(), Kind::failed) << rig.events[i].get<CameraEvent::Failed>()->message;
        }
        EXPECT_FALSE(rig.camera->videoThreadRunning());
    }
}

}  // namespace
}  // namespace hollowkit
