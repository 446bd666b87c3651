#pragma once

// DumlReceiveBuffer: reassembles DUML frames from a byte stream that arrives
// in pieces, as Bluetooth notifications do when the ATT MTU is small (20-byte
// values split a 40-byte SSID reply in three). Each piece is appended, the
// buffer is scanned, and the bytes up to the end of the last frame found are
// dropped; a trailing partial frame waits for the rest. The buffer never
// holds more than kCapacity bytes. Not thread-safe; one owner.

#include <cstddef>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/duml_frame.h"

namespace hollowkit {

class DumlReceiveBuffer {
public:
    static constexpr size_t kCapacity = 4096;

    // Appends `chunk` and returns every frame now complete, in the order the
    // scanner finds them (see DumlFrame::parseAll).
    std::vector<DumlFrame> push(ByteView chunk);

    size_t size() const { return buffer_.size(); }
    void clear() { buffer_.clear(); }

private:
    Bytes buffer_;
};

}  // namespace hollowkit
