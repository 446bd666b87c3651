// The wireless camera's connection procedure: the Wi-Fi role query and the
// route choice on the main executor, the searches of the local network on a
// worker, and the video thread that runs the chosen route.

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/wireless/duml_udp_link.h"
#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "hollowkit/wireless/subnet_sweep.h"
#include "hollowkit/wireless/tcp_bootstrap.h"
#include "hollowkit/wireless/wireless_camera.h"
#include "hollowkit/wireless/wireless_camera_shared.h"
#include "hollowkit/wireless/wireless_video_session.h"

namespace hollowkit {

namespace {

constexpr const char* kStillOnAnotherNetwork =
    "The camera is still on another Wi-Fi network. Turn it off and on, then reconnect.";
constexpr const char* kLinkNotOpened = "Could not open the video link to the camera";

}  // namespace

// --- Route choice (main executor) -------------------------------------------

void WirelessCamera::connect(const std::string& ssid, const std::string& password) {
    if (routeAbandoned()) return;
    auto shared = shared_;
    setup_ = std::make_unique<HomeNetworkSetup>(main_, *bluetooth_, [shared](const std::string& text) {
        if (WirelessCamera* camera = shared->mainCamera()) camera->emit(CameraEvent::status(text));
    });
    setup_->exchange(DumlConstants::wifiRoleQueryFrame(), shared_->env.timings.roleQueryTimeout,
                     [shared, ssid, password](std::optional<DumlFrame> reply) {
                         if (WirelessCamera* camera = shared->mainCamera()) {
                             camera->chooseRoute(stationRoleFromReply(reply), ssid, password);
                         }
                     });
}

void WirelessCamera::chooseRoute(StationRole role, const std::string& ssid, const std::string& password) {
    // Once stopping (or off), decisions still under way end quietly: no
    // video thread starts and no failure follows the owner's stop or the
    // camera's cameraOff.
    if (routeAbandoned()) return;
    PocketLog::log(std::string("Camera Wi-Fi role: ") + toString(role));
    const Route accessPoint = Route::cameraAccessPoint(ssid, password);
    auto shared = shared_;

    if (!homeNetwork_) {
        if (role != StationRole::station) {
            startVideoThread(accessPoint);
            return;
        }
        setup_->switchBack([shared, accessPoint](bool backOnAccessPoint) {
            WirelessCamera* camera = shared->mainCamera();
            if (camera == nullptr || camera->routeAbandoned()) return;
            if (backOnAccessPoint) {
                camera->startVideoThread(accessPoint);
            } else {
                camera->emit(CameraEvent::failed(kStillOnAnotherNetwork));
            }
        });
        return;
    }

    if (role == StationRole::unsupported) {
        emit(CameraEvent::failed(HomeNetworkError::unsupportedRole().errorDescription()));
        return;
    }
    if (role == StationRole::station) {
        emit(CameraEvent::status("Finding the camera on " + homeNetwork_->ssid));
        findCamera(ssid, shared_->env.timings.stationSearch, [shared, role, ssid](std::optional<std::string> host) {
            WirelessCamera* camera = shared->mainCamera();
            if (camera == nullptr || camera->routeAbandoned()) return;
            if (host) {
                camera->startVideoThread(Route::homeNetwork(*host));
            } else {
                camera->moveCamera(role, ssid);
            }
        });
        return;
    }
    moveCamera(role, ssid);
}

void WirelessCamera::moveCamera(StationRole role, const std::string& ssid) {
    auto shared = shared_;
    probedHost_.reset();
    // One sweep while the camera joins the home network in silence: it may
    // already be there although its answer was lost.
    HomeNetworkSetup::Probe probe = [shared, ssid](std::function<void(bool)> done) {
        WirelessCamera* camera = shared->mainCamera();
        if (camera == nullptr) {
            done(false);
            return;
        }
        camera->findCamera(ssid, Duration::zero(), [shared, done](std::optional<std::string> host) {
            if (WirelessCamera* current = shared->mainCamera()) current->probedHost_ = host;
            done(host.has_value());
        });
    };
    setup_->moveCamera(*homeNetwork_, role, std::move(probe), [shared, ssid](Result<void, HomeNetworkError> moved) {
        WirelessCamera* camera = shared->mainCamera();
        if (camera == nullptr || camera->routeAbandoned()) return;
        if (!moved.has_value()) {
            camera->emit(CameraEvent::failed(moved.error().errorDescription()));
            return;
        }
        const std::string home = camera->homeNetwork_->ssid;
        camera->emit(CameraEvent::status("Finding the camera on " + home));
        if (camera->probedHost_) {
            camera->startVideoThread(Route::homeNetwork(*camera->probedHost_));
            return;
        }
        camera->findCamera(ssid, shared->env.timings.movedSearch, [shared, home](std::optional<std::string> host) {
            WirelessCamera* current = shared->mainCamera();
            if (current == nullptr || current->routeAbandoned()) return;
            if (host) {
                current->startVideoThread(Route::homeNetwork(*host));
            } else {
                current->emit(CameraEvent::failed(HomeNetworkError::notFound(home).errorDescription()));
            }
        });
    });
}

void WirelessCamera::findCamera(const std::string& ssid, Duration timeout, HostHandler done) {
    struct Search {
        std::string ssid;
        TimePoint deadline;
        HostHandler done;
    };
    auto search = std::make_shared<Search>(Search{ssid, main_.clock().now() + timeout, std::move(done)});
    auto shared = shared_;
    // One sweep, then (before the deadline) a pause and the next; with a
    // time-out of zero exactly one sweep. The deadline is on the monotonic
    // clock, so a change of the wall clock cannot stretch or cut a search.
    auto step = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weakStep = step;
    *step = [shared, search, weakStep] {
        WirelessCamera* camera = shared->mainCamera();
        if (camera == nullptr) return;
        if (shared->gate.stopped()) {
            search->done(std::nullopt);
            return;
        }
        auto again = weakStep.lock();
        camera->sweepOnce(search->ssid, [shared, search, again](std::optional<std::string> host) {
            WirelessCamera* current = shared->mainCamera();
            if (current == nullptr) return;
            if (host) {
                PocketLog::log("Home Wi-Fi: camera found at " + *host);
                search->done(host);
                return;
            }
            if (current->main_.clock().now() >= search->deadline) {
                search->done(std::nullopt);
                return;
            }
            current->main_.after(shared->env.timings.sweepPause, [shared, search, again] {
                WirelessCamera* later = shared->mainCamera();
                if (later == nullptr) return;
                if (later->main_.clock().now() < search->deadline && !shared->gate.stopped() && again) {
                    (*again)();
                } else {
                    search->done(std::nullopt);
                }
            });
        });
    };
    (*step)();
}

void WirelessCamera::sweepOnce(const std::string& ssid, HostHandler done) {
    // The handler stays here, on the main executor: the worker hands back
    // only the sweep's number and its result, so nothing of the procedure
    // is ever released on the worker's thread.
    const uint64_t id = nextSweep_++;
    sweepHandlers_.emplace(id, std::move(done));
    auto shared = shared_;
    auto frame = pairingFrameBytes(shared_->identifier);
    startWorker(Job::sweep, kProbeQueue.label, [shared, frame, ssid, id](uint64_t serial) {
        auto host = findCameraOnLAN(*shared, frame, ssid);
        shared->postToCamera([serial, id, host](WirelessCamera& camera) {
            camera.workerEnded(serial);
            auto found = camera.sweepHandlers_.find(id);
            if (found == camera.sweepHandlers_.end()) return;
            HostHandler handler = std::move(found->second);
            camera.sweepHandlers_.erase(found);
            handler(host);
        });
    });
}

void WirelessCamera::startVideoThread(const Route& route) {
    // A camera that went off keeps its stop flag set and never runs a second
    // session; the owner builds a new camera.
    if (routeAbandoned()) return;
    auto shared = shared_;
    auto frame = pairingFrameBytes(shared_->identifier);
    startWorker(Job::video, kVideoThread.label, [shared, route, frame](uint64_t serial) {
        std::optional<Route> retry;
        if (runVideoLink(*shared, route, frame)) retry = route;
        shared->postToCamera([serial, retry](WirelessCamera& camera) { camera.videoThreadEnded(serial, retry); });
    });
}

// --- Worker bodies ----------------------------------------------------------

std::optional<std::string> WirelessCamera::findCameraOnLAN(Shared& shared, const std::optional<Bytes>& frame,
                                                           const std::string& ssid) {
    const NetworkEnvironment& env = shared.env;
    const std::string& device = shared.wifi.device();
    auto connector = env.tcpConnectors(device);
    const auto hosts = sweepSubnet(*connector, *env.interfaceAddresses, device, env.timings.sweepHostLimit,
                                   env.timings.sweep, &shared.gate.flag());
    PocketLog::logf("Home Wi-Fi sweep: %zu device(s) answering on port 7001", hosts.size());
    for (const std::string& host : hosts) {
        if (shared.gate.stopped()) break;
        if (frame) {
            sendBootstrapFrame(*connector, *frame, host, env.tcpPort, env.timings.bootstrap);
        }
        DumlUDPLink link(env.datagramTransports(), UdpEndpoint{host, env.udpPort, device}, env.timings.link);
        if (!link.open(&shared.gate.flag())) {
            continue;
        }
        auto reported = link.verifyCamera(env.timings.verifyTimeout);
        link.close();
        if (reported == ssid) {
            return host;
        }
        PocketLog::log(host + " is not this camera");
    }
    return std::nullopt;
}

bool WirelessCamera::runVideoLink(Shared& shared, const Route& route, const std::optional<Bytes>& frame) {
    const NetworkEnvironment& env = shared.env;
    const bool accessPoint = route.kind == Route::Kind::cameraAccessPoint;
    const std::string& device = shared.wifi.device();
    auto emit = [&shared](const CameraEvent& event) { shared.emitFromWorker(event); };

    std::string host = route.host;
    bool reached = true;
    bool computerFailed = false;
    if (accessPoint) {
        emit(CameraEvent::status("Joining camera Wi-Fi " + route.ssid));
        const WiFiJoinResult joined = shared.wifi.join(route.ssid, route.password);
        if (joined.joined()) {
            host = env.cameraHost;
        } else {
            reached = false;
            // After a stop the owner has left: the join's end is only logged.
            if (auto message = joined.failureMessage(); !message.empty() && !shared.gate.stopped()) {
                // nmcli that cannot run or does not answer says nothing of
                // the camera, which is still reachable over Bluetooth.
                computerFailed = joined.outcome == WiFiJoinOutcome::toolUnavailable ||
                                 joined.outcome == WiFiJoinOutcome::toolTimedOut;
                emit(computerFailed ? CameraEvent::computerFailed(message) : CameraEvent::failed(message));
            }
        }
    }

    if (reached) {
        // One assembler and one decoder for every attempt of this thread.
        auto decoder = env.hevcDecoders();
        decoder->setOnFrame([&shared](const VideoFrame& picture) {
            shared.withCamera([&picture](WirelessCamera& camera) { camera.callOnVideoSample(picture); });
        });
        HevcStreamAssembler assembler;
        assembler.setOnSample([&decoder](const HevcSample& sample) { decoder->decode(sample); });
        auto connector = env.tcpConnectors(device);

        WirelessVideoSession::Handlers handlers;
        handlers.emitStatus = [&emit](const std::string& text) { emit(CameraEvent::status(text)); };
        handlers.emitStats = [&emit](const CameraStats& stats) { emit(CameraEvent::stats(stats)); };
        handlers.emitTelemetry = [&emit](const CameraEvent& event) { emit(event); };

        bool lastOpened = true;
        bool attemptsUsedUp = true;
        for (int attempt = 1; attempt <= env.timings.linkAttempts; ++attempt) {
            if (shared.gate.stopped()) {
                attemptsUsedUp = false;
                break;
            }
            if (attempt == 1) {
                emit(CameraEvent::status("Opening video link"));
            } else {
                emit(CameraEvent::status("Restarting video link (attempt " + std::to_string(attempt) + ")"));
                if (!shared.gate.pause(env.timings.restartPause)) {
                    attemptsUsedUp = false;
                    break;
                }
            }
            if (frame) {
                sendBootstrapFrame(*connector, *frame, host, env.tcpPort, env.timings.bootstrap);
            }
            DumlUDPLink link(env.datagramTransports(), UdpEndpoint{host, env.udpPort, device}, env.timings.link);
            lastOpened = link.open(&shared.gate.flag());
            if (!lastOpened) {
                continue;
            }
            WirelessVideoSession session(link, assembler, shared.gimbal, shared.commands, shared.gate.flag(),
                                         handlers, env.timings.session);
            if (!session.run()) {
                attemptsUsedUp = false;
                break;
            }
        }
        // Without this the camera would only report cameraOff, and the
        // owner would reconnect in silence for ever.
        if (attemptsUsedUp && !lastOpened && !shared.gate.stopped()) {
            emit(CameraEvent::failed(kLinkNotOpened));
        }
    }

    if (accessPoint) {
        // Also after a failed join: leave no profile behind and the radio
        // as it was.
        shared.wifi.forget(route.ssid);
        shared.wifi.powerOff();
    }
    return computerFailed;
}

}  // namespace hollowkit
