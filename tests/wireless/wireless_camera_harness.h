#pragma once

// A bench for the wireless camera end to end: the main executor on virtual
// time with the fake Bluetooth radio and the simulated camera's GATT side in
// range, the simulated camera's network side on real loopback sockets
// (127.0.0.x), a fake nmcli, a faked interface list (lo at 127.0.0.10/24)
// and shortened network timings. The camera's events are recorded on the
// main executor, decoded frames (with the number each picture carries) on
// the video thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hollowkit/testing/fake_ble_central.h"
#include "hollowkit/testing/fake_interface_addresses.h"
#include "hollowkit/testing/fake_nmcli.h"
#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/loopback_wireless_timings.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "hollowkit/testing/sim_pocket_network.h"
#include "hollowkit/testing/sim_pocket_udp.h"
#include "hollowkit/wireless/wireless_camera.h"
#include "tests/wireless/wireless_test_support.h"

namespace hollowkit::testsupport {

using namespace std::chrono_literals;

inline constexpr const char* kPairingIdentifier = "0123456789abcdef0123456789abcdef";
inline constexpr const char* kHomeSsid = "Home";
inline constexpr const char* kHomePassword = "home-password-1";

// A short real HEVC stream (numbered pictures), encoded once per process.
inline const std::vector<Bytes>& cameraAccessUnits() {
    static const std::vector<Bytes> units = [] {
        std::vector<Bytes> out;
        auto encoded = encodeHevcTestStream({.width = 320, .height = 180, .gopLength = 10}, 30);
        if (encoded.has_value()) {
            for (const auto& unit : encoded.value()) out.push_back(unit.bytes);
        }
        return out;
    }();
    return units;
}

// Threads of this process whose OS name is `name` right now.
inline int threadsNamed(const std::string& name) {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (std::getline(comm, line) && line == name) ++count;
    }
    return count;
}

struct RigOptions {
    SimPocketBle::Config ble = [] {
        SimPocketBle::Config config;
        config.pairedIdentifiers = {kPairingIdentifier};
        return config;
    }();
    std::optional<HomeNetwork> home;
    // Where the simulated camera's sockets listen; none: no camera on the
    // network at all.
    std::optional<std::string> cameraAddress = std::string("127.0.0.21");
    SimPocketUdpOptions udp = [] {
        SimPocketUdpOptions options;
        options.videoDatagramSize = 1000;
        options.frameInterval = 20ms;
        return options;
    }();
    FakeNmcliOptions nmcli;
    // Last changes to the environment before the camera is made.
    std::function<void(NetworkEnvironment&)> adjust;
};

// A camera that has to find its Wi-Fi device with nmcli at start; with
// `hang`, the lookup does not answer until the tool's time-out.
inline void lookUpTheDevice(RigOptions& options, bool hang) {
    if (hang) options.nmcli.hangOn = "DEVICE,TYPE";
    options.adjust = [](NetworkEnvironment& env) {
        env.wifiDevice.reset();
        env.timings.wifi.toolTimeout = 300ms;
    };
}

class CameraRig {
public:
    explicit CameraRig(RigOptions options = {})
        : radio(main), ble(main, options.ble), udp(withSsid(options.udp, options.ble.ssid)) {
        radio.add(ble);
        if (!cameraAccessUnits().empty()) udp.setAccessUnits(cameraAccessUnits());
        if (options.cameraAddress) {
            network = std::make_unique<SimPocketNetwork>(udp, SimPocketNetworkOptions{.host = *options.cameraAddress});
            auto started = network->start();
            EXPECT_TRUE(started.has_value()) << (started.has_value() ? "" : started.error());
        }
        options.nmcli.expectedPassword = options.ble.password;
        auto made = FakeNmcli::create(options.nmcli);
        EXPECT_TRUE(made.has_value());
        if (made.has_value()) nmcli = std::move(made.value());

        env = testEnvironment();
        if (options.adjust) options.adjust(env);
        camera = std::make_unique<WirelessCamera>(main, kPairingIdentifier, options.home, env);
        camera->setOnEvent([this](const CameraEvent& event) { events.push_back(event); });
        camera->setOnVideoSample([this](const VideoFrame& frame) {
            auto index = readPatternIndex(frame);
            std::lock_guard lock(frameLock_);
            frameIndices_.push_back(index ? static_cast<int>(*index) : -1);
        });
    }

    ~CameraRig() {
        // A camera still running is stopped and its threads waited for, so
        // nothing outlives the simulated camera.
        if (camera && !camera->stopping()) camera->stop({});
        if (camera) runReal([this] { return !camera->videoThreadRunning(); }, 10s);
        camera.reset();
        main.runUntilIdle();
        if (network) network->stop();
        radio.remove(ble);
    }

    NetworkEnvironment testEnvironment() {
        NetworkEnvironment e;
        e.cameraHost = "127.0.0.21";
        e.cameraAddressPrefix = "127.0.0.";
        e.udpPort = network ? network->udpPort() : 9;
        e.tcpPort = network ? network->tcpPort() : 9;
        e.wifiDevice = "lo";
        e.nmcliPath = nmcli ? nmcli->path() : "/nonexistent/nmcli";
        e.interfaceAddresses = addresses;
        e.bleCentrals = radio.factory();
        e.timings = loopbackWirelessTimings();
        return e;
    }

    void start() { camera->start(); }
    void stop() {
        camera->stop([this] {
            ++completions;
            completedAfterStopped = count(CameraEvent::Kind::stopped) == 1;
        });
    }

    // Virtual time only, in 10 ms steps (the Bluetooth side).
    bool runVirtual(const std::function<bool()>& done, Duration limit = 60s) {
        for (Duration spent{};; spent += 10ms) {
            main.runUntilIdle();
            if (done()) return true;
            if (spent >= limit) return false;
            main.advance(10ms);
        }
    }
    // Real time only: work posted by the camera's threads, virtual time
    // standing still (so no virtual timer, such as the stop deadline, fires).
    bool runReal(const std::function<bool()>& done, Duration limit = 10s) { return main.waitFor(done, limit); }
    // Both: virtual time stands still while one of the camera's threads
    // works (they run on real time) and moves in 20 ms steps otherwise.
    bool runMixed(const std::function<bool()>& done, Duration virtualLimit = 120s, Duration realLimit = 20s) {
        const TimePoint realEnd = SteadyClock::now() + realLimit;
        Duration spent{};
        auto busy = [this] { return camera->workerRunning(); };
        while (spent <= virtualLimit && SteadyClock::now() < realEnd) {
            main.runUntilIdle();
            if (done()) return true;
            if (busy()) {
                main.waitFor([&] { return done() || !busy(); }, 5ms);
            } else {
                main.advance(20ms);
                spent += 20ms;
            }
        }
        main.runUntilIdle();
        return done();
    }

    // Starts and runs until the video thread runs (the route is chosen).
    bool startUntilVideoThread() {
        start();
        return runMixed([this] { return camera->videoThreadRunning(); });
    }

    int count(CameraEvent::Kind kind) const {
        return static_cast<int>(
            std::count_if(events.begin(), events.end(), [kind](const CameraEvent& e) { return e.kind() == kind; }));
    }
    std::vector<std::string> statuses() const {
        std::vector<std::string> out;
        for (const auto& e : events) {
            if (auto status = e.get<CameraEvent::Status>()) out.push_back(status->text);
        }
        return out;
    }
    bool hasStatus(const std::string& text) const {
        auto all = statuses();
        return std::find(all.begin(), all.end(), text) != all.end();
    }
    std::vector<std::string> failures() const {
        std::vector<std::string> out;
        for (const auto& e : events) {
            if (auto failed = e.get<CameraEvent::Failed>()) out.push_back(failed->message);
        }
        return out;
    }
    // Index of the first event of `kind`, or -1.
    int indexOf(CameraEvent::Kind kind) const {
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].kind() == kind) return static_cast<int>(i);
        }
        return -1;
    }
    std::vector<int> frameIndices() const {
        std::lock_guard lock(frameLock_);
        return frameIndices_;
    }
    size_t frames() const {
        std::lock_guard lock(frameLock_);
        return frameIndices_.size();
    }

    LogCapture log;
    ManualExecutor main;
    FakeBleRadio radio;
    SimPocketBle ble;
    std::shared_ptr<FakeInterfaceAddresses> addresses = std::make_shared<FakeInterfaceAddresses>(
        std::vector{FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")});
    std::unique_ptr<FakeNmcli> nmcli;
    SimPocketUdp udp;
    std::unique_ptr<SimPocketNetwork> network;
    NetworkEnvironment env;
    std::vector<CameraEvent> events;  // main executor only
    int completions = 0;
    bool completedAfterStopped = false;
    std::unique_ptr<WirelessCamera> camera;  // last: goes first

private:
    static SimPocketUdpOptions withSsid(SimPocketUdpOptions options, const std::string& ssid) {
        options.ssid = ssid;
        return options;
    }

    mutable std::mutex frameLock_;
    std::vector<int> frameIndices_;  // guarded by frameLock_
};

}  // namespace hollowkit::testsupport
