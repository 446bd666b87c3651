#include "tests/journeys/wireless_journey_rig.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/testing/fake_bluez.h"
#include "hollowkit/testing/fake_device_monitor.h"
#include "hollowkit/testing/fake_interface_addresses.h"
#include "hollowkit/testing/fake_nmcli.h"
#include "hollowkit/testing/fake_usb_sysfs.h"
#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/testing/loopback_wireless_timings.h"
#include "hollowkit/testing/private_dbus_daemon.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "hollowkit/testing/sim_pocket_network.h"
#include "hollowkit/testing/sim_pocket_udp.h"
#include "hollowkit/wireless/linux/bluez_central.h"
#include "lumenhollow/model/linux/linux_camera_factory.h"

namespace lumenhollow::journey {
namespace {

using namespace std::chrono_literals;

// The live view's stream: a second of numbered pictures, looped.
hollowkit::Result<std::vector<hollowkit::Bytes>, std::string> journeyStream() {
    auto encoded = hollowkit::encodeHevcTestStream({.width = 640, .height = 360, .gopLength = 10}, 30);
    if (!encoded.has_value()) return hollowkit::unexpected(encoded.error());
    std::vector<hollowkit::Bytes> units;
    for (const auto& unit : encoded.value()) units.push_back(unit.bytes);
    return units;
}

hollowkit::SimPocketUdpOptions journeyUdpOptions() {
    hollowkit::SimPocketUdpOptions options;
    options.videoDatagramSize = 1200;
    options.ssid = hollowkit::SimPocketBle::Config{}.ssid;
    return options;
}

// The commands that change one of the camera's settings: its 02/xx set but
// for the card recording and the zoom.
bool isSettingFrame(const hollowkit::DumlFrame& frame) {
    return frame.cmdSet == 0x02 && frame.cmdId != 0x02 && frame.cmdId != 0xB8;
}

// The camera's answer to "go back to your own Wi-Fi" when it will not, and
// how many connections in a row it gives it.
const hollowkit::Bytes kAccessPointRefused{0x01};
constexpr size_t kRefusalsOnAnotherNetwork = 8;

}  // namespace

// Lives from before the application to after it: what has no thread.
struct WirelessJourneyRig::Outside {
    hollowkit::PrivateDbusDaemon ownBus;  // when no bus was handed in
    std::string busAddress;
    bool bluezLater = false;
    std::unique_ptr<hollowkit::FakeNmcli> nmcli;
    hollowkit::SimPocketUdp udp{journeyUdpOptions()};
    std::unique_ptr<hollowkit::SimPocketNetwork> network;
    hollowkit::FakeUsbSysfs sysfs;  // no Pocket on the bus
    hollowkit::FakeDeviceMonitor monitor;
    std::shared_ptr<hollowkit::FakeInterfaceAddresses> addresses =
        std::make_shared<hollowkit::FakeInterfaceAddresses>(
            std::vector{hollowkit::FakeInterfaceAddresses::entry("lo", "127.0.0.10", "255.255.255.0")});
};

// The application's factory with the Bluetooth side of the camera it talks
// to; the cameras go first, then BlueZ, then the camera it served.
class WirelessJourneyRig::Factory final : public CameraFactory {
public:
    Factory(WirelessJourneyRig& rig, hollowkit::MainExecutor& main) : rig_(rig), main_(main) {
        Outside& outside = *rig.outside_;
        ble_ = std::make_unique<hollowkit::SimPocketBle>(main, hollowkit::SimPocketBle::Config{});
        if (!outside.bluezLater) startBluez();

        LinuxCameraFactory::Seams seams;
        seams.usb.layout = outside.sysfs.layout();
        seams.usb.deviceMonitor = &outside.monitor;
        hollowkit::NetworkEnvironment& e = seams.network;
        e.cameraHost = outside.network->host();
        e.cameraAddressPrefix = "127.0.0.";
        e.udpPort = outside.network->udpPort();
        e.tcpPort = outside.network->tcpPort();
        e.wifiDevice = "lo";
        e.nmcliPath = outside.nmcli->path();
        e.interfaceAddresses = outside.addresses;
        e.bleCentrals = hollowkit::BluezCentral::factory(outside.busAddress);
        e.timings = hollowkit::loopbackWirelessTimings();
        cameras_ = std::make_unique<LinuxCameraFactory>(main, std::move(seams));
    }

    ~Factory() override {
        cameras_.reset();
        if (bluez_ && !devicePath_.empty()) bluez_->remove(devicePath_);
        bluez_.reset();
        ble_.reset();
        rig_.factory_ = nullptr;
    }

    bool isPocketConnected() override { return cameras_->isPocketConnected(); }
    std::shared_ptr<hollowkit::PocketCamera> makeCamera(
        ConnectionMode mode, const std::string& pairingIdentifier,
        const std::optional<hollowkit::HomeNetwork>& homeNetwork) override {
        return cameras_->makeCamera(mode, pairingIdentifier, homeNetwork);
    }

    hollowkit::SimPocketBle& ble() { return *ble_; }

    // bluetoothd starts, with the camera in range; once.
    void startBluez() {
        if (bluez_) return;
        bluez_ = std::make_unique<hollowkit::FakeBluez>(main_);
        auto started = bluez_->start(rig_.outside_->busAddress);
        if (!started) std::fprintf(stderr, "wireless journey: the fake BlueZ: %s\n", started.error().c_str());
        devicePath_ = bluez_->add(*ble_);
    }

private:
    WirelessJourneyRig& rig_;
    hollowkit::MainExecutor& main_;
    std::unique_ptr<hollowkit::FakeBluez> bluez_;
    std::unique_ptr<hollowkit::SimPocketBle> ble_;
    std::string devicePath_;
    std::unique_ptr<LinuxCameraFactory> cameras_;
};

WirelessJourneyRig::WirelessJourneyRig() : outside_(std::make_unique<Outside>()) {}

WirelessJourneyRig::~WirelessJourneyRig() {
    if (outside_->network) outside_->network->stop();
}

hollowkit::Result<std::unique_ptr<WirelessJourneyRig>, std::string> WirelessJourneyRig::prepare(
    const std::optional<std::string>& busAddress, bool bluezLater) {
    std::unique_ptr<WirelessJourneyRig> rig(new WirelessJourneyRig());
    Outside& outside = *rig->outside_;
    outside.bluezLater = bluezLater;
    if (busAddress) {
        outside.busAddress = *busAddress;
    } else {
        if (auto started = outside.ownBus.start(); !started) {
            return hollowkit::unexpected("the private bus: " + started.error());
        }
        outside.busAddress = outside.ownBus.address();
    }
    hollowkit::FakeNmcliOptions nmcliOptions;
    nmcliOptions.expectedPassword = hollowkit::SimPocketBle::Config{}.password;
    auto nmcli = hollowkit::FakeNmcli::create(nmcliOptions);
    if (!nmcli.has_value()) return hollowkit::unexpected("the fake nmcli: " + nmcli.error());
    outside.nmcli = std::move(nmcli.value());
    auto stream = journeyStream();
    if (!stream.has_value()) return hollowkit::unexpected("the HEVC stream: " + stream.error());
    outside.udp.setAccessUnits(std::move(stream.value()));
    return rig;
}

std::unique_ptr<CameraFactory> WirelessJourneyRig::makeCameras(hollowkit::MainExecutor& main) {
    Outside& outside = *outside_;
    outside.network = std::make_unique<hollowkit::SimPocketNetwork>(
        outside.udp, hollowkit::SimPocketNetworkOptions{.host = "127.0.0.21"});
    if (auto started = outside.network->start(); !started) {
        std::fprintf(stderr, "wireless journey: the camera's network side: %s\n", started.error().c_str());
    }
    auto made = std::make_unique<Factory>(*this, main);
    factory_ = made.get();
    return made;
}

void WirelessJourneyRig::approvePairing() {
    if (!factory_) return;
    hollowkit::SimPocketBle& ble = factory_->ble();
    ble.approvePairing();
    // A camera remembers the computers it approved.
    for (const std::string& identifier : ble.pairingIdentifiers()) ble.config().pairedIdentifiers.insert(identifier);
}

void WirelessJourneyRig::startBluez() {
    if (factory_) factory_->startBluez();
}

void WirelessJourneyRig::toggleSilence() {
    hollowkit::SimPocketFaults faults = outside_->udp.faults();
    faults.silent = !faults.silent;
    outside_->udp.setFaults(faults);
}

void WirelessJourneyRig::toggleOnAnotherNetwork() {
    if (!factory_) return;
    hollowkit::SimPocketBle& ble = factory_->ble();
    const bool elsewhere = !ble.isStation();
    ble.setStation(elsewhere);
    // One refusal for each time the application asks it back, a connection
    // at a time; a camera back on its own answers as it likes again.
    ble.accessPointReplies.clear();
    if (elsewhere) ble.accessPointReplies.assign(kRefusalsOnAnotherNetwork, kAccessPointRefused);
}

nlohmann::json WirelessJourneyRig::record() const {
    const Outside& outside = *outside_;
    nlohmann::json record;
    if (factory_) {
        hollowkit::SimPocketBle& ble = factory_->ble();
        record["paired"] = ble.approvalAnswers() > 0 && ble.wrongApprovalAnswers() == 0;
        record["pairingRequests"] = ble.pairingIdentifiers().size();
        record["bluetoothConnected"] = ble.isConnected();
        record["bluetoothConnections"] = ble.connections();
        record["onAnotherNetwork"] = ble.isStation();
    }
    const std::optional<std::string> joined = outside.nmcli->activeSsid();
    record["wifiJoined"] = joined ? nlohmann::json(*joined) : nlohmann::json(nullptr);
    // Every activation hands nmcli a password file.
    const std::vector<std::string> checks = outside.nmcli->passwordFileChecks();
    record["wifiActivations"] = checks.size();
    record["passwordFilesOk"] =
        std::all_of(checks.begin(), checks.end(), [](const std::string& check) { return check.rfind("ok ", 0) == 0; });
    record["liveView"] = outside.udp.liveViewRunning();
    record["picturesSent"] = outside.udp.accessUnitsSent();
    nlohmann::json settings = nlohmann::json::array();
    int cardFrames = 0;
    for (const hollowkit::SimReceivedCommand& command : outside.udp.commands()) {
        if (isSettingFrame(command.frame)) {
            settings.push_back(command.frame.commandKey() + " " + hollowkit::hexString(command.frame.payload));
        }
        if (command.frame.cmdSet == 0x02 && command.frame.cmdId == 0x02) ++cardFrames;
    }
    record["settingsFrames"] = std::move(settings);
    record["cardFrames"] = cardFrames;
    record["cardRecording"] = outside.udp.cardState().isRecording;
    record["silent"] = outside.udp.faults().silent;
    return record;
}

}  // namespace lumenhollow::journey
