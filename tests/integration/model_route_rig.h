#pragma once

// The camera model with the application's own camera factory and real
// cameras, on a LoopExecutor (real threads, real time). The USB route runs
// over the fake V4L2 device and sysfs tree (a Pocket on the bus with small
// NV12 pictures, fed by a "sensor" thread), fake sound sources and device
// monitor; the wireless route runs against the simulated camera: its
// Bluetooth side on the in-process radio, its network side on loopback
// sockets, a fake nmcli and a faked interface list. Both routes share the
// radio, as the application's cameras share BlueZ. Everything the model
// shows is read on the main executor.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <linux/videodev2.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "hollowkit/base/loop_executor.h"
#include "hollowkit/testing/fake_audio_source.h"
#include "hollowkit/testing/fake_ble_central.h"
#include "hollowkit/testing/fake_device_monitor.h"
#include "hollowkit/testing/fake_interface_addresses.h"
#include "hollowkit/testing/fake_nmcli.h"
#include "hollowkit/testing/fake_usb_sysfs.h"
#include "hollowkit/testing/fake_v4l2_device.h"
#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/loopback_wireless_timings.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "hollowkit/testing/sim_pocket_network.h"
#include "hollowkit/testing/sim_pocket_udp.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/credentials.h"
#include "lumenhollow/model/linux/linux_camera_factory.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_app_shell.h"
#include "lumenhollow/testing/fake_desktop.h"
#include "lumenhollow/testing/fake_disk_space.h"
#include "lumenhollow/testing/fake_secret_store.h"
#include "lumenhollow/testing/fake_secure_random.h"
#include "lumenhollow/testing/memory_settings_store.h"
#include "lumenhollow/testing/state_recorder.h"

namespace lumenhollow::test {

using namespace std::chrono_literals;

inline constexpr const char* kPairingIdentifier = "0123456789abcdef0123456789abcdef";
inline constexpr int kUsbWidth = 640;
inline constexpr int kUsbHeight = 360;
inline constexpr int kWirelessWidth = 320;
inline constexpr int kWirelessHeight = 180;

// A short real HEVC stream of numbered pictures, encoded once per process.
inline const std::vector<hollowkit::Bytes>& wirelessAccessUnits() {
    static const std::vector<hollowkit::Bytes> units = [] {
        std::vector<hollowkit::Bytes> out;
        auto encoded = hollowkit::encodeHevcTestStream(
            {.width = kWirelessWidth, .height = kWirelessHeight, .gopLength = 10}, 30);
        if (encoded.has_value()) {
            for (const auto& unit : encoded.value()) out.push_back(unit.bytes);
        }
        return out;
    }();
    return units;
}

// What the model's sinks and state show, read on the main executor.
struct Seen {
    int displayed = 0;
    std::optional<std::pair<int, int>> lastSize;
    ConnectionMode connection = ConnectionMode::wireless;
    bool switching = false;
    std::string statusText;
};

class ModelRouteRig {
public:
    // Runs `task` on the main executor and waits for it.
    template <typename Task>
    auto onMain(Task task) {
        using R = std::invoke_result_t<Task>;
        if constexpr (std::is_void_v<R>) {
            EXPECT_TRUE(main.sync(std::move(task)));
        } else {
            std::optional<R> result;
            EXPECT_TRUE(main.sync([&] { result = task(); }));
            return std::move(*result);
        }
    }

    explicit ModelRouteRig(bool pocketOnUsb) : udp(udpOptions()) {
        if (pocketOnUsb) {
            hollowkit::FakeUsbSysfs::Device pocket;
            sysfs.addDevice(pocket);
            sysfs.addVideoNode(pocket.name, 0, 0, "Osmo Pocket 3");
        }
        using F = hollowkit::FakeV4l2Device::Fraction;
        device.setFormats({{V4L2_PIX_FMT_NV12, "Y/UV 4:2:0", {{kUsbWidth, kUsbHeight, {F{1, 30}}, {}}}}});
        audio.setSources({{"alsa_input.usb-DJI_OsmoPocket3-02.analog-stereo", "Osmo Pocket 3", uint16_t{0x2CA3}}});

        if (!wirelessAccessUnits().empty()) udp.setAccessUnits(wirelessAccessUnits());
        network = std::make_unique<hollowkit::SimPocketNetwork>(
            udp, hollowkit::SimPocketNetworkOptions{.host = "127.0.0.21"});
        auto started = network->start();
        EXPECT_TRUE(started.has_value()) << (started.has_value() ? "" : started.error());
        hollowkit::FakeNmcliOptions nmcliOptions;
        nmcliOptions.expectedPassword = hollowkit::SimPocketBle::Config{}.password;
        auto made = hollowkit::FakeNmcli::create(nmcliOptions);
        EXPECT_TRUE(made.has_value());
        if (made.has_value()) nmcli = std::move(made.value());

        settings.set(std::string(kPairingIdentifierKey), std::string(kPairingIdentifier));
        onMain([this] {
            radio = std::make_unique<hollowkit::FakeBleRadio>(main);
            hollowkit::SimPocketBle::Config config;
            config.pairedIdentifiers = {kPairingIdentifier};
            ble = std::make_unique<hollowkit::SimPocketBle>(main, config);
            radio->add(*ble);
            cameras = std::make_unique<LinuxCameraFactory>(main, seams());
            model = CameraModel::create(CameraModelServices{main, settings, secrets, random, disk, *cameras, shell,
                                                            desktop, displayLayer, notchLayer, outputFolder(), {}});
            recorder = std::make_unique<StateRecorder>(model);
        });
        sensor = std::jthread([this](std::stop_token stop) {
            // A camera's pace; a frame with no buffer queued (no stream yet) is simply not made.
            std::mutex mutex;
            std::condition_variable_any wake;
            while (!stop.stop_requested()) {
                device.produceFrame();
                std::unique_lock lock(mutex);
                wake.wait_for(lock, stop, 15ms, [] { return false; });
            }
        });
    }

    ~ModelRouteRig() {
        // The model and its camera first (their threads end), then what
        // the cameras used, each on the thread it belongs to.
        onMain([this] {
            recorder.reset();
            model.reset();
        });
        sensor.request_stop();
        sensor.join();
        onMain([this] {
            cameras.reset();
            radio->remove(*ble);
            radio.reset();
            ble.reset();
        });
        network->stop();
    }


    Seen seen() {
        return onMain([this] {
            Seen s;
            s.displayed = displayLayer->enqueued();
            if (const auto& last = displayLayer->last()) s.lastSize = std::pair(last->width(), last->height());
            s.connection = model->state().connection;
            s.switching = model->isSwitching();
            s.statusText = model->state().statusText;
            return s;
        });
    }

    // Polls what the model shows until `done` holds; bounded.
    bool waitUntil(const std::function<bool(const Seen&)>& done, std::chrono::seconds limit = 30s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (done(seen())) return true;
            std::this_thread::sleep_for(10ms);
        }
        return done(seen());
    }

    // Waits for `count` more frames of the route's size on the main window's sink.
    bool waitForFrames(int count, int width, int height) {
        const int before = seen().displayed;
        return waitUntil([&](const Seen& s) {
            return s.displayed >= before + count && s.lastSize == std::pair(width, height);
        });
    }

    hollowkit::LoopExecutor main;  // first: runs until everything else is gone
    hollowkit::testsupport::LogCapture log;
    hollowkit::FakeV4l2Device device{hollowkit::Clock::system()};
    hollowkit::FakeUsbSysfs sysfs;
    hollowkit::FakeAudioSourceBackend audio;
    hollowkit::FakeDeviceMonitor monitor;
    std::shared_ptr<hollowkit::FakeInterfaceAddresses> addresses =
        std::make_shared<hollowkit::FakeInterfaceAddresses>(
            std::vector{hollowkit::FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")});
    std::unique_ptr<hollowkit::FakeNmcli> nmcli;
    hollowkit::SimPocketUdp udp;
    std::unique_ptr<hollowkit::SimPocketNetwork> network;

    MemorySettingsStore settings;
    FakeSecretStore secrets;
    FakeSecureRandom random;
    FakeDiskSpace disk;
    FakeAppShell shell;
    FakeDesktop desktop;
    std::shared_ptr<CountingVideoSink> displayLayer = std::make_shared<CountingVideoSink>(false);
    std::shared_ptr<CountingVideoSink> notchLayer = std::make_shared<CountingVideoSink>(false);

    // Main executor only.
    std::unique_ptr<hollowkit::FakeBleRadio> radio;
    std::unique_ptr<hollowkit::SimPocketBle> ble;
    std::unique_ptr<LinuxCameraFactory> cameras;
    std::shared_ptr<CameraModel> model;
    std::unique_ptr<StateRecorder> recorder;

private:
    static hollowkit::SimPocketUdpOptions udpOptions() {
        hollowkit::SimPocketUdpOptions options;
        options.videoDatagramSize = 1000;
        options.frameInterval = 20ms;
        options.ssid = hollowkit::SimPocketBle::Config{}.ssid;
        return options;
    }

    std::filesystem::path outputFolder() const { return sysfs.root() / "Movies" / "Lumenhollow"; }

    LinuxCameraFactory::Seams seams() {
        LinuxCameraFactory::Seams s;
        s.usb.io = &device;
        s.usb.layout = sysfs.layout();
        s.usb.audio = &audio;
        s.usb.deviceMonitor = &monitor;

        hollowkit::NetworkEnvironment& e = s.network;
        e.cameraHost = network->host();
        e.cameraAddressPrefix = "127.0.0.";
        e.udpPort = network->udpPort();
        e.tcpPort = network->tcpPort();
        e.wifiDevice = "lo";
        e.nmcliPath = nmcli ? nmcli->path() : "/nonexistent/nmcli";
        e.interfaceAddresses = addresses;
        e.bleCentrals = radio->factory();
        e.timings = hollowkit::loopbackWirelessTimings();
        return s;
    }

    std::jthread sensor;
};

}  // namespace lumenhollow::test
