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

class HevcDecoder {
public:
    using FrameHandler = std::function<void(const VideoFrame&)>;

    virtual ~HevcDecoder() = default;

    void setOnFrame(FrameHandler handler) { onFrame_ = std::move(handler); }

    virtual void decode(const HevcSample& sample) = 0;
    // Decode calls that failed so far.
    virtual int failures() const = 0;

protected:
    void emitFrame(const VideoFrame& frame) const {
        if (onFrame_) {
            onFrame_(frame);
        }
    }

private:
    FrameHandler onFrame_;
};

}  // namespace hollowkit
