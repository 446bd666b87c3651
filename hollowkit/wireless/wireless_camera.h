#pragma once

// WirelessCamera: the PocketCamera of the wireless road. It owns the
// Bluetooth link to the camera (scanning, pairing, the camera's Wi-Fi
// credentials), this machine's Wi-Fi control (CameraWiFi), the home-network
// mover, the stop gate, the command queue and the gimbal mailbox. Once the
// credentials arrive it asks the camera's Wi-Fi role, chooses a route (the
// camera's own access point, or the home network, moving the camera there
// and finding it with a sweep of the local network) and runs that route on
// the thread "HollowKit.Video": join, TCP bootstrap, UDP link, live-view
// session, stream assembly and decoding, with up to three link restarts.
// When that thread ends the Bluetooth link is disconnected; without a stop
// the camera then reports cameraOff and the owner builds a new camera.
//
// Thread contract: construction, start(), stop(), the command operations
// and destruction on the main executor; properties on any thread. Events
// reach onEvent on the main executor, in the order they were emitted from
// all threads; an event emitted on the main executor is delivered before
// emit returns (after any still waiting from other threads). Decoded frames
// reach onVideoSample on the video thread. The sweep runs on a worker
// ("HollowKit.Probe"). Worker threads reach the camera only through a guard
// that the destructor closes; a worker still busy then (in a tool call or a
// handshake) finishes on its own and touches nothing of the camera.
//
// Failures are `failed` events; a stop always completes: its completions
// run on the main executor after one `stopped` event, at the link's
// disconnection or at the latest stopDeadline (6 s) after the first stop
// call; a stop after that completes at once (posted); a camera destroyed
// with a stop pending still posts its completions.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/camera/camera_event.h"
#include "hollowkit/camera/pocket_camera.h"
#include "hollowkit/wireless/home_network.h"
#include "hollowkit/wireless/home_network_setup.h"
#include "hollowkit/wireless/network_environment.h"
#include "hollowkit/wireless/pocket_bluetooth_link.h"

namespace hollowkit {

class WirelessCamera final : public PocketCamera {
public:
    // How the video thread reaches the camera.
    struct Route {
        enum class Kind : uint8_t { none = 0, cameraAccessPoint, homeNetwork };

        Kind kind = Kind::none;
        std::string ssid;      // cameraAccessPoint: the camera's own network
        std::string password;  // cameraAccessPoint
        std::string host;      // homeNetwork: the camera's address there

        bool operator==(const Route&) const = default;

        static Route cameraAccessPoint(std::string ssid, std::string password) {
            return {Kind::cameraAccessPoint, std::move(ssid), std::move(password), {}};
        }
        static Route homeNetwork(std::string host) { return {Kind::homeNetwork, {}, {}, std::move(host)}; }
    };

    // `main` must outlive the camera. `pairingIdentifier` is the
    // application's persistent pairing identifier; `homeNetwork` the
    // remembered home Wi-Fi, if any. Runs nmcli once when the environment
    // names no Wi-Fi device.
    WirelessCamera(Executor& main, std::string pairingIdentifier, std::optional<HomeNetwork> homeNetwork,
                   NetworkEnvironment environment = {});
    ~WirelessCamera() override;

    // PocketCamera.
    GimbalCommands& gimbal() override;
    std::optional<ZoomRange> zoomRange() const override;
    bool supportsPositioning() const override { return false; }
    bool supportsCardRecording() const override { return true; }
    bool supportsCameraSettings() const override { return true; }
    std::vector<MicrophoneOption> microphones() const override { return {}; }
    std::optional<MicrophoneOption> activeMicrophone() const override { return std::nullopt; }
    std::optional<float> audioLevel() const override { return std::nullopt; }
    std::vector<VideoFormatOption> formats() const override { return {}; }
    std::optional<VideoFormatOption> activeFormat() const override { return std::nullopt; }
    void start() override;
    void stop(std::function<void()> completion) override;
    void setZoom(int zoomPercent) override;
    std::optional<CameraPosition> currentPosition() override { return std::nullopt; }
    void move(const CameraPosition&) override {}
    void selectMicrophone(std::optional<std::string>) override {}
    void selectFormat(const VideoFormatOption&) override {}
    void flipGimbal() override;
    void setCardRecording(bool startRecording) override;
    void applySetting(const CameraSetting& setting) override;

    // Delivers one event (logged first: "Status: ", "Failed: ", "Camera
    // turned off or went out of range", "Stopped"). Any thread.
    void emit(const CameraEvent& event);

    // Read-only state, for the owner's display and tests. Main executor.
    const std::optional<HomeNetwork>& homeNetwork() const { return homeNetwork_; }
    const PocketBluetoothLink& bluetooth() const { return *bluetooth_; }
    const CameraWiFi& wifi() const;
    bool videoThreadRunning() const { return videoThreadRunning_; }
    // A search of the local network is waiting for its worker.
    bool discoveryRunning() const { return !sweepHandlers_.empty(); }
    bool stopping() const { return stopping_; }
    // Any thread.
    bool stopFlagSet() const;

    // The pairing request frame (07/45 with the identifier and "plix") as
    // the bootstrap sends it; nothing when the identifier is too long.
    static std::optional<Bytes> pairingFrameBytes(std::string_view identifier);

private:
    struct Shared;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    using HostHandler = std::function<void(std::optional<std::string>)>;

    static Worker startWorker(std::string_view label, std::function<void()> body);
    static void retire(Worker& worker, bool wait);
    static void logEvent(const CameraEvent& event);

    void handleLinkEvent(const PocketBluetoothLink::Event& event);
    void enqueue(const CameraEvent& event);
    void deliverPending();
    void finishStop();
    void videoThreadEnded();
    void disconnectLink();

    // The connection procedure (main executor).
    bool routeAbandoned() const;
    void connect(const std::string& ssid, const std::string& password);
    void chooseRoute(StationRole role, const std::string& ssid, const std::string& password);
    void moveCamera(StationRole role, const std::string& ssid);
    void findCamera(const std::string& ssid, Duration timeout, HostHandler done);
    void sweepOnce(const std::string& ssid, HostHandler done);
    void startVideoThread(const Route& route);

    // Worker bodies.
    static std::optional<std::string> findCameraOnLAN(Shared& shared, const std::optional<Bytes>& frame,
                                                      const std::string& ssid);
    static void runVideoLink(Shared& shared, const Route& route, const std::optional<Bytes>& frame);

    Executor& main_;
    const std::optional<HomeNetwork> homeNetwork_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<PocketBluetoothLink> bluetooth_;
    std::unique_ptr<HomeNetworkSetup> setup_;
    // Lets a call that hands control to the owner see whether the owner
    // destroyed the camera meanwhile.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // Main executor only.
    bool started_ = false;
    bool videoThreadRunning_ = false;
    bool stopping_ = false;
    bool stopFinished_ = false;
    bool cameraOffReported_ = false;
    bool linkEnding_ = false;  // we asked the link to disconnect
    std::vector<std::function<void()>> stopCompletions_;
    TaskId stopDeadline_ = 0;
    std::optional<std::string> probedHost_;
    uint64_t nextSweep_ = 1;
    std::map<uint64_t, HostHandler> sweepHandlers_;
    std::optional<Worker> videoThread_;
    std::optional<Worker> sweeper_;
    bool delivering_ = false;

    mutable std::mutex eventLock_;
    std::deque<CameraEvent> pendingEvents_;  // guarded by eventLock_

    mutable std::mutex nameLock_;
    std::optional<std::string> connectedName_;  // guarded by nameLock_
};

}  // namespace hollowkit
