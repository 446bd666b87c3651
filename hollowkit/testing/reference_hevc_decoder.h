#pragma once

// ReferenceHevcDecoder: libavcodec's HEVC decoder used the plain way, whole
// Annex-B access units in, pictures out, with nothing of ours in between. Tests
// use it to check what a test stream holds; benchmarks use it as the baseline
// that the live-view pipeline is compared with. One thread at a time.

#include <memory>
#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class ReferenceHevcDecoder {
public:
    // `threads` slice threads (1: decode on the calling thread only).
    static Result<std::unique_ptr<ReferenceHevcDecoder>, std::string> create(int threads = 1);
    ~ReferenceHevcDecoder();
    ReferenceHevcDecoder(const ReferenceHevcDecoder&) = delete;
    ReferenceHevcDecoder& operator=(const ReferenceHevcDecoder&) = delete;

    // Decodes one access unit and returns how many pictures came out (0 or 1
    // with a low-delay stream). Decoder errors are counted, not returned.
    int decode(ByteView accessUnit);

    // The newest picture, copied to NV12; null before the first one.
    VideoFrame lastFrame() const;
    int errors() const { return errors_; }

private:
    struct Codec;
    explicit ReferenceHevcDecoder(std::unique_ptr<Codec> codec);

    std::unique_ptr<Codec> codec_;
    int errors_ = 0;
};

}  // namespace hollowkit
