#pragma once

// What the stream assembler hands to the decoder: the video format (the
// three parameter sets it was made from, and the picture size) and one
// compressed picture. Value types, any thread.

#include <memory>

#include "hollowkit/base/bytes.h"
#include "hollowkit/wireless/hevc_syntax.h"

namespace hollowkit {

struct HevcFormat {
    Bytes vps;  // whole NAL units with their two header bytes, no start code
    Bytes sps;
    Bytes pps;
    HevcSpsInfo spsInfo;  // size after the conformance window
    HevcPpsInfo ppsInfo;

    int width() const { return spsInfo.width; }
    int height() const { return spsInfo.height; }
    bool operator==(const HevcFormat&) const = default;

    // VPS, SPS and PPS, each behind a 4-byte start code.
    Bytes annexB() const;
};

struct HevcSample {
    // Shared by every sample of one format; a new object whenever a
    // parameter set changes.
    std::shared_ptr<const HevcFormat> format;
    // The picture's NAL units (types below 32), each behind 00 00 00 01.
    // Points into the assembler's buffer: valid during the call only.
    ByteView annexB;
    // Holds a random-access (IRAP) picture.
    bool randomAccess = false;
    // Something was lost since the previous sample (a message that never
    // completed, or datagrams no complete message accounts for): a picture
    // this one refers to may be missing.
    bool afterLoss = false;
};

}  // namespace hollowkit
