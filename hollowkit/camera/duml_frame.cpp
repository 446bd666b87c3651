#include "hollowkit/camera/duml_frame.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "hollowkit/camera/duml_constants.h"
#include "hollowkit/camera/duml_crc.h"

namespace hollowkit {
namespace {

constexpr uint8_t kVersionByte = 0x04;   // protocol version 1 in bits 2-7
constexpr uint8_t kLengthHighMask = 0x03;

}  // namespace

const char* userMessage(DumlError error) {
    switch (error) {
    case DumlError::none:
        return "No error.";
    case DumlError::payloadTooLong:
        return "The camera command is too long to send.";
    case DumlError::textTooLong:
        return "The text is too long to send to the camera (at most 255 bytes).";
    case DumlError::textNotAscii:
        return "The text holds characters the camera cannot show.";
    }
    return "Unknown camera protocol error.";
}

std::string DumlFrame::commandKey() const {
    return commandKey(cmdSet, cmdId);
}

std::string DumlFrame::commandKey(uint8_t set, uint8_t command) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X/%02X", static_cast<unsigned>(set),
                  static_cast<unsigned>(command));
    return text;
}

uint8_t DumlFrame::address(int deviceType, int deviceIndex) {
    return static_cast<uint8_t>((deviceType & 0x1F) | ((deviceIndex & 0x07) << 5));
}

Result<Bytes, DumlError> DumlFrame::encoded() const {
    if (payload.size() > kMaxPayloadLength) {
        return unexpected(DumlError::payloadTooLong);
    }
    const size_t length = payload.size() + kOverhead;
    Bytes out(length);
    uint8_t* p = out.data();
    p[0] = kStartByte;
    p[1] = static_cast<uint8_t>(length & 0xFF);
    p[2] = static_cast<uint8_t>(kVersionByte | ((length >> 8) & kLengthHighMask));
    p[3] = dumlCrc8(ByteView(p, 3));
    p[4] = sender();
    p[5] = receiver();
    p[6] = static_cast<uint8_t>(id & 0xFF);
    p[7] = static_cast<uint8_t>(id >> 8);
    p[8] = flags;
    p[9] = cmdSet;
    p[10] = cmdId;
    if (!payload.empty()) {
        std::memcpy(p + 11, payload.data(), payload.size());
    }
    const uint16_t crc = dumlCrc16(ByteView(p, length - 2));
    p[length - 2] = static_cast<uint8_t>(crc & 0xFF);
    p[length - 1] = static_cast<uint8_t>(crc >> 8);
    return out;
}

std::vector<DumlFrame> DumlFrame::parseAll(ByteView bytes) {
    std::vector<DumlFrame> frames;
    const size_t size = bytes.size();
    if (size < kOverhead) {
        return frames;
    }
    const uint8_t* base = bytes.data();
    const size_t lastStart = size - kOverhead;  // a start offset i needs i + 13 <= size
    size_t i = 0;
    while (i <= lastStart) {
        // Most received bytes are payload or noise: jump straight to the next
        // start byte, then run the cheap header tests before any checksum.
        const void* hit = std::memchr(base + i, kStartByte, lastStart - i + 1);
        if (hit == nullptr) {
            break;
        }
        i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - base);
        const uint8_t* p = base + i;
        if ((p[2] & ~kLengthHighMask) == kVersionByte) {
            const size_t length = size_t{p[1]} | (static_cast<size_t>(p[2] & kLengthHighMask) << 8);
            if (length >= kOverhead && length <= size - i && dumlCrc8(ByteView(p, 3)) == p[3]) {
                const uint16_t expected = static_cast<uint16_t>(p[length - 2] | (p[length - 1] << 8));
                if (dumlCrc16(ByteView(p, length - 2)) == expected) {
                    DumlFrame& frame = frames.emplace_back();
                    frame.target = makeTarget(p[4], p[5]);
                    frame.id = static_cast<uint16_t>(p[6] | (p[7] << 8));
                    frame.flags = p[8];
                    frame.cmdSet = p[9];
                    frame.cmdId = p[10];
                    frame.payload.assign(p + 11, p + length - 2);
                }
            }
        }
        ++i;
    }
    return frames;
}

DumlFrame DumlFrame::makeRequest(uint16_t target, uint16_t id, uint8_t cmdSet, uint8_t cmdId, Bytes payload) {
    DumlFrame request;
    request.target = target;
    request.id = id;
    request.flags = kRequestFlags;
    request.cmdSet = cmdSet;
    request.cmdId = cmdId;
    request.payload = std::move(payload);
    return request;
}

DumlFrame DumlFrame::makeReply(const DumlFrame& request, Bytes replyPayload) {
    DumlFrame reply;
    reply.target = makeTarget(request.receiver(), request.sender());
    reply.id = request.id;
    reply.flags = kReplyFlags;
    reply.cmdSet = request.cmdSet;
    reply.cmdId = request.cmdId;
    if (request.cmdSet == 0x00 && request.cmdId == 0x81) {
        reply.payload = DumlConstants::infoReplyPayload();
    } else {
        reply.payload = std::move(replyPayload);
    }
    return reply;
}

uint8_t DumlFrame::crc8(ByteView bytes) {
    return dumlCrc8(bytes);
}

uint16_t DumlFrame::crc16(ByteView bytes) {
    return dumlCrc16(bytes);
}

}  // namespace hollowkit
