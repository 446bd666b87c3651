#pragma once

// FfmpegHevcDecoder: the live view's HEVC decoder on libavcodec, in
// software and without added delay: no frame threads, so a picture comes
// out of the decode() call that put it in, or, in a stream with B pictures,
// as soon as its turn in display order has come; slice threads (and the
// wavefront rows x265-style encoders use) spread one picture over cores.
//
// A decoder session is made for each video format and made again when the
// video or sequence parameter set changes (a new picture size, for example);
// a new picture parameter set alone goes to the running session in-band.
// A new session skips pictures until its first random-access one. After
// that every picture is decoded: one whose own bytes do not parse is refused
// whole and lost alone, and a reference missing for a later one (lost on the
// way or refused) is stood in for by the decoder, so that picture is shown,
// counted as concealed, until a random-access picture mends the chain. When
// the lost picture was a random-access one, the pictures still held for
// reordering are let out first and the decoder starts over, so that no old
// picture comes out after the new sequence's (HevcPictureOrder). What
// became of each picture is counted by reason (counts()); the first three
// decode errors are logged, nothing per picture.
//
// Pictures come out as NV12 VideoFrames stamped with the clock's time at
// decode. The luma plane is the decoder's own buffer, shared (no copy); the
// chroma planes are interleaved once into a recycled buffer.
//
// Thread contract as HevcDecoder: one thread.

#include <array>
#include <cstdint>
#include <memory>

#include "hollowkit/base/clock.h"
#include "hollowkit/wireless/hevc_decoder.h"
#include "hollowkit/wireless/hevc_picture_order.h"

namespace hollowkit {

struct FfmpegHevcDecoderOptions {
    // Slice threads; 0 picks one per CPU this process may run on, at most 8.
    int threads = 0;
};

class FfmpegHevcDecoder final : public HevcDecoder {
public:
    explicit FfmpegHevcDecoder(const Clock& clock = Clock::system(), FfmpegHevcDecoderOptions options = {});
    ~FfmpegHevcDecoder() override;
    FfmpegHevcDecoder(const FfmpegHevcDecoder&) = delete;
    FfmpegHevcDecoder& operator=(const FfmpegHevcDecoder&) = delete;

    void decode(const HevcSample& sample) override;

    // Sessions made so far (one per format).
    int sessionsMade() const { return sessionsMade_; }

private:
    struct Session;

    // Pictures in the decoder at once, at most (reordering included); the
    // concealment marks are kept for this many.
    static constexpr size_t kTrackedPictures = 64;

    bool makeSession(const std::shared_ptr<const HevcFormat>& format);
    void fail(int status);
    void receiveFrames();
    // Lets out every picture the decoder holds and empties it, for a new
    // sequence that came without its random-access picture.
    void drainAndRestart();

    const Clock& clock_;
    const FfmpegHevcDecoderOptions options_;
    std::unique_ptr<Session> session_;
    std::shared_ptr<const HevcFormat> format_;
    int sessionsMade_ = 0;
    int loggedFailures_ = 0;
    bool awaitingRandomAccess_ = true;
    // A picture since the last random-access one was lost or refused.
    bool chainBroken_ = false;
    // Pictures sent, numbered; the number rides through the decoder as the
    // packet's timestamp and picks the picture's concealment mark.
    int64_t picturesSent_ = 0;
    std::array<bool, kTrackedPictures> concealedMarks_{};
    HevcPictureOrder order_;
    Bytes packetBytes_;
};

}  // namespace hollowkit
