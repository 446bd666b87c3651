#include "hollowkit/wireless/wireless_camera.h"

#include "hollowkit/base/pocket_log.h"
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
    return options;
}

}  // namespace

WirelessCamera::Shared::Shared(NetworkEnvironment environment, std::string pairingIdentifier)
    : env(std::move(environment)),
      identifier(std::move(pairingIdentifier)),
      gimbal(Clock::system()),
      wifi(wifiOptions(env, gate)) {}

WirelessCamera* WirelessCamera::Shared::mainCamera() {
    std::lock_guard lock(mutex_);
    return camera_;
}

void WirelessCamera::Shared::emitFromWorker(const CameraEvent& event) {
    logEvent(event);
    withCamera([&event](WirelessCamera& camera) { camera.enqueue(event); });
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
    std::lock_guard lock(mutex_);
    camera_ = &camera;
}

void WirelessCamera::Shared::detach() {
    std::unique_lock lock(mutex_);
    camera_ = nullptr;
    released_.wait(lock, [this] { return users_ == 0; });
}

// --- Construction -----------------------------------------------------------

WirelessCamera::WirelessCamera(Executor& main, std::string pairingIdentifier, std::optional<HomeNetwork> homeNetwork,
                               NetworkEnvironment environment)
    : main_(main),
      homeNetwork_(std::move(homeNetwork)),
      shared_(std::make_shared<Shared>(environment.withDefaults(), pairingIdentifier)) {
    shared_->attach(*this);
    bluetooth_ = std::make_unique<PocketBluetoothLink>(main_, std::move(pairingIdentifier), true);
    std::weak_ptr<bool> alive = alive_;
    bluetooth_->onEvent = [this, alive](const PocketBluetoothLink::Event& event) {
        if (!alive.expired()) handleLinkEvent(event);
    };
}

WirelessCamera::~WirelessCamera() {
    shared_->gate.stop();
    main_.cancel(stopDeadline_);
    setup_.reset();  // borrows the link
    bluetooth_->onEvent = nullptr;
    bluetooth_.reset();
    shared_->detach();
    // A worker that already ended is joined; one still inside a tool call
    // or a handshake ends by itself later, holding only the shared part.
    for (auto* worker : {&videoThread_, &sweeper_}) {
        if (*worker) retire(**worker, false);
    }
    for (auto& completion : stopCompletions_) {
        if (completion) main_.post(std::move(completion));
    }
}

WirelessCamera::Worker WirelessCamera::startWorker(std::string_view label, std::function<void()> body) {
    Worker worker;
    worker.finished = std::make_shared<std::atomic<bool>>(false);
    worker.thread = std::thread([name = std::string(label), finished = worker.finished, body = std::move(body)] {
        setCurrentThreadName(name);
        body();
        finished->store(true);
    });
    return worker;
}

void WirelessCamera::retire(Worker& worker, bool wait) {
    if (!worker.thread.joinable()) return;
    if (wait || worker.finished->load()) {
        worker.thread.join();
    } else {
        worker.thread.detach();
    }
}

const CameraWiFi& WirelessCamera::wifi() const { return shared_->wifi; }

bool WirelessCamera::routeAbandoned() const { return stopping_ || shared_->gate.stopped(); }

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
    std::lock_guard lock(nameLock_);
    if (!connectedName_) return std::nullopt;
    auto model = pocketModelFromName(*connectedName_);
    if (!model) return std::nullopt;
    return hollowkit::zoomRange(*model);
}

void WirelessCamera::start() {
    if (started_ || stopping_) return;
    started_ = true;
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

void WirelessCamera::logEvent(const CameraEvent& event) {
    if (auto* status = event.get<CameraEvent::Status>()) {
        PocketLog::log("Status: " + status->text);
    } else if (auto* failed = event.get<CameraEvent::Failed>()) {
        PocketLog::log("Failed: " + failed->message);
    } else if (event.kind() == CameraEvent::Kind::cameraOff) {
        PocketLog::log("Camera turned off or went out of range");
    } else if (event.kind() == CameraEvent::Kind::stopped) {
        PocketLog::log("Stopped");
    }
}

void WirelessCamera::emit(const CameraEvent& event) {
    logEvent(event);
    enqueue(event);
}

void WirelessCamera::enqueue(const CameraEvent& event) {
    {
        std::lock_guard lock(eventLock_);
        pendingEvents_.push_back(event);
    }
    if (main_.isCurrent()) {
        deliverPending();
        return;
    }
    auto shared = shared_;
    main_.post([shared] {
        if (WirelessCamera* camera = shared->mainCamera()) camera->deliverPending();
    });
}

void WirelessCamera::deliverPending() {
    // One queue for every thread's events: an event emitted here goes out
    // after those other threads emitted before it, so `stopped` can never
    // overtake a status the video thread sent earlier.
    if (delivering_) return;  // the outer call delivers it
    delivering_ = true;
    std::weak_ptr<bool> alive = alive_;
    for (;;) {
        std::optional<CameraEvent> next;
        {
            std::lock_guard lock(eventLock_);
            if (pendingEvents_.empty()) break;
            next = std::move(pendingEvents_.front());
            pendingEvents_.pop_front();
        }
        callOnEvent(*next);
        if (alive.expired()) return;
    }
    delivering_ = false;
}

void WirelessCamera::handleLinkEvent(const PocketBluetoothLink::Event& event) {
    {
        std::lock_guard lock(nameLock_);
        connectedName_ = bluetooth_->connectedName();
    }
    using Kind = PocketBluetoothLink::Event::Kind;
    switch (event.kind) {
    case Kind::status:
        emit(CameraEvent::status(event.text));
        break;
    case Kind::credentials: {
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
    case Kind::failed: {
        if (linkEnding_) {
            // Reports of a connection we already ended (a second
            // subscription failing, say) would only repeat the first.
            PocketLog::log("Bluetooth, while disconnecting: " + event.text);
            break;
        }
        std::weak_ptr<bool> alive = alive_;
        emit(CameraEvent::failed(event.text));
        if (!alive.expired() && !videoThreadRunning_) {
            disconnectLink();
        }
        break;
    }
    case Kind::disconnected:
        if (stopping_) {
            finishStop();
        } else if (!cameraOffReported_) {
            cameraOffReported_ = true;
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
    if (stopFinished_) {
        // This camera already stopped: complete without a second `stopped`.
        if (completion) main_.post(std::move(completion));
        return;
    }
    stopCompletions_.push_back(std::move(completion));
    if (stopping_) return;
    stopping_ = true;
    std::weak_ptr<bool> alive = alive_;
    emit(CameraEvent::status("Disconnecting"));
    if (alive.expired()) return;

    // The gate ends a running video thread and any search in progress; a
    // move in progress ends at once too instead of talking to a camera the
    // owner has left.
    shared_->gate.stop();
    if (setup_) setup_->cancel();
    auto shared = shared_;
    stopDeadline_ = main_.after(shared_->env.timings.stopDeadline, [shared] {
        if (WirelessCamera* camera = shared->mainCamera()) camera->finishStop();
    });
    if (!videoThreadRunning_) {
        // Reports `disconnected` (at once when there is no connection), which
        // finishes the stop; a running video thread disconnects at its end.
        disconnectLink();
    }
}

void WirelessCamera::finishStop() {
    if (!stopping_ || stopCompletions_.empty()) return;
    auto completions = std::move(stopCompletions_);
    stopCompletions_.clear();
    stopFinished_ = true;
    main_.cancel(stopDeadline_);
    stopDeadline_ = 0;
    // Posted rather than called here: this runs inside the link's event, and
    // the completion usually drops the camera.
    main_.post([completions = std::move(completions)] {
        for (const auto& completion : completions) {
            if (completion) completion();
        }
    });
    emit(CameraEvent::stopped());
}

void WirelessCamera::videoThreadEnded() {
    videoThreadRunning_ = false;
    if (videoThread_) {
        retire(*videoThread_, true);  // it posted this as its last act
        videoThread_.reset();
    }
    disconnectLink();
}

void WirelessCamera::disconnectLink() {
    linkEnding_ = true;
    bluetooth_->disconnect();
}

}  // namespace hollowkit
