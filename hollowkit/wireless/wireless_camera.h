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
// Failures of this computer rather than of the camera (no Bluetooth adapter,
// no BlueZ or no system bus; nmcli that cannot run or does not answer) are
// `failed` events marked onComputer and never end in cameraOff: the camera
// keeps its place and tries again by itself after a wait that grows from 3 s
// to 30 s, the link with a new central (which also takes up an adapter that
// BlueZ reports meanwhile) or the video thread on the same route (the
// Bluetooth connection to the camera stays).
//
// Thread contract: construction, start(), stop(), the command operations
// and destruction on the main executor; properties on any thread. Nothing
// is run at construction: the Wi-Fi device lookup (nmcli) happens at
// start(), on the camera's worker thread. Events are always posted to the
// main executor (never delivered inside a call such as stop()), in the
// order they were emitted from all threads. Decoded frames reach
// onVideoSample on the video thread.
//
// One worker thread at a time, owned by the camera: the device lookup at
// start, each sweep of the local network ("HollowKit.Probe", utility
// priority), then the video thread. Each reports its end to the main
// executor as its last act and is joined there; the destructor closes the
// stop gate (ending sessions, searches and pauses at once), cuts the
// workers' way back to the camera and joins what still runs.
//
// Failures are `failed` events; a stop always completes: its completions
// run on the main executor after one `stopped` event, at the link's
// disconnection or at the latest stopDeadline (6 s) after the first stop
// call; a stop after that completes at once (posted); a camera destroyed
// with a stop pending still posts its completions.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/camera_event.h"
#include "hollowkit/camera/pocket_camera.h"
#include "hollowkit/wireless/home_network.h"
#include "hollowkit/wireless/home_network_setup.h"
#include "hollowkit/wireless/network_environment.h"
#include "hollowkit/wireless/pocket_bluetooth_link.h"
#include "hollowkit/wireless/repeat_log.h"

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

    // The camera's life, one step at a time; see the .cpp for the moves.
    enum class State : uint8_t {
        idle = 0,  // made, not started
        starting,  // looking up the Wi-Fi device on the worker; Bluetooth follows
        running,   // Bluetooth, route choice and video thread
        ending,    // dropping the link without a stop (a failure, the video thread's end)
        off,       // the link is gone without a stop; cameraOff was reported
        stopping,  // stop() called; completions wait for the link or the deadline
        stopped,   // the stop completed; later stops complete at once
    };

    // `main` must outlive the camera. `pairingIdentifier` is the
    // application's persistent pairing identifier; `homeNetwork` the
    // remembered home Wi-Fi, if any.
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
    // turned off or went out of range", "Stopped"; a line that cameras of
    // the same environment already wrote since one of them last reached the
    // camera is left out). Any thread.
    void emit(const CameraEvent& event);

    // Read-only state, for the owner's display and tests. Main executor.
    const std::optional<HomeNetwork>& homeNetwork() const { return homeNetwork_; }
    const PocketBluetoothLink& bluetooth() const { return *bluetooth_; }
    const CameraWiFi& wifi() const;
    State state() const { return state_; }
    bool stopping() const { return state_ == State::stopping || state_ == State::stopped; }
    // A worker thread runs and has not yet reported its end.
    bool workerRunning() const { return worker_.has_value(); }
    bool videoThreadRunning() const { return worker_ && worker_->job == Job::video; }
    // Any thread.
    bool stopFlagSet() const;

    // The pairing request frame (07/45 with the identifier and "plix") as
    // the bootstrap sends it; nothing when the identifier is too long.
    static std::optional<Bytes> pairingFrameBytes(std::string_view identifier);

private:
    struct Shared;
    enum class Job : uint8_t { none = 0, findDevice, sweep, video };
    struct Worker {
        Job job = Job::none;
        uint64_t serial = 0;
        std::thread thread;
    };
    using HostHandler = std::function<void(std::optional<std::string>)>;

    // Starts `body` as the worker (the previous one has reported its end);
    // the body's last act reports back through workerEnded().
    void startWorker(Job job, std::string_view label, std::function<void(uint64_t serial)> body);
    // Main executor: joins the worker that reported; false for a stale report.
    bool workerEnded(uint64_t serial);
    // The RepeatLog topic of the cameras' event lines and Wi-Fi device.
    static constexpr const char* kLogTopic = "WirelessCamera";
    static void logEvent(RepeatLog& log, const CameraEvent& event);

    void deviceFound(uint64_t serial);
    void startBluetooth();
    void handleLinkEvent(const PocketBluetoothLink::Event& event);
    void finishStop();
    // `retry`: the route, when the thread ended on this computer's failure.
    void videoThreadEnded(uint64_t serial, const std::optional<Route>& retry);
    // Runs `step` after the next wait for this computer, unless the route is
    // abandoned by then; replaces a retry already waiting.
    void retryOnComputer(std::function<void(WirelessCamera&)> step);
    void cancelComputerRetry();

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
    // True when the route ended on this computer's failure (the Wi-Fi tool).
    static bool runVideoLink(Shared& shared, const Route& route, const std::optional<Bytes>& frame);

    Executor& main_;
    const std::optional<HomeNetwork> homeNetwork_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<PocketBluetoothLink> bluetooth_;
    std::unique_ptr<HomeNetworkSetup> setup_;

    // Main executor only.
    State state_ = State::idle;
    std::vector<std::function<void()>> stopCompletions_;
    TaskId stopDeadline_ = 0;
    TaskId computerRetry_ = 0;
    Duration computerWait_{};  // the last wait for this computer; zero: none yet
    std::optional<std::string> probedHost_;
    uint64_t nextSweep_ = 1;
    std::map<uint64_t, HostHandler> sweepHandlers_;
    uint64_t nextWorker_ = 1;
    std::optional<Worker> worker_;

    mutable Mutex nameLock_;
    std::optional<std::string> connectedName_ HK_GUARDED_BY(nameLock_);
};

}  // namespace hollowkit
