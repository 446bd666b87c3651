#pragma once

// The few pieces of HEVC syntax the live view reads itself: splitting an
// Annex-B byte stream into NAL units, the picture size in a sequence
// parameter set (conformance window applied), and the picture order count of
// a slice, which shows when a picture went missing. Pure functions over
// bytes, any thread; every reader takes arbitrary bytes, never reads past
// its input and yields nothing for what it cannot read.

#include <cstdint>
#include <optional>
#include <vector>

#include "hollowkit/base/bytes.h"

namespace hollowkit {

// NAL unit types the live view acts on.
struct HevcNalType {
    HevcNalType() = delete;
    static constexpr int firstIrap = 16;  // BLA_W_LP
    static constexpr int idrWithRadl = 19;
    static constexpr int idrNoLeading = 20;
    static constexpr int lastIrap = 21;   // CRA
    static constexpr int vps = 32;
    static constexpr int sps = 33;
    static constexpr int pps = 34;
};

inline bool isIrapNalType(int type) { return type >= HevcNalType::firstIrap && type <= HevcNalType::lastIrap; }

// (first byte >> 1) & 0x3F; the caller has checked the unit is not empty.
inline int hevcNalType(ByteView nal) { return (nal[0] >> 1) & 0x3F; }

// The NAL units of an Annex-B byte stream, without their start codes, in
// order. 00 00 00 01 is one 4-byte start code; bytes before the first start
// code are ignored, empty units skipped, and zero bytes before the next start
// code stay in the unit. The views point into `stream`.
std::vector<ByteView> splitNalUnits(ByteView stream);

struct HevcSpsInfo {
    int spsId = 0;
    int width = 0;   // after the conformance window
    int height = 0;
    int chromaFormat = 0;
    bool separateColourPlanes = false;
    int log2MaxPocLsb = 0;

    bool operator==(const HevcSpsInfo&) const = default;
};

struct HevcPpsInfo {
    int ppsId = 0;
    int spsId = 0;
    bool dependentSliceSegments = false;
    bool outputFlagPresent = false;
    int extraSliceHeaderBits = 0;

    bool operator==(const HevcPpsInfo&) const = default;
};

// Whole NAL units, two-byte header included.
std::optional<HevcSpsInfo> parseHevcSps(ByteView nal);
std::optional<HevcPpsInfo> parseHevcPps(ByteView nal);

// The picture order count's low bits carried by a slice segment that starts
// its picture (0 for an IDR picture). Nothing when the unit is not such a
// segment or refers to a parameter set other than `pps`.
std::optional<uint32_t> sliceOrderCountLsb(ByteView nal, const HevcSpsInfo& sps, const HevcPpsInfo& pps);

}  // namespace hollowkit
