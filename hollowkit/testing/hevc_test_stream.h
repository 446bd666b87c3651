#pragma once

// HevcTestStream: an HEVC elementary stream for tests and benchmarks, encoded
// in-process with libx265 (through libavcodec) from a synthetic picture that
// carries its frame number. Each access unit comes out whole in Annex-B form,
// with VPS, SPS and PPS in front of every random-access picture, one access
// unit per frame. Without B pictures (the default) nothing is reordered, so
// frame n is the n-th access unit; with them the units come in decode order
// and each carries its frame number.
//
// The picture: the top half is a grid of 8 x 4 big cells, bright or dark,
// holding the 16-bit frame number and its complement (so a misread is caught);
// the bottom half is a texture of random 16 x 16 blocks that scrolls 4 pixels
// per frame, so a picture decoded from a wrong or missing reference shows up
// as damage. readPatternIndex() and patternDamage() read a decoded picture back.
//
// One thread at a time; the encoder is created by create() and freed with the
// object. Failures (no libx265 in this FFmpeg, a bad size) come back as text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

enum class HevcIrapMode : uint8_t {
    none = 0,       // no random-access picture at all: the parameter sets of the
                    // first access unit are kept, its IRAP slices are removed
    everyGop,       // an IRAP (IDR) every `gopLength` frames
    firstOnly,      // one IDR at the start, then only predicted pictures
};

struct HevcTestStreamOptions {
    int width = 320;
    int height = 180;
    int framesPerSecond = 30;
    int gopLength = 30;
    HevcIrapMode irapMode = HevcIrapMode::everyGop;
    // x265 constant rate factor: lower is larger and sharper.
    int crf = 26;
    // Grain added to the texture (0: none), peak amplitude in 8-bit levels.
    // Brings the bit rate and decoding work near a real camera's; the cells
    // stay clean, so the number still reads back, but patternDamage() then
    // measures the grain too.
    int grain = 0;
    // The number carried by the first picture; later ones count up from it
    // (mod 65536), so a second stream can continue where a first one ended.
    uint32_t firstIndex = 0;
    // B pictures between two reference pictures (0: none). With them a
    // picture may refer to a later one, so the decoder has to reorder.
    int bFrames = 0;
};

struct HevcAccessUnit {
    Bytes bytes;           // Annex-B: start codes and NAL units
    uint32_t index = 0;    // the frame number in the picture (16 bits)
    bool irap = false;     // holds a NAL unit of type 16 to 21
};

class HevcTestStream {
public:
    static Result<std::unique_ptr<HevcTestStream>, std::string> create(
        const HevcTestStreamOptions& options);
    ~HevcTestStream();
    HevcTestStream(const HevcTestStream&) = delete;
    HevcTestStream& operator=(const HevcTestStream&) = delete;

    // Encodes the next frame and returns its access unit. Fails only when the
    // encoder does (reported as text).
    Result<HevcAccessUnit, std::string> next();
    // Encodes the next `frameCount` frames and ends the stream: all their
    // access units in decode order (with B pictures the encoder holds some
    // back until the end). No next() after it.
    Result<std::vector<HevcAccessUnit>, std::string> finish(int frameCount);

    const HevcTestStreamOptions& options() const { return options_; }

private:
    struct Encoder;
    HevcTestStream(const HevcTestStreamOptions& options, std::unique_ptr<Encoder> encoder);
    // Gives the encoder one frame (nothing: the end of the stream) and keeps
    // the access units it returns.
    std::optional<std::string> encodeFrame(bool end);

    HevcTestStreamOptions options_;
    std::unique_ptr<Encoder> encoder_;
    uint32_t produced_ = 0;
};

// The access units of `frameCount` frames of a new stream made with
// `options`, in decode order.
Result<std::vector<HevcAccessUnit>, std::string> encodeHevcTestStream(
    const HevcTestStreamOptions& options, int frameCount);

// The access units one after the other: the stream as a .hevc file holds it.
Bytes joinAccessUnits(const std::vector<HevcAccessUnit>& units);

// The synthetic picture of frame `index` as NV12 (what the encoder is given).
// Also usable as a raw test picture with an embedded counter.
VideoFrame makePatternFrame(uint32_t index, int width, int height, TimePoint pts = {});

// The frame number in a decoded picture (NV12 or BGRA), or nothing when the
// cells do not read back consistently (not a pattern picture, or damaged).
std::optional<uint32_t> readPatternIndex(const VideoFrame& frame);

// How far `frame` is from the pattern of `index`: the worst mean absolute
// difference of any 16 x 16 luma block (or 8 x 8 chroma block for NV12),
// in 8-bit levels. Sound pictures stay below kPatternDamageThreshold; a
// picture predicted from a wrong reference or cut short lies far above.
// Returns a large value for a null frame.
double patternDamage(const VideoFrame& frame, uint32_t index);
inline constexpr double kPatternDamageThreshold = 24.0;
inline bool patternIntact(const VideoFrame& frame, uint32_t index) {
    return patternDamage(frame, index) < kPatternDamageThreshold;
}

// Live-view datagrams for one stream message, as the camera sends them: a
// start datagram (marker 00 00 01 FF at 20, the message length as 32-bit
// little-endian at 24, message bytes from 36), then continuation datagrams
// (message bytes from 20). Each datagram has at most `datagramBytes` bytes
// (raised to 37 when smaller). Bytes 0-7 are left zero for the sender's
// packet header; bytes 8-19 and 28-35 are zero.
std::vector<Bytes> splitIntoVideoDatagrams(ByteView message, size_t datagramBytes = 1400);

// Offsets of the live-view datagram layout.
inline constexpr size_t kVideoDatagramPayloadOffset = 20;
inline constexpr size_t kVideoStartHeaderBytes = 36;

}  // namespace hollowkit
