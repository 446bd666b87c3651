#pragma once

// DumlFrame: one command, reply or push message of the camera's framed
// protocol, with its wire encoder and the scanner that finds frames in
// received bytes. A plain value; every function is pure and safe on any
// thread. The scanner never fails (damaged bytes only yield fewer frames);
// the encoder refuses a payload its 10-bit length field cannot describe.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

// Errors of the DUML encoders (frames and payload texts).
enum class DumlError : uint8_t {
    none,
    payloadTooLong,  // more than DumlFrame::kMaxPayloadLength bytes
    textTooLong,     // more than 255 bytes after encoding
    textNotAscii,    // a reply text holds a byte outside ASCII
};

const char* userMessage(DumlError error);

struct DumlFrame {
    // Wire overhead: 11 bytes of header plus the 2-byte CRC16.
    static constexpr size_t kOverhead = 13;
    // The frame length field has 10 bits.
    static constexpr size_t kMaxFrameLength = 1023;
    static constexpr size_t kMaxPayloadLength = kMaxFrameLength - kOverhead;
    static constexpr uint8_t kStartByte = 0x55;
    static constexpr uint8_t kRequestFlags = 0x40;  // command type 2
    static constexpr uint8_t kReplyFlags = 0xC0;
    static constexpr uint8_t kReplyBit = 0x80;

    uint16_t target = 0;  // low byte: sender address, high byte: receiver address
    uint16_t id = 0;      // pairs a reply with its request
    uint8_t flags = 0;    // bit 7: reply; bits 5-6: command type
    uint8_t cmdSet = 0;
    uint8_t cmdId = 0;
    Bytes payload;

    bool operator==(const DumlFrame&) const = default;

    uint8_t sender() const { return static_cast<uint8_t>(target & 0xFF); }
    uint8_t receiver() const { return static_cast<uint8_t>(target >> 8); }
    bool isReply() const { return (flags & kReplyBit) != 0; }

    // "0D/02": command set and command as two upper-case hex digits each.
    std::string commandKey() const;
    static std::string commandKey(uint8_t cmdSet, uint8_t cmdId);

    // An address byte: device type in bits 0-4, device index in bits 5-7.
    static uint8_t address(int deviceType, int deviceIndex);
    // A target from sender and receiver addresses.
    static uint16_t makeTarget(uint8_t sender, uint8_t receiver) {
        return static_cast<uint16_t>(sender | (receiver << 8));
    }

    // The wire bytes. Fails with payloadTooLong when the payload exceeds
    // kMaxPayloadLength; frames up to 255 bytes carry 0x04 in byte 2, longer
    // ones add length bits 8-9 there.
    Result<Bytes, DumlError> encoded() const;

    // Every frame in `bytes`, in the order of their start offsets. Scanning
    // resumes one byte after each frame's start, so a frame lying whole inside
    // another frame's payload is returned too, after its container.
    static std::vector<DumlFrame> parseAll(ByteView bytes);

    // A request (flags kRequestFlags) with the given addresses and id.
    static DumlFrame makeRequest(uint16_t target, uint16_t id, uint8_t cmdSet, uint8_t cmdId, Bytes payload);

    // The answer to `request`: sender and receiver exchanged, same id and
    // command, flags 0xC0. A request with key 00/81 is always answered with
    // DumlConstants::infoReplyPayload(), whatever `payload` holds.
    static DumlFrame makeReply(const DumlFrame& request, Bytes payload);

    static uint8_t crc8(ByteView bytes);
    static uint16_t crc16(ByteView bytes);
};

}  // namespace hollowkit
