#include "hollowkit/wireless/hevc_syntax.h"

namespace hollowkit {

namespace {

// Reads bits from a NAL unit's payload, dropping emulation-prevention bytes
// (00 00 03) on the way. Reads past the end fail and stay failed.
class BitReader {
public:
    explicit BitReader(ByteView bytes) : bytes_(bytes) {}

    uint32_t bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value = (value << 1) | bit();
        }
        return value;
    }

    uint32_t bit() {
        if (bitInByte_ == 0 && !loadByte()) {
            failed_ = true;
            return 0;
        }
        --bitInByte_;
        return (current_ >> bitInByte_) & 1;
    }

    // Exp-Golomb ue(v); values beyond 32 bits fail.
    uint32_t ue() {
        int zeros = 0;
        while (!failed_ && bit() == 0) {
            if (++zeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        if (failed_) {
            return 0;
        }
        const uint64_t value = (uint64_t{1} << zeros) - 1 + bits(zeros);
        return static_cast<uint32_t>(value);
    }

    void skip(int count) {
        for (int i = 0; i < count && !failed_; ++i) {
            bit();
        }
    }

    bool failed() const { return failed_; }

private:
    bool loadByte() {
        if (offset_ >= bytes_.size()) {
            return false;
        }
        if (zeros_ >= 2 && bytes_[offset_] == 3) {
            zeros_ = 0;
            if (++offset_ >= bytes_.size()) {
                return false;
            }
        }
        current_ = bytes_[offset_++];
        zeros_ = current_ == 0 ? zeros_ + 1 : 0;
        bitInByte_ = 8;
        return true;
    }

    ByteView bytes_;
    size_t offset_ = 0;
    int zeros_ = 0;
    uint8_t current_ = 0;
    int bitInByte_ = 0;
    bool failed_ = false;
};

constexpr int kMaxSubLayers = 7;

void skipProfileTierLevel(BitReader& r, int maxSubLayersMinus1) {
    r.skip(2 + 1 + 5 + 32 + 48 + 8);  // general profile, flags, level
    bool profilePresent[kMaxSubLayers] = {};
    bool levelPresent[kMaxSubLayers] = {};
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = r.bit() != 0;
        levelPresent[i] = r.bit() != 0;
    }
    if (maxSubLayersMinus1 > 0) {
        r.skip(2 * (8 - maxSubLayersMinus1));
    }
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i]) {
            r.skip(88);
        }
        if (levelPresent[i]) {
            r.skip(8);
        }
    }
}

constexpr uint32_t kMaxParameterSetId = 63;

}  // namespace

std::vector<ByteView> splitNalUnits(ByteView stream) {
    struct StartCode {
        size_t at;
        size_t length;
    };
    std::vector<StartCode> codes;
    size_t i = 0;
    while (i + 3 <= stream.size()) {
        if (i + 4 <= stream.size() && stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 0 &&
            stream[i + 3] == 1) {
            codes.push_back({i, 4});
            i += 4;
        } else if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            codes.push_back({i, 3});
            i += 3;
        } else {
            ++i;
        }
    }
    std::vector<ByteView> units;
    units.reserve(codes.size());
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t begin = codes[k].at + codes[k].length;
        const size_t end = k + 1 < codes.size() ? codes[k + 1].at : stream.size();
        if (end > begin) {
            units.push_back(stream.subspan(begin, end - begin));
        }
    }
    return units;
}

std::optional<HevcSpsInfo> parseHevcSps(ByteView nal) {
    if (nal.size() < 3 || hevcNalType(nal) != HevcNalType::sps) {
        return std::nullopt;
    }
    BitReader r(nal.subspan(2));
    r.skip(4);  // sps_video_parameter_set_id
    const int maxSubLayersMinus1 = static_cast<int>(r.bits(3));
    r.skip(1);  // sps_temporal_id_nesting_flag
    if (maxSubLayersMinus1 >= kMaxSubLayers) {
        return std::nullopt;
    }
    skipProfileTierLevel(r, maxSubLayersMinus1);
    HevcSpsInfo info;
    const uint32_t spsId = r.ue();
    const uint32_t chroma = r.ue();
    if (spsId > 15 || chroma > 3) {
        return std::nullopt;
    }
    info.spsId = static_cast<int>(spsId);
    info.chromaFormat = static_cast<int>(chroma);
    if (chroma == 3) {
        info.separateColourPlanes = r.bit() != 0;
    }
    const uint32_t codedWidth = r.ue();
    const uint32_t codedHeight = r.ue();
    uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (r.bit() != 0) {
        cropLeft = r.ue();
        cropRight = r.ue();
        cropTop = r.ue();
        cropBottom = r.ue();
    }
    r.ue();  // bit_depth_luma_minus8
    r.ue();  // bit_depth_chroma_minus8
    const uint32_t log2PocMinus4 = r.ue();
    if (r.failed() || log2PocMinus4 > 12) {
        return std::nullopt;
    }
    const bool subsampled = chroma != 0 && !info.separateColourPlanes;
    const uint64_t unitX = subsampled && chroma != 3 ? 2 : 1;
    const uint64_t unitY = subsampled && chroma == 1 ? 2 : 1;
    const uint64_t cropX = unitX * (cropLeft + cropRight);
    const uint64_t cropY = unitY * (cropTop + cropBottom);
    constexpr uint64_t kMaxCoded = 1u << 16;
    if (codedWidth == 0 || codedHeight == 0 || codedWidth > kMaxCoded || codedHeight > kMaxCoded ||
        cropX >= codedWidth || cropY >= codedHeight) {
        return std::nullopt;
    }
    info.width = static_cast<int>(codedWidth - cropX);
    info.height = static_cast<int>(codedHeight - cropY);
    info.log2MaxPocLsb = static_cast<int>(log2PocMinus4 + 4);
    return info;
}

std::optional<HevcPpsInfo> parseHevcPps(ByteView nal) {
    if (nal.size() < 3 || hevcNalType(nal) != HevcNalType::pps) {
        return std::nullopt;
    }
    BitReader r(nal.subspan(2));
    HevcPpsInfo info;
    const uint32_t ppsId = r.ue();
    const uint32_t spsId = r.ue();
    info.dependentSliceSegments = r.bit() != 0;
    info.outputFlagPresent = r.bit() != 0;
    info.extraSliceHeaderBits = static_cast<int>(r.bits(3));
    if (r.failed() || ppsId > kMaxParameterSetId || spsId > 15) {
        return std::nullopt;
    }
    info.ppsId = static_cast<int>(ppsId);
    info.spsId = static_cast<int>(spsId);
    return info;
}

std::optional<uint32_t> sliceOrderCountLsb(ByteView nal, const HevcSpsInfo& sps, const HevcPpsInfo& pps) {
    if (nal.size() < 3) {
        return std::nullopt;
    }
    const int type = hevcNalType(nal);
    if (type >= HevcNalType::vps || (type > 9 && type < HevcNalType::firstIrap) || type > 23) {
        return std::nullopt;  // not a slice segment
    }
    BitReader r(nal.subspan(2));
    if (r.bit() == 0) {
        return std::nullopt;  // not the picture's first segment
    }
    if (type >= HevcNalType::firstIrap) {
        r.skip(1);  // no_output_of_prior_pics_flag
    }
    if (r.ue() != static_cast<uint32_t>(pps.ppsId) || pps.spsId != sps.spsId) {
        return std::nullopt;
    }
    r.skip(pps.extraSliceHeaderBits);
    r.ue();  // slice_type
    if (pps.outputFlagPresent) {
        r.skip(1);
    }
    if (sps.separateColourPlanes) {
        r.skip(2);
    }
    uint32_t lsb = 0;
    if (type != HevcNalType::idrWithRadl && type != HevcNalType::idrNoLeading) {
        lsb = r.bits(sps.log2MaxPocLsb);
    }
    if (r.failed()) {
        return std::nullopt;
    }
    return lsb;
}

}  // namespace hollowkit
