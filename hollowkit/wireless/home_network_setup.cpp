#include "hollowkit/wireless/home_network_setup.h"

#include <algorithm>
#include <cctype>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_text.h"
#include "hollowkit/wireless/pocket_bluetooth_link.h"

namespace hollowkit {
namespace {

const Bytes kAccepted{0x00, 0x00};
const Bytes kAcceptedShort{0x00};
const Bytes kJoinedLong{0x00, 0x00, 0x00};
const Bytes kJoinNotYet{0x01, 0xFF};

std::optional<Bytes> payloadOf(const std::optional<DumlFrame>& reply) {
    return reply ? std::optional<Bytes>(reply->payload) : std::nullopt;
}

}  // namespace

// Common ground of the two operations: the setup they belong to, held
// weakly, its sleeps and exchanges. Each pending step holds the operation.
class HomeNetworkSetup::MoveOperation : public std::enable_shared_from_this<MoveOperation> {
public:
    MoveOperation(HomeNetworkSetup& setup, HomeNetwork home, StationRole role, Probe probe,
                  MoveCompletion completion)
        : main_(setup.main_),
          anchor_(setup.anchor_),
          home_(std::move(home)),
          role_(role),
          probe_(std::move(probe)),
          completion_(std::move(completion)) {}

    void start() {
        auto valid = validate(home_);
        if (!valid.has_value()) {
            // Completions never run inside the call that started the move.
            auto self = shared_from_this();
            main_.post([self, error = valid.error()] {
                if (self->setup()) self->finish(unexpected(error));
            });
            return;
        }
        switchToVideoMode();
    }

    void cancel() {
        main_.cancel(sleepTimer_);
        finish(unexpected(HomeNetworkError::cancelled()));
    }

private:
    HomeNetworkSetup* setup() const {
        auto anchor = anchor_.lock();
        return anchor ? anchor->setup : nullptr;
    }

    // The setup still exists and the move has not ended.
    bool live() const { return !finished_ && setup() != nullptr; }

    // False when the handler ended the setup or the move.
    bool status(const std::string& text) {
        if (HomeNetworkSetup* owner = setup(); owner && owner->status_) {
            StatusHandler handler = owner->status_;
            handler(text);
        }
        return live();
    }

    void sleep(Duration delay, void (MoveOperation::*next)()) {
        auto self = shared_from_this();
        sleepTimer_ = main_.after(delay, [self, next] {
            self->sleepTimer_ = 0;
            if (self->live()) (self.get()->*next)();
        });
    }

    void exchange(const DumlFrame& frame, Duration timeout, void (MoveOperation::*next)(std::optional<DumlFrame>)) {
        HomeNetworkSetup* owner = setup();
        if (!owner) return;
        auto self = shared_from_this();
        owner->exchange(frame, timeout, [self, next](std::optional<DumlFrame> reply) {
            if (self->live()) (self.get()->*next)(std::move(reply));
        });
    }

    void finish(Result<void, HomeNetworkError> result) {
        if (finished_) return;
        finished_ = true;
        MoveCompletion completion = std::move(completion_);
        if (completion) completion(std::move(result));
    }

    void fail(HomeNetworkError error) { finish(unexpected(std::move(error))); }

    // Step 1: video mode, so the camera's Wi-Fi settings can change.
    void switchToVideoMode() {
        if (!status("Switching the camera to Video mode")) return;
        setup()->bluetooth_.write(DumlConstants::videoModeFrame());
        sleep(kVideoModePause, &MoveOperation::leaveAccessPoint);
    }

    // Steps 2 and 3.
    void leaveAccessPoint() {
        if (role_ == StationRole::station) {
            waitForWiFi();
            return;
        }
        if (!status("Moving the camera onto " + home_.ssid)) return;
        exchange(accessPointFrame(true), kAccessPointRequestTimeout, &MoveOperation::readLeaveReply);
    }

    void readLeaveReply(std::optional<DumlFrame> reply) {
        const std::optional<Bytes> payload = payloadOf(reply);
        if (payload == kAccepted && role_ == StationRole::accessPoint) {
            roleQueries_ = 0;
            queryRole();
        } else if (payload == kAccepted || (payload == kAcceptedShort && role_ == StationRole::unknownButSettable)) {
            waitForWiFi();
        } else {
            fail(HomeNetworkError::roleRefused());
        }
    }

    // Step 4: wait for the access point to end.
    void queryRole() {
        ++roleQueries_;
        exchange(DumlConstants::wifiRoleQueryFrame(), kRoleQueryTimeout, &MoveOperation::readRole);
    }

    void readRole(std::optional<DumlFrame> reply) {
        switch (stationRoleFromReply(reply)) {
        case StationRole::station:
            waitForWiFi();
            break;
        case StationRole::accessPoint:
            sleep(kRoleQueryPause, roleQueries_ < kLeaveRoleQueries ? &MoveOperation::queryRole
                                                                    : &MoveOperation::failRoleStarting);
            break;
        case StationRole::unknownButSettable:
        case StationRole::unsupported:
            fail(HomeNetworkError::unsupportedRole());
            break;
        }
    }

    void failRoleStarting() { fail(HomeNetworkError::roleStarting()); }

    void waitForWiFi() {
        if (!status("Waiting for the camera's Wi-Fi")) return;
        attempt_ = 0;
        sleep(kWiFiStartWait, &MoveOperation::join);
    }

    // Step 5: join, attempts 1 to 3.
    void join() {
        ++attempt_;
        if (!status("Joining " + home_.ssid + " (attempt " + std::to_string(attempt_) + " of " +
                    std::to_string(kJoinAttempts) + ")")) {
            return;
        }
        auto frame = joinFrame(home_);
        if (!frame.has_value()) {  // validated at the start; kept as a guard
            fail(frame.error());
            return;
        }
        exchange(frame.value(), kJoinTimeout, &MoveOperation::readJoinReply);
    }

    void readJoinReply(std::optional<DumlFrame> reply) {
        if (!reply) {
            PocketLog::log("Home Wi-Fi join: no reply, probing the network");
            runProbe();
            return;
        }
        PocketLog::log("Home Wi-Fi join reply: " + hexString(reply->payload, " "));
        if (reply->payload == kAccepted || reply->payload == kJoinedLong) {
            finish({});
        } else if (reply->payload == kJoinNotYet && attempt_ < kJoinAttempts) {
            if (!status("Retrying the Wi-Fi connection")) return;
            sleep(kJoinRetryPause, &MoveOperation::join);
        } else {
            fail(HomeNetworkError::joinRejected(home_.ssid));
        }
    }

    void runProbe() {
        if (!probe_) {
            probed(false);
            return;
        }
        auto self = shared_from_this();
        Executor& main = main_;
        probe_([self, &main](bool found) {
            main.post([self, found] {
                if (self->live()) self->probed(found);
            });
        });
    }

    void probed(bool found) {
        if (found) {
            finish({});
        } else if (attempt_ < kJoinAttempts) {
            sleep(kJoinRetryPause, &MoveOperation::join);
        } else {
            fail(HomeNetworkError::joinSilent());
        }
    }

    Executor& main_;
    std::weak_ptr<Anchor> anchor_;
    const HomeNetwork home_;
    const StationRole role_;
    Probe probe_;
    MoveCompletion completion_;
    TaskId sleepTimer_ = 0;
    int roleQueries_ = 0;
    int attempt_ = 0;
    bool finished_ = false;
};

class HomeNetworkSetup::SwitchBackOperation : public std::enable_shared_from_this<SwitchBackOperation> {
public:
    SwitchBackOperation(HomeNetworkSetup& setup, SwitchBackCompletion completion)
        : main_(setup.main_), anchor_(setup.anchor_), completion_(std::move(completion)) {}

    void start() {
        HomeNetworkSetup* owner = setup();
        if (owner->status_) {
            StatusHandler handler = owner->status_;
            handler("Switching the camera back to its own Wi-Fi");
        }
        auto self = shared_from_this();
        if (!setup()) return;
        setup()->exchange(accessPointFrame(false), kAccessPointRequestTimeout,
                          [self](std::optional<DumlFrame> reply) {
                              if (!self->setup()) return;
                              const std::optional<Bytes> payload = payloadOf(reply);
                              if (payload != kAccepted && payload != kAcceptedShort) {
                                  self->finish(false);
                              } else {
                                  self->pauseThenQuery();
                              }
                          });
    }

private:
    HomeNetworkSetup* setup() const {
        auto anchor = anchor_.lock();
        return anchor ? anchor->setup : nullptr;
    }

    void pauseThenQuery() {
        auto self = shared_from_this();
        main_.after(kRoleQueryPause, [self] {
            HomeNetworkSetup* owner = self->setup();
            if (!owner) return;
            ++self->queries_;
            owner->exchange(DumlConstants::wifiRoleQueryFrame(), kRoleQueryTimeout,
                            [self](std::optional<DumlFrame> reply) {
                                if (!self->setup()) return;
                                if (stationRoleFromReply(reply) == StationRole::accessPoint) {
                                    self->finish(true);
                                } else if (self->queries_ < kReturnRoleQueries) {
                                    self->pauseThenQuery();
                                } else {
                                    self->finish(false);
                                }
                            });
        });
    }

    void finish(bool backOnAccessPoint) {
        SwitchBackCompletion completion = std::move(completion_);
        if (completion) completion(backOnAccessPoint);
    }

    Executor& main_;
    std::weak_ptr<Anchor> anchor_;
    SwitchBackCompletion completion_;
    int queries_ = 0;
};

HomeNetworkSetup::HomeNetworkSetup(Executor& main, PocketBluetoothLink& bluetooth, StatusHandler status)
    : main_(main), bluetooth_(bluetooth), status_(std::move(status)), anchor_(std::make_shared<Anchor>(Anchor{this})) {}

HomeNetworkSetup::~HomeNetworkSetup() {
    anchor_->setup = nullptr;
}

void HomeNetworkSetup::exchange(const DumlFrame& frame, Duration timeout, ExchangeHandler handler) {
    std::weak_ptr<Anchor> weak = anchor_;
    bluetooth_.request(frame, timeout, [weak, handler = std::move(handler)](std::optional<DumlFrame> reply) {
        auto anchor = weak.lock();
        if (anchor && anchor->setup && handler) handler(std::move(reply));
    });
}

void HomeNetworkSetup::moveCamera(const HomeNetwork& home, StationRole role, Probe probe,
                                  MoveCompletion completion) {
    auto operation = std::make_shared<MoveOperation>(*this, home, role, std::move(probe), std::move(completion));
    std::erase_if(moves_, [](const std::weak_ptr<MoveOperation>& move) { return move.expired(); });
    moves_.push_back(operation);
    operation->start();
}

void HomeNetworkSetup::switchBack(SwitchBackCompletion completion) {
    auto operation = std::make_shared<SwitchBackOperation>(*this, std::move(completion));
    operation->start();
}

void HomeNetworkSetup::cancel() {
    std::weak_ptr<Anchor> guard = anchor_;
    auto moves = std::move(moves_);
    moves_.clear();
    for (auto& weak : moves) {
        if (auto move = weak.lock()) move->cancel();
        auto anchor = guard.lock();
        if (!anchor || !anchor->setup) return;
    }
}

Result<void, HomeNetworkError> HomeNetworkSetup::validate(const HomeNetwork& home) {
    if (home.ssid.empty() || home.ssid.size() > kMaxSsidBytes) {
        return unexpected(HomeNetworkError::invalidSsid(home.ssid));
    }
    const bool rawKey = home.password.size() == kRawKeyHexDigits &&
                        std::all_of(home.password.begin(), home.password.end(),
                                    [](unsigned char c) { return std::isxdigit(c) != 0; });
    if (home.password.size() > kMaxPassphraseBytes && !rawKey) {
        return unexpected(HomeNetworkError::invalidPassword(home.ssid));
    }
    return {};
}

Result<DumlFrame, HomeNetworkError> HomeNetworkSetup::joinFrame(const HomeNetwork& home) {
    auto valid = validate(home);
    if (!valid.has_value()) {
        return unexpected(valid.error());
    }
    auto ssid = lengthPrefixedString(home.ssid);
    auto password = lengthPrefixedString(home.password);
    if (!ssid.has_value() || !password.has_value()) {  // unreachable after validate()
        return unexpected(HomeNetworkError::invalidPassword(home.ssid));
    }
    Bytes payload = std::move(ssid).value();
    payload.insert(payload.end(), password.value().begin(), password.value().end());
    return DumlFrame::makeRequest(0x0702, 0x8047, 0x07, 0x47, std::move(payload));
}

DumlFrame HomeNetworkSetup::accessPointFrame(bool leave) {
    return DumlFrame::makeRequest(0x0702, 0x8048, 0x07, 0x48, Bytes{static_cast<uint8_t>(leave ? 0x01 : 0x00)});
}

}  // namespace hollowkit
