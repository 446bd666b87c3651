#include "hollowkit/wireless/duml_udp_link.h"

#include <cassert>
#include <random>
#include <string>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_text.h"
#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit {
namespace {

constexpr size_t kLoggedPayloadBytes = 32;
constexpr int kSequenceStep = 8;

int advanceSequence(int sequence) {
    return (sequence + kSequenceStep) & 0xFFFF;
}

}  // namespace

UdpLinkIdentity UdpLinkIdentity::random() {
    std::random_device device;
    std::mt19937 generator(device());
    UdpLinkIdentity identity;
    identity.sessionId = static_cast<uint16_t>(std::uniform_int_distribution<int>(0, 61437)(generator) + 4096);
    identity.baseSequence =
        static_cast<uint16_t>((std::uniform_int_distribution<int>(0, 57343)(generator) + 4096) & ~0x7);
    return identity;
}

DumlUDPLink::DumlUDPLink(std::unique_ptr<DatagramTransport> transport, UdpEndpoint endpoint,
                         UdpLinkTimings timings, UdpLinkIdentity identity)
    : transport_(std::move(transport)),
      endpoint_(std::move(endpoint)),
      timings_(timings),
      identity_(identity),
      cameraChannel_(identity.baseSequence),
      rxVideoSequence_(identity.baseSequence),
      rxReliableSequence_(identity.baseSequence),
      peerAckedSequence_(identity.baseSequence),
      lastSentSequence_(identity.baseSequence),
      lastInbound_(transport_->clock().now()) {}

DumlUDPLink::~DumlUDPLink() {
    transport_->close();
}

bool DumlUDPLink::open(const StopFlag* stop) {
    if (!transport_->open(endpoint_)) {
        return false;
    }
    PocketLog::logf("UDP open session=0x%04X base=0x%04X", identity_.sessionId, identity_.baseSequence);

    Bytes payload = DumlConstants::udpOpenPayload();
    payload[0] = static_cast<uint8_t>(identity_.baseSequence);
    payload[1] = static_cast<uint8_t>(identity_.baseSequence >> 8);
    if (!handshake(payload, stop)) {
        PocketLog::log("UDP handshake failed");
        close();
        return false;
    }

    for (int round = 0; round < timings_.syncRounds; ++round) {
        if (stop != nullptr && stop->isSet()) {
            close();
            return false;
        }
        pump(timings_.syncPump);
        sendAck();
    }
    const int channel = cameraChannel_;
    nextSequence_ = advanceSequence(channel);
    lastSentSequence_ = channel;
    peerAckedSequence_ = channel;
    PocketLog::logf("Synced: channel=0x%04X nextTx=0x%04X", channel, nextSequence_);
    return true;
}

bool DumlUDPLink::handshake(ByteView payload, const StopFlag* stop) {
    const Clock& clock = transport_->clock();
    for (int attempt = 1; attempt <= timings_.handshakeAttempts; ++attempt) {
        if (stop != nullptr && stop->isSet()) return false;
        transport_->send(udpPacket(UdpPacketType::handshake, identity_.sessionId,
                                   static_cast<uint16_t>(nextSequence_), payload));
        nextSequence_ = advanceSequence(nextSequence_);

        const TimePoint windowEnd = clock.now() + timings_.handshakeWindow;
        while (clock.now() < windowEnd) {
            bool answered = false;
            for (const Bytes& datagram : transport_->takeIncoming()) {
                auto header = UdpPacketHeader::parse(datagram);
                // Answers of other sessions are dropped here, not counted.
                if (!header || header->sessionId != identity_.sessionId) {
                    continue;
                }
                handleDatagram(datagram);
                answered = answered || header->type == UdpPacketType::handshake;
            }
            if (answered) {
                PocketLog::logf("UDP handshake OK after %d attempt(s)", attempt);
                return true;
            }
            transport_->waitForIncoming(windowEnd);
        }
    }
    return false;
}

uint16_t DumlUDPLink::send(uint8_t cmdSet, uint8_t cmdId, ByteView payload, int receiverType,
                           int receiverIndex, int attribute) {
    assert(receiverType + receiverIndex * 32 <= 255 && attribute >= 0 && attribute <= 7);
    ++commandCounter_;
    const uint16_t sequence = static_cast<uint16_t>(nextSequence_);
    CommandPrefix prefix;
    prefix.peerAckedSequence = static_cast<uint16_t>(peerAckedSequence_);
    prefix.sequence = sequence;
    prefix.counter = static_cast<uint8_t>(commandCounter_);

    DumlFrame frame;
    frame.target = DumlFrame::makeTarget(kSenderAddress, static_cast<uint8_t>(receiverType + receiverIndex * 32));
    frame.id = static_cast<uint16_t>(dumlSequence_);
    frame.flags = static_cast<uint8_t>(attribute << 5);
    frame.cmdSet = cmdSet;
    frame.cmdId = cmdId;
    frame.payload.assign(payload.begin(), payload.end());
    dumlSequence_ = (dumlSequence_ + 1) & 0xFFFF;

    Bytes body = prefix.bytes();
    // A payload too long for one frame is a caller's error; the frame is
    // then left out and the camera sees an empty command it ignores.
    if (auto encoded = frame.encoded()) {
        body.insert(body.end(), encoded->begin(), encoded->end());
    } else {
        PocketLog::logf("UDP command %s payload too long (%zu bytes)", frame.commandKey().c_str(), payload.size());
    }
    transport_->send(udpPacket(UdpPacketType::command, identity_.sessionId, sequence, body));
    lastSentSequence_ = sequence;
    nextSequence_ = advanceSequence(nextSequence_);
    return frame.id;
}

void DumlUDPLink::sendAck() {
    AckRecord record;
    record.rxVideoSequence = static_cast<uint16_t>(rxVideoSequence_);
    record.rxReliableSequence = static_cast<uint16_t>(rxReliableSequence_);
    record.peerAckedSequence = static_cast<uint16_t>(peerAckedSequence_);
    record.lastSentSequence = static_cast<uint16_t>(lastSentSequence_);
    transport_->send(udpPacket(UdpPacketType::ack, identity_.sessionId, 0, record.payload()));
}

int DumlUDPLink::pump(Duration span) {
    const Clock& clock = transport_->clock();
    const TimePoint deadline = clock.now() + span;
    int count = 0;
    while (clock.now() < deadline) {
        std::vector<Bytes> batch = transport_->takeIncoming();
        if (batch.empty()) {
            transport_->waitForIncoming(deadline);
            continue;
        }
        for (const Bytes& datagram : batch) {
            auto header = UdpPacketHeader::parse(datagram);
            if (!header || header->sessionId != identity_.sessionId) {
                ++foreignDatagrams_;
                continue;
            }
            handleDatagram(datagram);
            lastInbound_ = clock.now();
            ++count;
        }
    }
    return count;
}

void DumlUDPLink::pause(Duration span) {
    transport_->sleepUntil(transport_->clock().now() + span);
}

void DumlUDPLink::handleDatagram(ByteView datagram) {
    auto header = UdpPacketHeader::parse(datagram);
    if (!header) {
        return;
    }
    const uint8_t type = header->type;
    const int sequence = header->sequence;
    ++packetTypeCounts_[type];

    // Until video flows, the camera's channel rides in status and reliable
    // datagrams; afterwards their reports no longer move it.
    if (datagram.size() >= 10 && !sawVideo_ &&
        (type == UdpPacketType::cameraStatus || type == UdpPacketType::reliable)) {
        const int channel = uint16LE(datagram, 8);
        if (channel != 0) {
            cameraChannel_ = channel;
        }
    }

    switch (type) {
    case UdpPacketType::video:
        if (sequence != 0) {
            rxVideoSequence_ = sequence;
            sawVideo_ = true;
        }
        if (onVideoDatagram) {
            onVideoDatagram(datagram);
        }
        return;
    case UdpPacketType::reliable:
        if (sequence != 0) {
            rxReliableSequence_ = sequence;
            sawReliable_ = true;
        }
        break;
    case UdpPacketType::cameraStatus:
        if (auto report = CameraStatusReport::parse(datagram)) {
            if (!sawVideo_ && report->videoSequence != 0) {
                rxVideoSequence_ = report->videoSequence;
            }
            if (!sawReliable_ && report->reliableSequence != 0) {
                rxReliableSequence_ = report->reliableSequence;
            }
            if (report->lastReceived != 0) {
                peerAckedSequence_ = report->lastReceived;
            }
        }
        break;
    default:
        break;
    }
    dispatchFrames(type, datagram);
}

void DumlUDPLink::dispatchFrames(uint8_t type, ByteView datagram) {
    for (const DumlFrame& frame : dumlFramesIn(datagram)) {
        const uint32_t key = uint32_t(frame.cmdSet) << 8 | frame.cmdId;
        if (frameLog_.admit(key, transport_->clock().now())) {
            ByteView shown(frame.payload.data(), std::min(frame.payload.size(), kLoggedPayloadBytes));
            PocketLog::logf("UDP RX 0x%02X %s flags=%02X payload[%zu]=%s", type, frame.commandKey().c_str(),
                            frame.flags, frame.payload.size(), hexString(shown).c_str());
        }
        if (onFrame) {
            onFrame(frame);
        }
    }
}

std::optional<std::string> DumlUDPLink::verifyCamera(Duration timeout) {
    std::optional<std::string> answer;
    auto kept = std::move(onFrame);
    onFrame = [&answer, &kept](const DumlFrame& frame) {
        if (!answer && frame.cmdSet == 0x07 && frame.cmdId == 0x07 && frame.isReply()) {
            answer = asciiString(frame.payload);
        }
        if (kept) {
            kept(frame);
        }
    };
    send(0x07, 0x07, {}, 7, 0, 2);
    const TimePoint deadline = transport_->clock().now() + timeout;
    while (!answer && transport_->clock().now() < deadline) {
        pump(timings_.verifyPump);
        sendAck();
    }
    onFrame = std::move(kept);
    return answer;
}

void DumlUDPLink::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    std::string counts;
    for (const auto& [type, count] : packetTypeCounts_) {
        char item[24];
        std::snprintf(item, sizeof(item), "%s0x%02X:%d", counts.empty() ? "" : " ", type, count);
        counts += item;
    }
    frameLog_.flush();
    PocketLog::logf("UDP closed. packets %s foreign=%d lag=%d", counts.c_str(), foreignDatagrams_, transportLag());
    transport_->close();
}

}  // namespace hollowkit
