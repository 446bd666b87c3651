#pragma once

// The camera's UDP packet format on port 9004: the 8-byte header every
// datagram starts with, the camera's status report, the acknowledgement
// record, the command datagram and the live-view datagram layout. Pure
// functions over bytes, any thread. Every parser takes arbitrary bytes and
// yields nothing for what it cannot read; none reads past its input.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/duml_frame.h"

namespace hollowkit {

// Packet types (byte 6 of the header).
struct UdpPacketType {
    UdpPacketType() = delete;
    static constexpr uint8_t handshake = 0;     // both ways
    static constexpr uint8_t cameraStatus = 1;  // camera to us: sequence report
    static constexpr uint8_t video = 2;         // camera to us: live-view data
    static constexpr uint8_t reliable = 3;      // camera to us: DUML replies and pushes
    static constexpr uint8_t ack = 4;           // us to camera
    static constexpr uint8_t command = 5;       // us to camera: one DUML frame
};

inline constexpr uint16_t kCameraUdpPort = 9004;
inline constexpr size_t kUdpHeaderLength = 8;
// The header's length field has 14 bits.
inline constexpr size_t kMaxUdpPacketLength = 0x3FFF;

struct UdpPacketHeader {
    size_t length = 0;  // total datagram length as the header states it
    uint16_t sessionId = 0;
    uint16_t sequence = 0;
    uint8_t type = 0;

    bool operator==(const UdpPacketHeader&) const = default;

    // Nothing for fewer than 8 bytes. Length flag bits and the XOR byte are
    // not checked here (the camera's peers do not rely on them).
    static std::optional<UdpPacketHeader> parse(ByteView datagram);

    // True when the length field equals the datagram's size, byte 1 carries
    // 0x80 with bit 6 clear, and byte 7 is the XOR of bytes 0-6.
    static bool isWellFormed(ByteView datagram);
};

// The 8 header bytes for a payload of `payloadLength` bytes. The caller keeps
// payloadLength + 8 within kMaxUdpPacketLength; longer lengths are cut to
// their low 14 bits.
Bytes packetHeader(uint8_t type, size_t payloadLength, uint16_t sessionId, uint16_t sequence);

// Header followed by `payload`.
Bytes udpPacket(uint8_t type, uint16_t sessionId, uint16_t sequence, ByteView payload);

// The camera's sequence report (type 1), read from the whole datagram.
struct CameraStatusReport {
    static constexpr size_t kMinimumLength = 34;

    uint16_t channel = 0;           // offset 8
    uint16_t videoSequence = 0;     // offset 10
    uint16_t reliableSequence = 0;  // offset 18
    uint16_t lastReceived = 0;      // offset 24: our newest packet it has

    bool operator==(const CameraStatusReport&) const = default;

    // Nothing below 34 bytes.
    static std::optional<CameraStatusReport> parse(ByteView datagram);
    // A whole 34-byte status datagram (the camera's side).
    Bytes datagram(uint16_t sessionId, uint16_t sequence) const;
};

// The 26-byte acknowledgement record (type 4, header sequence 0).
struct AckRecord {
    static constexpr size_t kLength = 26;

    uint16_t rxVideoSequence = 0;
    uint16_t rxReliableSequence = 0;
    uint16_t peerAckedSequence = 0;
    uint16_t lastSentSequence = 0;

    bool operator==(const AckRecord&) const = default;

    Bytes payload() const;
    // From a whole datagram; nothing when it is not an ack of full length.
    static std::optional<AckRecord> parse(ByteView datagram);
};

// The 12 bytes before the DUML frame in a command datagram (type 5).
struct CommandPrefix {
    static constexpr size_t kLength = 12;

    uint16_t peerAckedSequence = 0;
    uint16_t sequence = 0;  // the same as the header's
    uint8_t counter = 0;    // low byte of the command count, the first is 1

    bool operator==(const CommandPrefix&) const = default;

    Bytes bytes() const;
};

// A command datagram as the camera reads it.
struct CommandDatagram {
    UdpPacketHeader header;
    CommandPrefix prefix;
    std::vector<DumlFrame> frames;  // normally exactly one

    // Nothing unless the header says type 5 and the prefix is complete.
    static std::optional<CommandDatagram> parse(ByteView datagram);
};

// The DUML frames carried by a datagram of any type, found by the frame
// scanner over the whole datagram (header included, as the scanner skips
// anything that is not a frame).
std::vector<DumlFrame> dumlFramesIn(ByteView datagram);

// Live-view datagram layout (type 2): bytes 0-19 are not read by the
// picture assembler; a start datagram carries the marker 00 00 01 FF at 20,
// the message length (u32 LE) at 24 and message bytes from 36; every other
// datagram carries message bytes from 20.
struct VideoDatagramLayout {
    VideoDatagramLayout() = delete;
    static constexpr size_t kPrefixLength = 20;
    static constexpr size_t kStartHeaderLength = 36;
    static constexpr size_t kLengthOffset = 24;
    static constexpr uint8_t kMarker[4] = {0x00, 0x00, 0x01, 0xFF};
};

}  // namespace hollowkit
