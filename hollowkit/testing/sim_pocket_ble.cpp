#include "hollowkit/testing/sim_pocket_ble.h"

#include <algorithm>

#include "hollowkit/camera/duml_text.h"

namespace hollowkit {
namespace {

constexpr uint16_t kMakerCompanyId = 0x08AA;
const BleUuid& serviceUuid() {
    static const BleUuid uuid = BleUuid::fromShort(0xFFF0);
    return uuid;
}
const BleUuid& notifyUuid() {
    static const BleUuid uuid = BleUuid::fromShort(0xFFF4);
    return uuid;
}
const BleUuid& writeUuid() {
    static const BleUuid uuid = BleUuid::fromShort(0xFFF5);
    return uuid;
}

// The camera's own address and the app's, as the camera's frames carry them.
constexpr uint8_t kCameraAddress = 0x07;
constexpr uint8_t kAppAddress = 0x02;

}  // namespace

SimPocketBle::SimPocketBle(Executor& main, Config config)
    : main_(main), config_(std::move(config)), station_(config_.startsAsStation) {}

SimPocketBle::~SimPocketBle() {
    *alive_ = false;
}

BlePeripheral SimPocketBle::identity() const {
    return BlePeripheral{config_.id, config_.deviceName};
}

BleAdvertisement SimPocketBle::advertisement() const {
    BleAdvertisement advertisement;
    advertisement.localName = config_.localName;
    advertisement.manufacturerData.push_back(BleManufacturerData{kMakerCompanyId, config_.manufacturerData});
    return advertisement;
}

std::optional<BleError> SimPocketBle::connectError() const {
    if (config_.connectError) return BleError{*config_.connectError};
    return std::nullopt;
}

std::vector<FakeGattPeripheral::Service> SimPocketBle::services() const {
    // A standard service first, so the camera's is not simply the only one.
    std::vector<Service> services{Service{BleUuid::fromShort(0x180A), {{BleUuid::fromShort(0x2A29), BleProperty::kRead}}}};
    if (config_.offerService) {
        Service camera{serviceUuid(), {}};
        if (config_.offerNotifyCharacteristic) {
            camera.characteristics.push_back({notifyUuid(), BleProperty::kNotify | BleProperty::kWrite});
        }
        if (config_.offerWriteCharacteristic) {
            camera.characteristics.push_back({writeUuid(), BleProperty::kWriteWithoutResponse | BleProperty::kNotify});
        }
        services.push_back(std::move(camera));
    }
    return services;
}

void SimPocketBle::connected(Port& port) {
    port_ = &port;
    ++session_;
    ++connections_;
    armed_ = false;
    subscribed_ = false;
    dropsAt(Step::connect);
}

void SimPocketBle::disconnected() {
    port_ = nullptr;
    armed_ = false;
    ++session_;
}

bool SimPocketBle::dropsAt(Step step) {
    if (config_.disconnectAt != step || step == Step::none || !port_) return false;
    config_.disconnectAt = Step::none;  // once
    port_->disconnect(BleError{"The camera went away."});
    return true;
}

int SimPocketBle::count(const std::string& key) const {
    return static_cast<int>(std::count_if(received_.begin(), received_.end(), [&](const DumlFrame& frame) {
        return frame.flags == DumlFrame::kRequestFlags && frame.commandKey() == key;
    }));
}

// MARK: GATT

std::optional<BleError> SimPocketBle::setNotify(const BleUuid&, bool) {
    if (config_.notifyError) return BleError{*config_.notifyError};
    if (!subscribed_) {
        subscribed_ = true;
        dropsAt(Step::notifySetup);
    }
    return std::nullopt;
}

std::optional<BleError> SimPocketBle::write(const BleUuid& characteristic, ByteView value, BleWriteType type) {
    if (characteristic == notifyUuid() && type == BleWriteType::withResponse) {
        if (value.size() == 2 && value[0] == 0x01 && value[1] == 0x00) {
            if (dropsAt(Step::arming)) return std::nullopt;
            if (config_.armError) return BleError{*config_.armError};
            armed_ = true;
        }
        return std::nullopt;
    }
    if (characteristic != writeUuid() || !armed_) {
        return std::nullopt;  // nothing is carried before the arming write
    }
    for (DumlFrame& frame : DumlFrame::parseAll(value)) {
        received_.push_back(frame);
        if (frame.flags == DumlFrame::kRequestFlags) {
            handleRequest(frame);
        } else if (frame.isReply() && frame.commandKey() == "07/46") {
            ++approvalAnswers_;
            if (!pendingApproval_ || frame != DumlFrame::makeReply(*pendingApproval_, pendingApproval_->payload)) {
                ++wrongApprovalAnswers_;
            }
            dropsAt(Step::approvalAnswer);
        }
        if (!port_) break;
    }
    return std::nullopt;
}

// MARK: Requests

void SimPocketBle::handleRequest(const DumlFrame& frame) {
    const std::string key = frame.commandKey();
    if (key == "00/2B") {
        if (frame.payload == Bytes{0x04, 0x00}) {
            ++announces_;
            dropsAt(Step::announce);
        } else if (frame.payload == Bytes{0x01, 0x01}) {
            ++keepAlives_;
            dropsAt(Step::keepAlive);
        }
    } else if (key == "07/45") {
        ByteReader reader(frame.payload);
        auto identifier = readLengthPrefixedString(reader);
        auto tag = readLengthPrefixedString(reader);
        pairingIdentifiers_.push_back(identifier && tag == "plix" ? *identifier : std::string("<malformed>"));
        if (dropsAt(Step::pairingRequest)) return;
        const bool known = identifier && config_.pairedIdentifiers.count(*identifier);
        switch (config_.pairingReply) {
        case PairingReply::status:
            reply(frame, Bytes{0x00, static_cast<uint8_t>(known ? 1 : 2)});
            break;
        case PairingReply::shortStatus:
            reply(frame, Bytes{0x00});
            break;
        case PairingReply::silent:
            break;
        }
    } else if (key == "53/10") {
        if (dropsAt(Step::wifiWake)) return;
        reply(frame, config_.wakeReply);
    } else if (key == "07/07") {
        if (dropsAt(Step::nameQuery) || !config_.answerNameQuery) return;
        auto payload = asciiStringPayload(config_.ssid);
        reply(frame, payload.has_value() ? std::optional<Bytes>(payload.value()) : std::nullopt);
    } else if (key == "07/0E") {
        if (dropsAt(Step::passwordQuery) || !config_.answerPasswordQuery) return;
        auto payload = asciiStringPayload(config_.password);
        reply(frame, payload.has_value() ? std::optional<Bytes>(payload.value()) : std::nullopt);
    } else if (key == "02/E1") {
        dropsAt(Step::videoMode);
    } else if (key == "07/39") {
        if (dropsAt(Step::roleQuery)) return;
        answerRoleQuery(frame);
    } else if (key == "07/48") {
        if (dropsAt(Step::accessPoint)) return;
        bool scripted = false;
        auto answer = nextScripted(accessPointReplies, scripted);
        if (scripted) {
            reply(frame, answer);
            return;
        }
        reply(frame, Bytes{0x00, 0x00});
        switchToStation_ = frame.payload == Bytes{0x01};
        switchCountdown_ = config_.roleQueriesBeforeSwitch;
        if (switchCountdown_ <= 0) {
            station_ = switchToStation_;
            switchCountdown_ = -1;
        }
    } else if (key == "07/47") {
        ByteReader reader(frame.payload);
        auto ssid = readLengthPrefixedString(reader);
        auto password = readLengthPrefixedString(reader);
        joinRequests_.emplace_back(ssid.value_or("<malformed>"), password.value_or("<malformed>"));
        if (dropsAt(Step::join)) return;
        bool scripted = false;
        auto answer = nextScripted(joinReplies, scripted);
        if (!scripted) {
            answer = Bytes{0x00, 0x00};
        }
        if (answer == Bytes{0x00, 0x00} || answer == Bytes{0x00, 0x00, 0x00}) {
            station_ = true;
        }
        reply(frame, answer);
    }
}

void SimPocketBle::answerRoleQuery(const DumlFrame& frame) {
    bool scripted = false;
    auto answer = nextScripted(roleReplies, scripted);
    if (scripted) {
        reply(frame, answer);
        return;
    }
    reply(frame, station_ ? Bytes{0x00, 0x01} : Bytes{0x00, 0x00});
    if (switchCountdown_ > 0 && --switchCountdown_ == 0) {
        station_ = switchToStation_;
        switchCountdown_ = -1;
    }
}

std::optional<Bytes> SimPocketBle::nextScripted(std::deque<std::optional<Bytes>>& script, bool& scripted) {
    scripted = !script.empty();
    if (!scripted) return std::nullopt;
    std::optional<Bytes> next = std::move(script.front());
    script.pop_front();
    return next;
}

void SimPocketBle::reply(const DumlFrame& request, std::optional<Bytes> payload) {
    if (!payload) return;  // silence
    DumlFrame answer = DumlFrame::makeReply(request, std::move(*payload));
    auto wire = answer.encoded();
    if (!wire.has_value()) return;
    sent_.push_back(answer);
    notifyLater(std::move(wire).value());
}

void SimPocketBle::notifyLater(Bytes bytes) {
    std::weak_ptr<bool> alive = alive_;
    main_.after(config_.replyDelay, [this, alive, session = session_, bytes = std::move(bytes)] {
        if (alive.expired() || !port_ || session != session_) return;
        sendRaw(bytes);
    });
}

// MARK: Test actions

void SimPocketBle::sendRaw(Bytes bytes) {
    if (!port_) return;
    const size_t chunk = config_.notificationChunk == 0 ? bytes.size() : config_.notificationChunk;
    for (size_t offset = 0; offset < bytes.size() && port_; offset += chunk) {
        const size_t length = std::min(chunk, bytes.size() - offset);
        port_->notify(notifyUuid(), Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                          bytes.begin() + static_cast<std::ptrdiff_t>(offset + length)));
    }
}

void SimPocketBle::sendFrame(const DumlFrame& frame) {
    auto wire = frame.encoded();
    if (!wire.has_value()) return;
    sent_.push_back(frame);
    sendRaw(std::move(wire).value());
}

void SimPocketBle::approvePairing() {
    DumlFrame request;
    request.target = DumlFrame::makeTarget(kCameraAddress, kAppAddress);
    request.id = nextRequestId_++;
    request.flags = DumlFrame::kRequestFlags;
    request.cmdSet = 0x07;
    request.cmdId = 0x46;
    request.payload = Bytes{0x00, 0x01};  // echoed back by the app's answer
    pendingApproval_ = request;
    sendFrame(request);
}

void SimPocketBle::pushBattery(int percent, bool charging) {
    DumlFrame push;
    push.target = DumlFrame::makeTarget(0x0B, kAppAddress);
    push.id = nextRequestId_++;
    push.flags = 0x00;  // a push: flags 0x40 would make it a request
    push.cmdSet = 0x0D;
    push.cmdId = 0x02;
    push.payload.assign(33, 0x00);
    push.payload[20] = static_cast<uint8_t>(percent);
    push.payload[32] = charging ? 1 : 0;
    sendFrame(push);
}

void SimPocketBle::dropConnection(std::string reason) {
    if (port_) port_->disconnect(BleError{std::move(reason)});
}

}  // namespace hollowkit
