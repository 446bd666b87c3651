#pragma once

// HevcDecoder: decodes the compressed pictures the stream assembler hands
// on, synchronously, and passes each decoded picture to its frame handler
// before decode() returns. One backend decodes in software with libavcodec
// (FfmpegHevcDecoder); tests may put their own behind the same interface.
//
// Thread contract: one thread (the video thread) calls decode(); the frame
// handler runs on it. Set the handler before the first decode().

#include <functional>
#include <utility>

#include "hollowkit/media/video_frame.h"
#include "hollowkit/wireless/hevc_sample.h"

namespace hollowkit {

// What became of the pictures handed to a decoder, by reason. Every sample
// ends in exactly one of: shown, refused (one of the reasons), or still
// held for reordering. Read on the decoder's thread, or after it ended.
struct HevcDecodeCounts {
    // Pictures out of the decoder, concealed ones included.
    int shown = 0;
    // Of those, pictures decoded while a picture of their reference chain
    // (since the last random-access picture) was lost on the way or refused:
    // the decoder stood in for what was missing, so they may show damage.
    int concealed = 0;
    // The picture's own bytes did not parse; refused whole.
    int refusedBadData = 0;
    // The decoder failed otherwise; its session is made anew.
    int refusedDecoderError = 0;
    // A new session waits for a random-access picture; these came before it.
    int skippedBeforeRandomAccess = 0;
    // No decoder could be made for the sample's format.
    int droppedNoDecoder = 0;
    // Decoded, but the picture could not be turned into a frame.
    int droppedUnconverted = 0;
    // Not pictures: times a new sequence began without its random-access
    // picture and the decoder let out what it held and started over.
    int sequencesWithoutRandomAccess = 0;

    int refused() const { return refusedBadData + refusedDecoderError; }
    bool operator==(const HevcDecodeCounts&) const = default;
};

class HevcDecoder {
public:
    using FrameHandler = std::function<void(const VideoFrame&)>;

    virtual ~HevcDecoder() = default;

    void setOnFrame(FrameHandler handler) { onFrame_ = std::move(handler); }

    virtual void decode(const HevcSample& sample) = 0;
    // Decode calls that failed so far.
    int failures() const { return counts_.refused(); }
    const HevcDecodeCounts& counts() const { return counts_; }

protected:
    HevcDecodeCounts counts_;

    void emitFrame(const VideoFrame& frame) const {
        if (onFrame_) {
            onFrame_(frame);
        }
    }

private:
    FrameHandler onFrame_;
};

}  // namespace hollowkit
