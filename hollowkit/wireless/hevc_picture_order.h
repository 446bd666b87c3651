#pragma once

// HevcPictureOrder: follows the picture order counts of the pictures a
// decoder is given, to see when a new coded sequence has begun without its
// random-access picture (it was lost). Then the decoder still holds the old
// sequence's last pictures for reordering: left there, they come out after
// the new sequence's first ones (an old picture flashing up late), and a new
// picture with the same order count as a held one is refused as a
// duplicate. Inside one sequence a picture never repeats an order count and
// never comes before a picture already shown; a picture that does belongs to
// a new sequence.
//
// Pure logic over the sample bytes; one thread (the decoder's).

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

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
    // begun last: it repeats a count sent since, or comes before a picture
    // of it already shown.
    bool outOfSequence(int32_t orderCount) const;

    // A new sequence begins with the picture numbered `serial` (pictures are
    // numbered as they are sent to the decoder).
    void beginSequence(int64_t serial);
    // The picture numbered `serial`, with its count, went to the decoder.
    void sent(int64_t serial, std::optional<int32_t> orderCount);
    // The picture numbered `serial` came out of the decoder.
    void shown(int64_t serial);

private:
    static constexpr size_t kTracked = 64;

    int32_t previousTid0_ = 0;
    bool havePrevious_ = false;
    int64_t sequenceStart_ = 0;
    int64_t newestSent_ = -1;
    std::vector<int32_t> sentCounts_;  // of the current sequence
    std::optional<int32_t> newestShown_;
    std::array<std::optional<int32_t>, kTracked> countBySerial_{};
};

}  // namespace hollowkit
