#pragma once

// DUML frames as the simulated camera answers and asks them, for the
// Bluetooth link's tests.

#include <cstdint>
#include <utility>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/duml_frame.h"

namespace hollowkit::testsupport {

inline DumlFrame replyFrame(uint8_t cmdSet, uint8_t cmdId, Bytes payload) {
    DumlFrame frame;
    frame.target = DumlFrame::makeTarget(0x07, 0x02);
    frame.id = 0x4242;
    frame.flags = DumlFrame::kReplyFlags;
    frame.cmdSet = cmdSet;
    frame.cmdId = cmdId;
    frame.payload = std::move(payload);
    return frame;
}

inline DumlFrame requestFrame(uint8_t cmdSet, uint8_t cmdId, Bytes payload = {}) {
    DumlFrame frame;
    frame.target = 0x0702;
    frame.id = 0x8000 | cmdId;
    frame.flags = DumlFrame::kRequestFlags;
    frame.cmdSet = cmdSet;
    frame.cmdId = cmdId;
    frame.payload = std::move(payload);
    return frame;
}

}  // namespace hollowkit::testsupport
