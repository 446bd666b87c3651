// The wireless road's start-up and its local-network sweep.
//
// StartToFirstFrame: real time from WirelessCamera::start() to the first
// decoded picture against the simulated camera: Bluetooth scanning, pairing
// and the Wi-Fi credentials on virtual time (they cost no real time beyond
// the work itself; the virtual seconds are reported as a counter), then the
// fake nmcli join, the TCP bootstrap, the UDP handshake and
// synchronisation, the live-view start and the first random-access picture
// on real loopback sockets. Once with the camera's own timings (the pauses
// the protocol asks for dominate), once with the shortened timings the tests
// use.
//
// SweepSlash24: one sweep of a /24 of loopback addresses on TCP (one
// listener, at 127.0.0.57; every other address refuses at once), the four
// batches of 64 connects each waited for in one poll.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <benchmark/benchmark.h>

#include <atomic>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/fake_ble_central.h"
#include "hollowkit/testing/fake_interface_addresses.h"
#include "hollowkit/testing/fake_nmcli.h"
#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "hollowkit/testing/sim_pocket_network.h"
#include "hollowkit/testing/sim_pocket_udp.h"
#include "hollowkit/wireless/subnet_sweep.h"
#include "hollowkit/wireless/wireless_camera.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

constexpr const char* kIdentifier = "0123456789abcdef0123456789abcdef";

class QuietSink final : public LogSink {
public:
    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view) override {}
};

const std::vector<Bytes>& accessUnits() {
    static const std::vector<Bytes> units = [] {
        std::vector<Bytes> out;
        auto encoded = encodeHevcTestStream({.width = 1280, .height = 720, .gopLength = 30}, 60);
        if (encoded.has_value()) {
            for (const auto& unit : encoded.value()) out.push_back(unit.bytes);
        }
        return out;
    }();
    return units;
}

void shorten(WirelessTimings& t) {
    t.link.handshakeAttempts = 5;
    t.link.handshakeWindow = 60ms;
    t.link.syncRounds = 2;
    t.link.syncPump = 40ms;
    t.session.startPump = 40ms;
    t.session.heartbeatInitPump = 40ms;
    t.bootstrap.linger = 10ms;
}

// One start of a camera against a fresh simulated camera; returns the real
// seconds to the first picture (negative on failure) and the virtual
// seconds the Bluetooth side took.
std::pair<double, double> startOnce(bool shortened) {
    ManualExecutor main;
    FakeBleRadio radio(main);
    SimPocketBle::Config bleConfig;
    bleConfig.pairedIdentifiers = {kIdentifier};
    SimPocketBle ble(main, bleConfig);
    radio.add(ble);
    SimPocketUdpOptions udpOptions;
    udpOptions.ssid = bleConfig.ssid;
    SimPocketUdp udp(udpOptions);
    udp.setAccessUnits(accessUnits());
    SimPocketNetwork network(udp, {.host = "127.0.0.21"});
    FakeNmcliOptions nmcliOptions;
    nmcliOptions.expectedPassword = bleConfig.password;
    auto nmcli = FakeNmcli::create(nmcliOptions);
    if (!network.start().has_value() || !nmcli.has_value()) {
        radio.remove(ble);
        return {-1, 0};
    }

    NetworkEnvironment env;
    env.cameraHost = "127.0.0.21";
    env.cameraAddressPrefix = "127.0.0.";
    env.udpPort = network.udpPort();
    env.tcpPort = network.tcpPort();
    env.wifiDevice = "lo";
    env.nmcliPath = nmcli.value()->path();
    env.interfaceAddresses = std::make_shared<FakeInterfaceAddresses>(
        std::vector{FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")});
    env.bleCentrals = radio.factory();
    if (shortened) shorten(env.timings);

    std::atomic<bool> pictured{false};
    double seconds = -1;
    double virtualSeconds = 0;
    {
        WirelessCamera camera(main, kIdentifier, std::nullopt, env);
        camera.setOnVideoSample([&pictured](const VideoFrame&) { pictured.store(true); });
        const TimePoint startedAt = SteadyClock::now();
        camera.start();
        // Virtual time moves only while no thread of the camera works.
        const TimePoint giveUp = startedAt + 30s;
        while (!pictured.load() && SteadyClock::now() < giveUp) {
            main.runUntilIdle();
            if (camera.videoThreadRunning()) {
                main.waitFor([&] { return pictured.load(); }, 20ms);
            } else {
                main.advance(10ms);
                virtualSeconds += 0.01;
            }
        }
        if (pictured.load()) seconds = Seconds(SteadyClock::now() - startedAt).count();
        camera.stop({});
        main.waitFor([&] { return !camera.videoThreadRunning(); }, 10s);
    }
    main.runUntilIdle();
    network.stop();
    radio.remove(ble);
    return {seconds, virtualSeconds};
}

void BM_StartToFirstFrame(benchmark::State& state) {
    QuietSink quiet;
    PocketLog::setSinkForTesting(&quiet);
    if (accessUnits().empty()) {
        state.SkipWithError("no HEVC test stream (libx265 missing)");
        PocketLog::setSinkForTesting(nullptr);
        return;
    }
    double virtualSeconds = 0;
    for (auto _ : state) {
        auto [seconds, bluetooth] = startOnce(state.range(0) != 0);
        if (seconds < 0) {
            state.SkipWithError("no picture within 30 s");
            break;
        }
        state.SetIterationTime(seconds);
        virtualSeconds = bluetooth;
    }
    state.counters["bluetooth_virtual_s"] = virtualSeconds;
    PocketLog::setSinkForTesting(nullptr);
}
BENCHMARK(BM_StartToFirstFrame)
    ->ArgName("shortened")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_SweepSlash24(benchmark::State& state) {
    QuietSink quiet;
    PocketLog::setSinkForTesting(&quiet);
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.57", &address.sin_addr);
    socklen_t length = sizeof address;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 512) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        state.SkipWithError("no listener on 127.0.0.57");
        PocketLog::setSinkForTesting(nullptr);
        return;
    }
    FakeInterfaceAddresses addresses({FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")});
    PosixTcpConnector connector("lo");
    SubnetSweepOptions options;
    options.port = ntohs(address.sin_port);
    size_t found = 0;
    for (auto _ : state) {
        auto hosts = sweepSubnet(connector, addresses, "lo", 8, options);
        found = hosts.size();
        benchmark::DoNotOptimize(hosts);
        // Take the probe's connection so the backlog never fills.
        while (UniqueFd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC))) {
        }
    }
    state.counters["hosts_found"] = static_cast<double>(found);
    state.counters["candidates"] = 253;
    PocketLog::setSinkForTesting(nullptr);
}
BENCHMARK(BM_SweepSlash24)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit

