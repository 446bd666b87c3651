#pragma once

// HevcPictureOrder: follows the picture order counts of the pictures a
// decoder is given, to see when a new coded sequence has begun without its
// random-access picture (it was lost). Then the decoder still holds the old
// sequence's last pictures for reordering: left there, they come out after
// the new sequence's first ones (an old picture flashing up late), and a new
// picture with the same order count as a held one is refused as a
// duplicate. Inside one sequence a picture never repeats an order count and
// never comes before a picture already shown; a picture that does belongs to
// a new sequence. Only the last kTracked pictures sent are remembered, as
// many as the decoder can hold: an older one has been shown (and so is
// covered by the newest shown) or was dropped, and no longer in the
// decoder, it cannot clash with a new one. So the memory and the work per
// picture stay fixed however long a sequence runs.
//
// Pure logic over the sample bytes; one thread (the decoder's).

#include <array>
#include <cstdint>
#include <optional>

#include "hollowkit/wireless/hevc_sample.h"

namespace hollowkit {

class HevcPictureOrder {
public:
    // The order count of the sample's picture, read from its first slice
    // segment and the counts before it (the most significant part follows
    // the previous reference picture of the lowest temporal layer); nothing
    // when the slice cannot be read. Call once per sample, in decode order.
    std::optional<int32_t> take(const HevcSample& sample);

    // True when a picture with this count cannot belong to the sequence
    // begun last: it repeats the count of one of the last kTracked pictures
    // sent since, or comes before a picture of it already shown.
    bool outOfSequence(int32_t orderCount) const;

    // A new sequence begins with the picture numbered `serial` (pictures are
    // numbered as they are sent to the decoder).
    void beginSequence(int64_t serial);
    // The picture numbered `serial`, with its count, went to the decoder.
    void sent(int64_t serial, std::optional<int32_t> orderCount);
    // The picture numbered `serial` came out of the decoder.
    void shown(int64_t serial);

    // Pictures remembered, the most a decoder holds at once.
    static constexpr size_t kTracked = 64;

private:
    int32_t previousTid0_ = 0;
    bool havePrevious_ = false;
    int64_t sequenceStart_ = 0;
    int64_t newestSent_ = -1;
    std::optional<int32_t> newestShown_;
    struct Sent {
        int64_t serial = -1;
        std::optional<int32_t> orderCount;
    };
    // The last kTracked pictures sent, at their serial modulo kTracked.
    std::array<Sent, kTracked> sent_{};

    const Sent* find(int64_t serial) const;
};

}  // namespace hollowkit
