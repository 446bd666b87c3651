#pragma once

// LiveViewStream: what the live-view session needs from the picture side of
// the live view (stream assembly and decoding): it hands every video
// datagram over and reads whether pictures arrive. The wireless camera
// implements it over its HEVC assembler and decoder; tests use simple
// stand-ins. Everything here is called on the video thread except
// takeDisplayedCount(), which the implementation guards itself.

#include <optional>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/camera_types.h"

namespace hollowkit {

class LiveViewStream {
public:
    virtual ~LiveViewStream() = default;

    // A new UDP link begins: a message left incomplete by the previous link
    // must not be completed with the new link's bytes. Parameter sets,
    // format, decoder and the picture flag stay.
    virtual void beginLink() = 0;
    // One video datagram (type 2), whole, header included.
    virtual void pushDatagram(ByteView datagram) = 0;

    // A random-access picture has been handed on (never cleared).
    virtual bool hasPicture() const = 0;
    virtual int completedMessages() const = 0;
    // Every NAL unit type met so far, ascending.
    virtual std::vector<int> seenNalTypes() const = 0;
    virtual std::optional<VideoDimensions> dimensions() const = 0;
    // Pictures handed on since the last call; resets the count. Thread-safe.
    virtual int takeDisplayedCount() = 0;
};

}  // namespace hollowkit
