#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit {
namespace {

uint16_t u16At(ByteView bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

void putU16(Bytes& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

std::optional<UdpPacketHeader> UdpPacketHeader::parse(ByteView datagram) {
    if (datagram.size() < kUdpHeaderLength) {
        return std::nullopt;
    }
    UdpPacketHeader header;
    header.length = datagram[0] | ((datagram[1] & 0x3F) << 8);
    header.sessionId = u16At(datagram, 2);
    header.sequence = u16At(datagram, 4);
    header.type = datagram[6];
    return header;
}

bool UdpPacketHeader::isWellFormed(ByteView datagram) {
    auto header = parse(datagram);
    if (!header || header->length != datagram.size() || (datagram[1] & 0xC0) != 0x80) {
        return false;
    }
    uint8_t check = 0;
    for (size_t i = 0; i < 7; ++i) {
        check ^= datagram[i];
    }
    return check == datagram[7];
}

Bytes packetHeader(uint8_t type, size_t payloadLength, uint16_t sessionId, uint16_t sequence) {
    const size_t length = (payloadLength + kUdpHeaderLength) & kMaxUdpPacketLength;
    Bytes header(kUdpHeaderLength);
    header[0] = static_cast<uint8_t>(length);
    header[1] = static_cast<uint8_t>(0x80 | (length >> 8));
    putU16(header, 2, sessionId);
    putU16(header, 4, sequence);
    header[6] = type;
    uint8_t check = 0;
    for (size_t i = 0; i < 7; ++i) {
        check ^= header[i];
    }
    header[7] = check;
    return header;
}

Bytes udpPacket(uint8_t type, uint16_t sessionId, uint16_t sequence, ByteView payload) {
    Bytes packet = packetHeader(type, payload.size(), sessionId, sequence);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

std::optional<CameraStatusReport> CameraStatusReport::parse(ByteView datagram) {
    if (datagram.size() < kMinimumLength) {
        return std::nullopt;
    }
    CameraStatusReport report;
    report.channel = u16At(datagram, 8);
    report.videoSequence = u16At(datagram, 10);
    report.reliableSequence = u16At(datagram, 18);
    report.lastReceived = u16At(datagram, 24);
    return report;
}

Bytes CameraStatusReport::datagram(uint16_t sessionId, uint16_t sequence) const {
    Bytes payload(kMinimumLength - kUdpHeaderLength, 0);
    putU16(payload, 0, channel);
    putU16(payload, 2, videoSequence);
    putU16(payload, 10, reliableSequence);
    putU16(payload, 16, lastReceived);
    return udpPacket(UdpPacketType::cameraStatus, sessionId, sequence, payload);
}

Bytes AckRecord::payload() const {
    Bytes bytes(kLength, 0);
    putU16(bytes, 0, rxVideoSequence);
    putU16(bytes, 2, rxVideoSequence);
    putU16(bytes, 8, rxReliableSequence);
    putU16(bytes, 10, rxReliableSequence);
    putU16(bytes, 16, peerAckedSequence);
    putU16(bytes, 18, lastSentSequence);
    return bytes;
}

std::optional<AckRecord> AckRecord::parse(ByteView datagram) {
    auto header = UdpPacketHeader::parse(datagram);
    if (!header || header->type != UdpPacketType::ack || datagram.size() < kUdpHeaderLength + kLength) {
        return std::nullopt;
    }
    ByteView payload = datagram.subspan(kUdpHeaderLength);
    AckRecord record;
    record.rxVideoSequence = u16At(payload, 0);
    record.rxReliableSequence = u16At(payload, 8);
    record.peerAckedSequence = u16At(payload, 16);
    record.lastSentSequence = u16At(payload, 18);
    return record;
}

Bytes CommandPrefix::bytes() const {
    Bytes bytes(kLength, 0);
    putU16(bytes, 0, peerAckedSequence);
    putU16(bytes, 2, sequence);
    bytes[8] = counter;
    bytes[9] = 0x01;
    return bytes;
}

std::optional<CommandDatagram> CommandDatagram::parse(ByteView datagram) {
    auto header = UdpPacketHeader::parse(datagram);
    if (!header || header->type != UdpPacketType::command ||
        datagram.size() < kUdpHeaderLength + CommandPrefix::kLength) {
        return std::nullopt;
    }
    ByteView prefix = datagram.subspan(kUdpHeaderLength, CommandPrefix::kLength);
    CommandDatagram command;
    command.header = *header;
    command.prefix.peerAckedSequence = u16At(prefix, 0);
    command.prefix.sequence = u16At(prefix, 2);
    command.prefix.counter = prefix[8];
    command.frames = DumlFrame::parseAll(datagram.subspan(kUdpHeaderLength + CommandPrefix::kLength));
    return command;
}

std::vector<DumlFrame> dumlFramesIn(ByteView datagram) {
    return DumlFrame::parseAll(datagram);
}

}  // namespace hollowkit
