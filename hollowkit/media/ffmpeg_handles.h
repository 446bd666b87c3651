#pragma once

// Owning handles for FFmpeg's C objects, so every context, frame and packet
// is freed on every path. The FFmpeg headers stay in the .cpp files that use
// the objects; this header only names the types. Handles are as thread-safe
// as the objects they hold (one thread at a time).

#include <memory>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVFormatContext;
struct AVAudioFifo;
struct SwsContext;
struct SwrContext;

namespace hollowkit::ffmpeg {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const;
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const;
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const;
};
// Closes an input (avformat_close_input) or an output context; an output's
// file is closed too unless the caller supplied its own I/O
// (AVFMT_FLAG_CUSTOM_IO). Writing the trailer is the caller's business.
struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const;
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const;
};
struct SwsContextDeleter {
    void operator()(SwsContext* context) const;
};
struct SwrContextDeleter {
    void operator()(SwrContext* context) const;
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;

// New empty frame / packet (null only when memory runs out).
FramePtr allocFrame();
PacketPtr allocPacket();

// FFmpeg's text for an AVERROR code, e.g. "Permission denied".
std::string errorString(int averror);

}  // namespace hollowkit::ffmpeg
