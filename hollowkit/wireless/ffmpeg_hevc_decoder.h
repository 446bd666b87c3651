#pragma once

// FfmpegHevcDecoder: the live view's HEVC decoder on libavcodec, in
// software and without delay: no frame threads and no reordering, so each
// picture comes out of the decode() call that put it in; slice threads (and
// the wavefront rows x265-style encoders use) spread one picture over cores.
//
// A decoder session is made for each video format and made again when the
// video or sequence parameter set changes (a new picture size, for example);
// a new picture parameter set alone goes to the running session in-band.
// After a decode error, and in a new session, pictures are skipped until the
// next random-access one, so a damaged reference never shows. Decode errors
// are counted; the first three are logged.
//
// Pictures come out as NV12 VideoFrames stamped with the clock's time at
// decode. The luma plane is the decoder's own buffer, shared (no copy); the
// chroma planes are interleaved once into a recycled buffer.
//
// Thread contract as HevcDecoder: one thread.

#include <memory>

#include "hollowkit/base/clock.h"
#include "hollowkit/wireless/hevc_decoder.h"

namespace hollowkit {

struct FfmpegHevcDecoderOptions {
    // Slice threads; 0 picks one per processor core, at most 8.
    int threads = 0;
};

class FfmpegHevcDecoder final : public HevcDecoder {
public:
    explicit FfmpegHevcDecoder(const Clock& clock = Clock::system(), FfmpegHevcDecoderOptions options = {});
    ~FfmpegHevcDecoder() override;
    FfmpegHevcDecoder(const FfmpegHevcDecoder&) = delete;
    FfmpegHevcDecoder& operator=(const FfmpegHevcDecoder&) = delete;

    void decode(const HevcSample& sample) override;
    int failures() const override { return failures_; }

    // Sessions made so far (one per format).
    int sessionsMade() const { return sessionsMade_; }
    // Samples skipped while waiting for a random-access picture.
    int skippedSamples() const { return skippedSamples_; }

private:
    struct Session;

    bool makeSession(const std::shared_ptr<const HevcFormat>& format);
    void fail(int status);
    void receiveFrames();

    const Clock& clock_;
    const FfmpegHevcDecoderOptions options_;
    std::unique_ptr<Session> session_;
    std::shared_ptr<const HevcFormat> format_;
    int failures_ = 0;
    int sessionsMade_ = 0;
    int skippedSamples_ = 0;
    bool awaitingRandomAccess_ = true;
    Bytes packetBytes_;
};

}  // namespace hollowkit
