#include "hollowkit/testing/sim_pocket_udp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_text.h"
#include "hollowkit/testing/hevc_test_stream.h"

namespace hollowkit {
namespace {

constexpr uint8_t kUdpAppAddress = 0x02;
constexpr size_t kReliablePrefix = 12;
constexpr size_t kMinimumVideoDatagram = 40;
constexpr char kSyntheticTag[] = "SYNT";
// A start that lies this many frames behind is not caught up in a burst.
constexpr int kMaxFrameBacklog = 5;

void putU16(Bytes& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void putU32(Bytes& bytes, size_t offset, uint32_t value) {
    putU16(bytes, offset, static_cast<uint16_t>(value));
    putU16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t nonZeroIncrement(uint16_t& sequence) {
    ++sequence;
    if (sequence == 0) {
        ++sequence;
    }
    return sequence;
}

double wrapYawDegrees(double degrees) {
    degrees = std::fmod(degrees + 180.0, 360.0);
    if (degrees < 0) {
        degrees += 360.0;
    }
    return degrees - 180.0;
}

}  // namespace

SimPocketUdp::SimPocketUdp(SimPocketUdpOptions options) : options_(std::move(options)) {
    battery_ = options_.battery;
}

// --- Synthetic live view

Bytes SimPocketUdp::syntheticAccessUnit(int index, int irapEvery, size_t size) {
    Bytes unit;
    auto nal = [&unit](uint8_t type, std::string_view body) {
        const uint8_t header[] = {0x00, 0x00, 0x00, 0x01, static_cast<uint8_t>(type << 1), 0x01};
        unit.insert(unit.end(), std::begin(header), std::end(header));
        unit.insert(unit.end(), body.begin(), body.end());
    };
    const bool irap = irapEvery > 0 && index % irapEvery == 0;
    if (irap) {
        nal(32, "vps");
        nal(33, "sps");
        nal(34, "pps");
    }
    char body[24];
    std::snprintf(body, sizeof(body), "%s%08X", kSyntheticTag, static_cast<unsigned>(index));
    nal(irap ? 19 : 1, body);
    // Padding free of zero bytes, so it never forms a start code.
    if (unit.size() < size) {
        unit.resize(size, 0xAA);
    }
    return unit;
}

std::optional<int> SimPocketUdp::syntheticIndex(ByteView accessUnit) {
    const size_t tagLength = std::strlen(kSyntheticTag);
    auto found = std::search(accessUnit.begin(), accessUnit.end(), kSyntheticTag, kSyntheticTag + tagLength);
    if (accessUnit.end() - found < static_cast<ptrdiff_t>(tagLength + 8)) {
        return std::nullopt;
    }
    std::string hex(found + tagLength, found + tagLength + 8);
    char* end = nullptr;
    const unsigned long value = std::strtoul(hex.c_str(), &end, 16);
    if (end != hex.c_str() + 8) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

bool SimPocketUdp::containsIrap(ByteView accessUnit) {
    for (size_t i = 0; i + 3 < accessUnit.size(); ++i) {
        if (accessUnit[i] == 0 && accessUnit[i + 1] == 0 && accessUnit[i + 2] == 1) {
            const int type = (accessUnit[i + 3] >> 1) & 0x3F;
            if (type >= 16 && type <= 21) {
                return true;
            }
        }
    }
    return false;
}

// --- Receiving

void SimPocketUdp::receive(ByteView datagram, TimePoint now) {
    MutexLock lock(mutex_);
    now_ = now;
    auto header = UdpPacketHeader::parse(datagram);
    if (!header) {
        ++malformed_;
        return;
    }
    if (!UdpPacketHeader::isWellFormed(datagram)) {
        ++malformed_;
    }

    if (header->type == UdpPacketType::handshake) {
        ++handshakes_;
        // A new session (a link restart) starts counting its attempts anew.
        if (handshakeSession_ != header->sessionId) {
            handshakeSession_ = header->sessionId;
            handshakeAttempts_ = 0;
        }
        ++handshakeAttempts_;
        if (options_.answerHandshakeOnAttempt == 0 || handshakeAttempts_ < options_.answerHandshakeOnAttempt) {
            return;
        }
        const bool newSession = session_ != header->sessionId;
        session_ = header->sessionId;
        if (newSession) {
            lastCommandSequence_.reset();
            lastStart_.reset();
            nextStatus_ = now;
            nextAttitude_ = now + options_.attitudeInterval;
            nextCard_ = now + options_.cardInterval;
            nextBattery_ = now + options_.batteryInterval;
        }
        Bytes answer(datagram.begin() + kUdpHeaderLength, datagram.end());
        queue(udpPacket(UdpPacketType::handshake, *session_, 0, answer), false);
        return;
    }

    if (!session_ || header->sessionId != *session_) {
        ++foreign_;
        return;
    }

    if (header->type == UdpPacketType::ack) {
        ++acks_;
        lastAck_ = AckRecord::parse(datagram);
        return;
    }
    if (header->type != UdpPacketType::command) {
        return;
    }
    auto command = CommandDatagram::parse(datagram);
    if (!command) {
        ++malformed_;
        return;
    }
    const uint16_t expected = static_cast<uint16_t>(lastCommandSequence_.value_or(options_.channel) + 8);
    if (command->header.sequence != expected || command->prefix.sequence != command->header.sequence) {
        ++sequenceViolations_;
    }
    lastCommandSequence_ = command->header.sequence;
    for (const DumlFrame& frame : command->frames) {
        commands_.push_back(SimReceivedCommand{now, command->header, command->prefix, frame});
        handleCommandFrame(frame, now);
    }
}

void SimPocketUdp::handleCommandFrame(const DumlFrame& frame, TimePoint now) {
    const std::string key = frame.commandKey();
    Bytes success{0x00};

    if (key == "00/88") {
        const bool wasRunning = lastStart_ && now - *lastStart_ <= options_.liveViewHold;
        lastStart_ = now;
        if (!wasRunning) {
            nextFrame_ = now;
        }
    } else if (key == "04/01") {
        if (frame.payload.size() >= 6) {
            integrateGimbal(now);
            speed_ = {uint16LE(frame.payload, 0) - GimbalVelocity::speedCenter,
                      uint16LE(frame.payload, 4) - GimbalVelocity::speedCenter};
            speedAt_ = now;
            speeds_.push_back(speed_);
        }
    } else if (key == "04/4C" && frame.payload.size() >= 2) {
        integrateGimbal(now);
        if (frame.payload[1] == 0x08) {
            attitude_.pitch = 0;
            attitude_.yaw = 0;
        } else if (frame.payload[1] == 0x09) {
            attitude_.yaw = wrapYawDegrees(attitude_.yaw + 180.0);
        }
    } else if (key == "02/02" && !frame.payload.empty()) {
        const bool start = frame.payload[0] == 0x01;
        if (start != card_.isRecording) {
            card_.isTransitioning = true;
            cardTransitionEnds_ = now + options_.cardTransition;
            pushCard();
        }
    } else if (key == "07/07") {
        success = asciiStringPayload(options_.ssid).value_or(Bytes{0x00, 0x00});
    }

    // Frames sent with command type 0 (speeds, stream bursts) and frames that
    // are themselves marked as replies want no answer.
    if (frame.isReply() || (frame.flags & 0x60) == 0) {
        return;
    }
    auto rule = rules_.find(key);
    const SimReplyRule chosen = rule == rules_.end() ? SimReplyRule::accept() : rule->second;
    switch (chosen.kind) {
    case SimReplyRule::Kind::accept:
        reply(frame, std::move(success));
        break;
    case SimReplyRule::Kind::reject:
        reply(frame, Bytes{chosen.code});
        break;
    case SimReplyRule::Kind::emptyPayload:
        reply(frame, Bytes{});
        break;
    case SimReplyRule::Kind::silent:
        break;
    }
}

void SimPocketUdp::reply(const DumlFrame& request, Bytes payload) {
    sendReliable(DumlFrame::makeReply(request, std::move(payload)));
}

void SimPocketUdp::sendReliable(const DumlFrame& frame) {
    auto encoded = frame.encoded();
    if (!encoded) {
        return;
    }
    Bytes body(kReliablePrefix, 0);
    putU16(body, 0, options_.channel);
    body.insert(body.end(), encoded->begin(), encoded->end());
    queue(udpPacket(UdpPacketType::reliable, *session_, nonZeroIncrement(reliableSequence_), body), false);
}

// --- Sending

// Raw engine output against the rate, so the draws do not depend on how a
// library maps them onto a distribution.
bool SimPocketUdp::draw(double rate) {
    return rate > 0 && static_cast<double>(random_()) < rate * 4294967296.0;
}

bool SimPocketUdp::queue(Bytes datagram, bool isVideo) {
    if (faults_.silent) {
        return false;
    }
    auto every = [](int n, int count) { return n > 0 && count % n == 0; };
    if (isVideo) {
        ++videoCount_;
        // Both draws happen for every datagram, so one rate does not shift
        // the other's pattern.
        const bool lose = draw(faults_.videoLossRate);
        const bool repeat = draw(faults_.videoDuplicateRate);
        if (every(faults_.dropVideoEvery, videoCount_) || lose) {
            return false;
        }
        if (every(faults_.reorderVideoEvery, videoCount_) && !heldBack_) {
            heldBack_ = std::move(datagram);
            return true;
        }
        if (every(faults_.duplicateVideoEvery, videoCount_) || repeat) {
            outgoing_.push_back(datagram);
            ++videoOnWire_;
        }
        ++videoOnWire_;
    }
    outgoing_.push_back(std::move(datagram));
    if (isVideo && heldBack_) {
        outgoing_.push_back(std::move(*heldBack_));
        heldBack_.reset();
        ++videoOnWire_;
    }

    ++outgoingCount_;
    if (session_ && every(faults_.foreignEvery, outgoingCount_)) {
        CameraStatusReport report{options_.channel, 1, 1, 1};
        outgoing_.push_back(report.datagram(static_cast<uint16_t>(*session_ + 1), 0));
    }
    if (every(faults_.shortEvery, outgoingCount_)) {
        outgoing_.push_back(Bytes{0x05, 0x80, 0x01, 0x02, 0x03});
    }
    if (session_ && every(faults_.oversizedEvery, outgoingCount_)) {
        Bytes big(20000, 0xAB);
        Bytes header = packetHeader(UdpPacketType::video, big.size() - kUdpHeaderLength, *session_, 0);
        std::copy(header.begin(), header.end(), big.begin());
        std::copy(std::begin(VideoDatagramLayout::kMarker), std::end(VideoDatagramLayout::kMarker),
                  big.begin() + VideoDatagramLayout::kPrefixLength);
        putU32(big, VideoDatagramLayout::kLengthOffset, 9u << 20);
        outgoing_.push_back(std::move(big));
    }
    return true;
}

void SimPocketUdp::sendAccessUnit(TimePoint) {
    if (options_.accessUnitLimit > 0 && frameIndex_ >= options_.accessUnitLimit) {
        return;
    }
    const int index = accessUnits_.empty() ? frameIndex_ : frameIndex_ % static_cast<int>(accessUnits_.size());
    ++frameIndex_;
    const Bytes unit = accessUnits_.empty() ? syntheticAccessUnit(index) : accessUnits_[index];
    const bool irap = containsIrap(unit);
    if (faults_.withholdIrap && irap) {
        return;
    }
    ++unitsSent_;
    unitIndices_.push_back(index);

    bool whole = true;
    for (Bytes& datagram : splitIntoVideoDatagrams(unit, std::max(options_.videoDatagramSize, kMinimumVideoDatagram))) {
        Bytes header = packetHeader(UdpPacketType::video, datagram.size() - kUdpHeaderLength, *session_,
                                    nextVideoNumber());
        std::copy(header.begin(), header.end(), datagram.begin());
        whole = queue(std::move(datagram), true) && whole;
    }
    picturesSent_.push_back({index, whole, irap});
}

uint16_t SimPocketUdp::nextVideoNumber() {
    ++videoNumbersGiven_;
    uint16_t step = std::max<uint16_t>(options_.videoNumberStep, 1);
    if (options_.videoNumberGapEvery > 0 && videoNumbersGiven_ % options_.videoNumberGapEvery == 0) {
        step = static_cast<uint16_t>(step + options_.videoNumberGap);
    }
    videoSequence_ = static_cast<uint16_t>(videoSequence_ + step);
    return videoSequence_ == 0 ? nonZeroIncrement(videoSequence_) : videoSequence_;
}

void SimPocketUdp::integrateGimbal(TimePoint now) {
    const TimePoint start = std::max(gimbalAt_, speedAt_);
    const TimePoint end = std::min(now, speedAt_ + options_.speedHold);
    if (end > start && !speed_.isZero()) {
        const double seconds = std::chrono::duration<double>(end - start).count();
        attitude_.pitch = std::clamp(attitude_.pitch + speed_.pitch * options_.degreesPerSecondPerUnit * seconds,
                                     -90.0, 90.0);
        attitude_.yaw = wrapYawDegrees(attitude_.yaw + speed_.yaw * options_.degreesPerSecondPerUnit * seconds);
    }
    gimbalAt_ = now;
}

void SimPocketUdp::pushAttitude() {
    ByteWriter payload;
    payload.i16(static_cast<int16_t>(std::lround(attitude_.pitch * 10)))
        .i16(static_cast<int16_t>(std::lround(attitude_.roll * 10)))
        .i16(static_cast<int16_t>(std::lround(attitude_.yaw * 10)));
    DumlFrame push;
    push.target = DumlFrame::makeTarget(DumlFrame::address(4, 0), kUdpAppAddress);
    push.id = nonZeroIncrement(pushId_);
    push.cmdSet = 0x04;
    push.cmdId = 0x05;
    push.payload = std::move(payload).take();
    sendReliable(push);
}

void SimPocketUdp::pushCard() {
    Bytes payload(31, 0);
    payload[0] = static_cast<uint8_t>((card_.isRecording ? 0x80 : 0) | (card_.isTransitioning ? 0x40 : 0));
    putU32(payload, 5, static_cast<uint32_t>(options_.card.totalMegabytes));
    putU32(payload, 9, static_cast<uint32_t>(options_.card.freeMegabytes));
    if (card_.isRecording && !card_.isTransitioning) {
        putU16(payload, 29, static_cast<uint16_t>(
                                std::chrono::duration_cast<std::chrono::seconds>(now_ - recordingStarted_).count()));
    }
    DumlFrame push;
    push.target = DumlFrame::makeTarget(DumlFrame::address(1, 0), kUdpAppAddress);
    push.id = nonZeroIncrement(pushId_);
    push.cmdSet = CardStorage::kPushCmdSet;
    push.cmdId = CardStorage::kPushCmdId;
    push.payload = std::move(payload);
    sendReliable(push);
}

void SimPocketUdp::pushBattery() {
    Bytes payload(33, 0);
    payload[20] = static_cast<uint8_t>(battery_.percent);
    payload[32] = battery_.isCharging ? 1 : 0;
    DumlFrame push;
    push.target = DumlFrame::makeTarget(DumlFrame::address(13, 0), kUdpAppAddress);
    push.id = nonZeroIncrement(pushId_);
    push.cmdSet = BatteryStatus::kPushCmdSet;
    push.cmdId = BatteryStatus::kPushCmdId;
    push.payload = std::move(payload);
    sendReliable(push);
}

// --- Time

void SimPocketUdp::advanceTo(TimePoint now) {
    MutexLock lock(mutex_);
    now_ = now;
    integrateGimbal(now);
    if (!session_) {
        return;
    }
    if (cardTransitionEnds_ && now >= *cardTransitionEnds_) {
        cardTransitionEnds_.reset();
        card_.isTransitioning = false;
        card_.isRecording = !card_.isRecording;
        card_.elapsedSeconds.reset();
        recordingStarted_ = now;
        pushCard();
    }
    if (now >= nextStatus_) {
        CameraStatusReport report{options_.channel, videoSequence_, reliableSequence_,
                                  lastCommandSequence_.value_or(0)};
        queue(report.datagram(*session_, nonZeroIncrement(statusSequence_)), false);
        nextStatus_ = now + options_.statusInterval;
    }
    auto periodic = [&](Duration interval, TimePoint& next, void (SimPocketUdp::*push)()) {
        if (interval > Duration::zero() && now >= next) {
            (this->*push)();
            next = now + interval;
        }
    };
    periodic(options_.attitudeInterval, nextAttitude_, &SimPocketUdp::pushAttitude);
    periodic(options_.cardInterval, nextCard_, &SimPocketUdp::pushCard);
    periodic(options_.batteryInterval, nextBattery_, &SimPocketUdp::pushBattery);

    if (lastStart_ && now - *lastStart_ <= options_.liveViewHold) {
        if (now - nextFrame_ > options_.frameInterval * kMaxFrameBacklog) {
            nextFrame_ = now;
        }
        while (now >= nextFrame_) {
            if (options_.readyForPicture && !options_.readyForPicture(videoOnWire_)) {
                break;
            }
            sendAccessUnit(now);
            nextFrame_ += options_.frameInterval;
        }
    }
}

TimePoint SimPocketUdp::nextDue() const {
    MutexLock lock(mutex_);
    if (!session_) {
        return TimePoint::max();
    }
    TimePoint due = nextStatus_;
    auto consider = [&due](Duration interval, TimePoint next) {
        if (interval > Duration::zero()) {
            due = std::min(due, next);
        }
    };
    consider(options_.attitudeInterval, nextAttitude_);
    consider(options_.cardInterval, nextCard_);
    consider(options_.batteryInterval, nextBattery_);
    if (cardTransitionEnds_) {
        due = std::min(due, *cardTransitionEnds_);
    }
    if (lastStart_ && now_ - *lastStart_ <= options_.liveViewHold) {
        due = std::min(due, std::max(nextFrame_, now_));
    }
    return due;
}

std::vector<Bytes> SimPocketUdp::takeOutgoing() {
    MutexLock lock(mutex_);
    std::vector<Bytes> taken(std::make_move_iterator(outgoing_.begin()), std::make_move_iterator(outgoing_.end()));
    outgoing_.clear();
    return taken;
}

}  // namespace hollowkit
