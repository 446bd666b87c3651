#include "hollowkit/wireless/wireless_camera.h"

#include <algorithm>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/base/thread_name.h"
#include "hollowkit/camera/camera_command.h"
#include "hollowkit/camera/pocket_model.h"
#include "hollowkit/wireless/wireless_camera_shared.h"

namespace hollowkit {

// --- Shared -----------------------------------------------------------------

namespace {

CameraWiFiOptions wifiOptions(const NetworkEnvironment& env, StopGate& gate) {
    CameraWiFiOptions options;
    options.nmcliPath = env.nmcliPath;
    options.device = env.wifiDevice;
    options.cameraAddressPrefix = env.cameraAddressPrefix;
    options.addresses = env.interfaceAddresses;
    options.timings = env.timings.wifi;
    options.pause = [&gate](Duration span) { return gate.pause(span); };
    options.stop = &gate.flag();
    return options;
}

}  // namespace

WirelessCamera::Shared::Shared(NetworkEnvironment environment, std::string pairingIdentifier)
    : env(std::move(environment)),
      identifier(std::move(pairingIdentifier)),
      gimbal(Clock::system()),
      wifi(wifiOptions(env, gate)) {}

WirelessCamera* WirelessCamera::Shared::mainCamera() {
    MutexLock lock(mutex_);
    return camera_;
}

void WirelessCamera::Shared::emitFromWorker(const CameraEvent& event) {
    logEvent(*env.repeatLog, event);
    withCamera([&event](WirelessCamera& camera) { camera.postEvent(camera.main_, event); });
}

void WirelessCamera::Shared::postToCamera(std::function<void(WirelessCamera&)> step) {
    auto self = shared_from_this();
    withCamera([&](WirelessCamera& camera) {
        camera.main_.post([self, step = std::move(step)] {
            if (WirelessCamera* current = self->mainCamera()) step(*current);
        });
    });
}

void WirelessCamera::Shared::attach(WirelessCamera& camera) {
    MutexLock lock(mutex_);
    camera_ = &camera;
}

void WirelessCamera::Shared::detach() {
    MutexLock lock(mutex_);
    camera_ = nullptr;
    lock.wait(released_, [this]() HK_REQUIRES(mutex_) { return users_ == 0; });
}

// --- Construction -----------------------------------------------------------

WirelessCamera::WirelessCamera(Executor& main, std::string pairingIdentifier, std::optional<HomeNetwork> homeNetwork,
                               NetworkEnvironment environment)
    : main_(main),
      homeNetwork_(std::move(homeNetwork)),
      shared_(std::make_shared<Shared>(environment.withDefaults(), pairingIdentifier)) {
    shared_->attach(*this);
    bluetooth_ = std::make_unique<PocketBluetoothLink>(main_, std::move(pairingIdentifier), true);
    // The link lives inside the camera and loses this handler first in the
    // destructor, so it never calls a camera that is gone.
    bluetooth_->onEvent = [this](const PocketBluetoothLink::Event& event) { handleLinkEvent(event); };
}

WirelessCamera::~WirelessCamera() {
    shared_->gate.stop();
    main_.cancel(stopDeadline_);
    cancelComputerRetry();
    setup_.reset();  // borrows the link
    bluetooth_->onEvent = nullptr;
    bluetooth_.reset();
    shared_->detach();
    // Joined here rather than handed to a reaper: a reaper would be a
    // thread of its own outliving every camera (a process-wide one, which
    // the library does not keep) or one that dies with the camera and joins
    // just the same. The gate closed above ends at once a session, a search,
    // every pause, a tool call of the lookup or the join (the tool is
    // killed) and a handshake (before its next 350 ms attempt), so what is
    // left to wait for is a probe batch or a bootstrap (about a second at
    // most) and the Wi-Fi clean-up, which must run to leave this machine's
    // Wi-Fi as it was. In the usual order (stop, completion, destruction)
    // the worker has reported its end before the completion, and this join
    // finds nothing to wait for.
    if (worker_ && worker_->thread.joinable()) worker_->thread.join();
    for (auto& completion : stopCompletions_) {
        if (completion) main_.post(std::move(completion));
    }
}

void WirelessCamera::startWorker(Job job, std::string_view label, std::function<void(uint64_t serial)> body) {
    // The previous worker posted its report as its last act and was joined
    // when that ran; a worker only ever starts from such a report or from
    // start(), so this join finds an ended thread at most.
    if (worker_ && worker_->thread.joinable()) worker_->thread.join();
    const uint64_t serial = nextWorker_++;
    worker_ = Worker{};
    worker_->job = job;
    worker_->serial = serial;
    worker_->thread = std::thread([name = std::string(label), serial, body = std::move(body)] {
        enterLibraryThread(name);
        body(serial);
    });
}

bool WirelessCamera::workerEnded(uint64_t serial) {
    if (!worker_ || worker_->serial != serial) return false;
    if (worker_->thread.joinable()) worker_->thread.join();  // only its return is left
    worker_.reset();
    return true;
}

const CameraWiFi& WirelessCamera::wifi() const { return shared_->wifi; }

bool WirelessCamera::routeAbandoned() const { return state_ != State::running || shared_->gate.stopped(); }

bool WirelessCamera::stopFlagSet() const { return shared_->gate.stopped(); }

std::optional<Bytes> WirelessCamera::pairingFrameBytes(std::string_view identifier) {
    auto frame = PocketBluetoothLink::pairingRequestFrame(identifier);
    if (!frame) return std::nullopt;
    auto bytes = frame->encoded();
    if (!bytes.has_value()) return std::nullopt;
    return bytes.value();
}

// --- PocketCamera -----------------------------------------------------------

GimbalCommands& WirelessCamera::gimbal() { return shared_->gimbal; }

std::optional<ZoomRange> WirelessCamera::zoomRange() const {
    MutexLock lock(nameLock_);
    if (!connectedName_) return std::nullopt;
    auto model = pocketModelFromName(*connectedName_);
    if (!model) return std::nullopt;
    return hollowkit::zoomRange(*model);
}

void WirelessCamera::start() {
    if (state_ != State::idle) return;
    if (!shared_->wifi.device().empty()) {
        startBluetooth();
        return;
    }
    // nmcli may take seconds to list the devices: never on the main
    // executor. Bluetooth waits for it, so every later step knows the device.
    state_ = State::starting;
    auto shared = shared_;
    startWorker(Job::findDevice, kVideoThread.label, [shared](uint64_t serial) {
        shared->wifi.findDevice();
        if (!shared->gate.stopped()) shared->env.repeatLog->log(kLogTopic, "Wi-Fi device: " + shared->wifi.device());
        shared->postToCamera([serial](WirelessCamera& camera) { camera.deviceFound(serial); });
    });
}

void WirelessCamera::deviceFound(uint64_t serial) {
    if (!workerEnded(serial)) return;
    // A stop during the lookup leaves the link unstarted.
    if (state_ == State::starting) startBluetooth();
}

void WirelessCamera::startBluetooth() {
    state_ = State::running;
    bluetooth_->start(shared_->env.bleCentrals(main_));
}

void WirelessCamera::setZoom(int zoomPercent) {
    auto range = zoomRange();
    if (!range) return;
    shared_->commands.append(CameraCommand::zoom(range->clamp(zoomPercent)));
}

void WirelessCamera::flipGimbal() { shared_->commands.append(CameraCommand::flipGimbal()); }

void WirelessCamera::setCardRecording(bool startRecording) {
    shared_->commands.append(CameraCommand::cardRecording(startRecording));
}

void WirelessCamera::applySetting(const CameraSetting& setting) {
    shared_->commands.append(CameraCommand::setting(setting));
}

// --- Events -----------------------------------------------------------------

void WirelessCamera::logEvent(RepeatLog& log, const CameraEvent& event) {
    // A camera that fails the way the one before it failed (no adapter, no
    // camera nearby) adds nothing to the log until a camera is reached.
    if (auto* status = event.get<CameraEvent::Status>()) {
        log.log(kLogTopic, "Status: " + status->text);
    } else if (auto* failed = event.get<CameraEvent::Failed>()) {
        log.log(kLogTopic, "Failed: " + failed->message);
    } else if (event.kind() == CameraEvent::Kind::cameraOff) {
        log.log(kLogTopic, "Camera turned off or went out of range");
    } else if (event.kind() == CameraEvent::Kind::stopped) {
        log.log(kLogTopic, "Stopped");
    }
}

void WirelessCamera::emit(const CameraEvent& event) {
    logEvent(*shared_->env.repeatLog, event);
    postEvent(main_, event);
}

void WirelessCamera::handleLinkEvent(const PocketBluetoothLink::Event& event) {
    {
        MutexLock lock(nameLock_);
        connectedName_ = bluetooth_->connectedName();
    }
    using Kind = PocketBluetoothLink::Event::Kind;
    switch (event.kind) {
    case Kind::status:
        // The adapter is there (again): the link goes on without a retry.
        cancelComputerRetry();
        computerWait_ = Duration::zero();
        emit(CameraEvent::status(event.text));
        break;
    case Kind::credentials: {
        // The camera was reached: its next failure is news again.
        shared_->env.repeatLog->forget(kLogTopic);
        auto shared = shared_;
        main_.post([shared, ssid = event.ssid, password = event.password] {
            if (WirelessCamera* camera = shared->mainCamera()) camera->connect(ssid, password);
        });
        break;
    }
    case Kind::telemetry:
        if (auto battery = BatteryStatus::fromFrame(event.frame)) {
            emit(CameraEvent::battery(*battery));
        }
        break;
    case Kind::failed:
        if (state_ != State::running) {
            // Reports of a connection that is ending anyway (a second
            // subscription failing, say) would only repeat the first.
            PocketLog::log("Bluetooth, while disconnecting: " + event.text);
            break;
        }
        if (bluetooth_->adapterState() == BleAdapterState::unsupported && !videoThreadRunning()) {
            // No adapter, no BlueZ or no system bus: the camera may be on
            // and near. A new central looks again; the one there now
            // reports an adapter that BlueZ gains meanwhile.
            emit(CameraEvent::computerFailed(event.text));
            retryOnComputer([](WirelessCamera& camera) {
                camera.bluetooth_->start(camera.shared_->env.bleCentrals(camera.main_));
            });
            break;
        }
        emit(CameraEvent::failed(event.text));
        if (!videoThreadRunning()) {
            // A running video thread goes on; otherwise the link goes, and
            // its `disconnected` reports the camera off.
            state_ = State::ending;
            bluetooth_->disconnect();
        }
        break;
    case Kind::disconnected:
        cancelComputerRetry();
        if (state_ == State::stopping) {
            finishStop();
        } else if (state_ == State::running || state_ == State::ending) {
            state_ = State::off;
            shared_->gate.stop();
            emit(CameraEvent::cameraOff());
        }
        break;
    case Kind::none:
        break;
    }
}

// --- Stop -------------------------------------------------------------------

void WirelessCamera::stop(std::function<void()> completion) {
    if (state_ == State::stopped) {
        // This camera already stopped: complete without a second `stopped`.
        if (completion) main_.post(std::move(completion));
        return;
    }
    stopCompletions_.push_back(std::move(completion));
    if (state_ == State::stopping) return;
    state_ = State::stopping;
    emit(CameraEvent::status("Disconnecting"));

    // The gate ends a running video thread, any search in progress and the
    // device lookup's tool; a move in progress ends at once too
    // instead of talking to a camera the owner has left.
    shared_->gate.stop();
    if (setup_) setup_->cancel();
    cancelComputerRetry();
    auto shared = shared_;
    stopDeadline_ = main_.after(shared_->env.timings.stopDeadline, [shared] {
        if (WirelessCamera* camera = shared->mainCamera()) camera->finishStop();
    });
    if (!videoThreadRunning()) {
        // Reports `disconnected` (at once when there is no connection, also
        // when the link never started), which finishes the stop; a running
        // video thread disconnects at its end.
        bluetooth_->disconnect();
    }
}

void WirelessCamera::finishStop() {
    if (state_ != State::stopping || stopCompletions_.empty()) return;
    auto completions = std::move(stopCompletions_);
    stopCompletions_.clear();
    state_ = State::stopped;
    main_.cancel(stopDeadline_);
    stopDeadline_ = 0;
    // Both posted, `stopped` first: the owner hears of the stop, then its
    // completions run (which usually drop the camera).
    emit(CameraEvent::stopped());
    main_.post([completions = std::move(completions)] {
        for (const auto& completion : completions) {
            if (completion) completion();
        }
    });
}

void WirelessCamera::videoThreadEnded(uint64_t serial, const std::optional<Route>& retry) {
    if (!workerEnded(serial)) return;
    if (retry && !routeAbandoned()) {
        // The Wi-Fi tool failed, not the camera: its Bluetooth link stays
        // and the route is tried again.
        retryOnComputer([route = *retry](WirelessCamera& camera) { camera.startVideoThread(route); });
        return;
    }
    if (state_ == State::running) state_ = State::ending;
    // Without a stop the link's `disconnected` then reports the camera off;
    // during a stop it finishes the stop.
    bluetooth_->disconnect();
}

// --- Failures of this computer ----------------------------------------------

void WirelessCamera::retryOnComputer(std::function<void(WirelessCamera&)> step) {
    const WirelessTimings& timings = shared_->env.timings;
    computerWait_ = computerWait_ == Duration::zero() ? timings.computerRetryFirst
                                                      : std::min(computerWait_ * 2, timings.computerRetryLongest);
    cancelComputerRetry();
    auto shared = shared_;
    computerRetry_ = main_.after(computerWait_, [shared, step = std::move(step)] {
        WirelessCamera* camera = shared->mainCamera();
        if (camera == nullptr) return;
        camera->computerRetry_ = 0;
        if (!camera->routeAbandoned()) step(*camera);
    });
}

void WirelessCamera::cancelComputerRetry() {
    if (computerRetry_ == 0) return;
    main_.cancel(computerRetry_);
    computerRetry_ = 0;
}

}  // namespace hollowkit
