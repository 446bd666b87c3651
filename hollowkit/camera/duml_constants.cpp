#include "hollowkit/camera/duml_constants.h"

namespace hollowkit {
namespace {

constexpr uint8_t kAppAddress = 0x02;  // the application sends as type 2, index 0

// A request as the application sends it: id 0x8000 plus the command, flags 0x40.
DumlFrame request(uint8_t receiver, uint8_t cmdSet, uint8_t cmdId, Bytes payload) {
    return DumlFrame::makeRequest(DumlFrame::makeTarget(kAppAddress, receiver), static_cast<uint16_t>(0x8000 + cmdId),
                                  cmdSet, cmdId, std::move(payload));
}

}  // namespace

const Bytes& DumlConstants::infoReplyPayload() {
    static const Bytes payload = [] {
        Bytes bytes(62, 0);
        bytes[1] = 0x41;  // "APP"
        bytes[2] = 0x50;
        bytes[3] = 0x50;
        bytes[41] = 0x02;
        bytes[50] = 0x02;
        bytes[51] = 0x08;
        return bytes;
    }();
    return payload;
}

const Bytes& DumlConstants::appTagPayload() {
    static const Bytes payload = bytesFromHex("170046237c415050000000000002");
    return payload;
}

const Bytes& DumlConstants::gimbalInitPayload() {
    static const Bytes payload = bytesFromHex("05ffffffff");
    return payload;
}

const Bytes& DumlConstants::payload010405() {
    static const Bytes payload{0x01, 0x04, 0x05};
    return payload;
}

const Bytes& DumlConstants::payloadFE08() {
    static const Bytes payload{0xFE, 0x08};
    return payload;
}

const Bytes& DumlConstants::liveViewPayloadA() {
    return liveViewPayloads()[0];
}

const Bytes& DumlConstants::liveViewPayloadB() {
    return liveViewPayloads()[1];
}

const Bytes& DumlConstants::liveViewPayloadC() {
    return liveViewPayloads()[2];
}

const std::array<Bytes, 3>& DumlConstants::liveViewPayloads() {
    static const std::array<Bytes, 3> payloads{
        bytesFromHex("0100000000040000000501"),
        bytesFromHex("0000000000040000000401"),
        bytesFromHex("00040200000000000000"),
    };
    return payloads;
}

const Bytes& DumlConstants::udpOpenPayload() {
    static const Bytes payload = bytesFromHex(
        "000064006400c005140000640000019001c005140000640014006400c00514000064000101040102");
    return payload;
}

const DumlFrame& DumlConstants::pairingFrame() {
    static const DumlFrame frame = request(0xF0, 0x00, 0x2B, {0x04, 0x00});
    return frame;
}

const DumlFrame& DumlConstants::wakeFrame() {
    static const DumlFrame frame = request(0xF0, 0x00, 0x2B, {0x01, 0x01});
    return frame;
}

const DumlFrame& DumlConstants::wifiRoleQueryFrame() {
    static const DumlFrame frame = request(0x07, 0x07, 0x39, {0x00});
    return frame;
}

const DumlFrame& DumlConstants::videoModeFrame() {
    static const DumlFrame frame = request(0x08, 0x02, 0xE1, {0x01});
    return frame;
}

}  // namespace hollowkit
