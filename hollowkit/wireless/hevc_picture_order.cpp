#include "hollowkit/wireless/hevc_picture_order.h"

#include <algorithm>

namespace hollowkit {

namespace {

// Types that never serve as the base for later order counts: leading
// pictures (RADL, RASL) and sub-layer non-reference pictures (even types
// up to 14).
bool anchorsOrderCounts(int type, int temporalId) {
    if (temporalId != 0) {
        return false;
    }
    if (type >= 6 && type <= 9) {
        return false;
    }
    return !(type <= 14 && type % 2 == 0);
}

int32_t floorMod(int32_t value, int32_t modulus) {
    return ((value % modulus) + modulus) % modulus;
}

}  // namespace

std::optional<int32_t> HevcPictureOrder::take(const HevcSample& sample) {
    if (!sample.format) {
        return std::nullopt;
    }
    const HevcFormat& format = *sample.format;
    for (ByteView nal : splitNalUnits(sample.annexB)) {
        if (nal.size() < 3) {
            continue;
        }
        const int type = hevcNalType(nal);
        if (type >= HevcNalType::vps) {
            continue;
        }
        const auto lsb = sliceOrderCountLsb(nal, format.spsInfo, format.ppsInfo);
        if (!lsb || format.spsInfo.log2MaxPocLsb <= 0 || format.spsInfo.log2MaxPocLsb > 16) {
            return std::nullopt;
        }
        const int32_t maxLsb = int32_t{1} << format.spsInfo.log2MaxPocLsb;
        const auto current = static_cast<int32_t>(*lsb);
        int32_t msb = 0;
        // An IDR or BLA picture starts counting anew; so does a CRA picture
        // with nothing before it.
        const bool restarts = (isIrapNalType(type) && type != HevcNalType::lastIrap) ||
                              (type == HevcNalType::lastIrap && !havePrevious_);
        if (!restarts) {
            const int32_t previousLsb = floorMod(previousTid0_, maxLsb);
            const int32_t previousMsb = previousTid0_ - previousLsb;
            if (current < previousLsb && previousLsb - current >= maxLsb / 2) {
                msb = previousMsb + maxLsb;
            } else if (current > previousLsb && current - previousLsb > maxLsb / 2) {
                msb = previousMsb - maxLsb;
            } else {
                msb = previousMsb;
            }
        }
        const int32_t count = msb + current;
        const int temporalId = (nal[1] & 0x07) - 1;
        if (anchorsOrderCounts(type, temporalId)) {
            previousTid0_ = count;
            havePrevious_ = true;
        }
        return count;
    }
    return std::nullopt;
}

bool HevcPictureOrder::outOfSequence(int32_t orderCount) const {
    if (newestShown_ && orderCount <= *newestShown_) {
        return true;
    }
    const int64_t oldest = std::max(sequenceStart_, newestSent_ - static_cast<int64_t>(kTracked) + 1);
    return std::any_of(sent_.begin(), sent_.end(), [&](const Sent& sent) {
        return sent.serial >= oldest && sent.orderCount == orderCount;
    });
}

const HevcPictureOrder::Sent* HevcPictureOrder::find(int64_t serial) const {
    const Sent& slot = sent_[static_cast<size_t>(serial) % kTracked];
    return slot.serial == serial ? &slot : nullptr;
}

void HevcPictureOrder::beginSequence(int64_t serial) {
    sequenceStart_ = serial;
    newestShown_.reset();
}

void HevcPictureOrder::sent(int64_t serial, std::optional<int32_t> orderCount) {
    sent_[static_cast<size_t>(serial) % kTracked] = Sent{serial, orderCount};
    newestSent_ = serial;
}

void HevcPictureOrder::shown(int64_t serial) {
    // Pictures of an earlier sequence, or too old to be tracked, say nothing
    // about this one.
    const Sent* sent = serial < sequenceStart_ ? nullptr : find(serial);
    if (sent == nullptr) {
        return;
    }
    const std::optional<int32_t> count = sent->orderCount;
    if (count && (!newestShown_ || *count > *newestShown_)) {
        newestShown_ = count;
    }
}

}  // namespace hollowkit
