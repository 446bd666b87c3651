#include "hollowkit/wireless/duml_receive_buffer.h"

#include <algorithm>

namespace hollowkit {

std::vector<DumlFrame> DumlReceiveBuffer::push(ByteView chunk) {
    buffer_.insert(buffer_.end(), chunk.begin(), chunk.end());
    std::vector<DumlFrame> frames = DumlFrame::parseAll(buffer_);

    // The scanner reports frames, not offsets. Encoding is the exact inverse
    // of scanning, so each frame's wire bytes locate it; frames come in order
    // of their start, so each search begins just after the previous start.
    size_t consumed = 0;
    size_t searchFrom = 0;
    for (const DumlFrame& frame : frames) {
        auto wire = frame.encoded();
        if (!wire.has_value()) continue;  // cannot happen for a scanned frame
        const Bytes& bytes = wire.value();
        auto hit = std::search(buffer_.begin() + static_cast<std::ptrdiff_t>(searchFrom), buffer_.end(),
                               bytes.begin(), bytes.end());
        if (hit == buffer_.end()) continue;
        const size_t start = static_cast<size_t>(hit - buffer_.begin());
        consumed = std::max(consumed, start + bytes.size());
        searchFrom = start + 1;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed));

    // Whatever is left is a partial frame or noise. A partial frame is shorter
    // than the longest frame, so beyond the capacity only that much of the
    // tail can still matter.
    if (buffer_.size() > kCapacity) {
        const size_t keep = DumlFrame::kMaxFrameLength - 1;
        buffer_.erase(buffer_.begin(), buffer_.end() - static_cast<std::ptrdiff_t>(keep));
    }
    return frames;
}

}  // namespace hollowkit
