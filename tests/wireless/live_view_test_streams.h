#pragma once

// Test streams for the live-view assembly and decoding tests: encoded once
// per process, cut into numbered video datagrams, and the picture bytes the
// assembler is expected to hand on for each access unit.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

#include "hollowkit/testing/hevc_test_stream.h"
#include "hollowkit/wireless/hevc_syntax.h"
#include "hollowkit/wireless/udp_packet.h"

namespace hollowkit::testsupport {

// 30 frames of 320x180, an IDR every 10 frames, numbers from `firstIndex`.
inline const std::vector<HevcAccessUnit>& smallStream(int width = 320, int height = 180, uint32_t firstIndex = 0,
                                                      HevcIrapMode mode = HevcIrapMode::everyGop) {
    static std::map<std::tuple<int, int, uint32_t, HevcIrapMode>, std::vector<HevcAccessUnit>> cache;
    auto key = std::make_tuple(width, height, firstIndex, mode);
    auto found = cache.find(key);
    if (found == cache.end()) {
        HevcTestStreamOptions options;
        options.width = width;
        options.height = height;
        options.gopLength = 10;
        options.firstIndex = firstIndex;
        options.irapMode = mode;
        auto units = encodeHevcTestStream(options, 30);
        EXPECT_TRUE(units) << units.error();
        found = cache.emplace(key, units ? std::move(units).value() : std::vector<HevcAccessUnit>{}).first;
    }
    return found->second;
}

// 30 frames of 320x180 with three B pictures between reference pictures,
// an IDR every 10 frames: access units in decode order.
inline const std::vector<HevcAccessUnit>& bPictureStream(uint32_t firstIndex = 0) {
    static std::map<uint32_t, std::vector<HevcAccessUnit>> cache;
    auto found = cache.find(firstIndex);
    if (found == cache.end()) {
        HevcTestStreamOptions options;
        options.gopLength = 10;
        options.firstIndex = firstIndex;
        options.bFrames = 3;
        auto units = encodeHevcTestStream(options, 30);
        EXPECT_TRUE(units) << units.error();
        found = cache.emplace(firstIndex, units ? std::move(units).value() : std::vector<HevcAccessUnit>{}).first;
    }
    return found->second;
}

struct NumberedDatagram {
    Bytes bytes;
    int unit = 0;  // index of the access unit it carries
};

// The units cut into video datagrams of `size` bytes with link headers of
// `session`; numbers count up from `*sequence` (0 stays 0: unnumbered).
inline std::vector<NumberedDatagram> videoDatagrams(const std::vector<HevcAccessUnit>& units, uint16_t session,
                                                    uint16_t* sequence, size_t size) {
    std::vector<NumberedDatagram> out;
    for (size_t u = 0; u < units.size(); ++u) {
        for (Bytes& d : splitIntoVideoDatagrams(units[u].bytes, size)) {
            uint16_t number = 0;
            if (sequence != nullptr) {
                *sequence = static_cast<uint16_t>(*sequence == 0xFFFF ? 1 : *sequence + 1);
                number = *sequence;
            }
            const Bytes header = packetHeader(UdpPacketType::video, d.size() - kUdpHeaderLength, session, number);
            std::copy(header.begin(), header.end(), d.begin());
            out.push_back({std::move(d), static_cast<int>(u)});
        }
    }
    return out;
}

// What the assembler hands on for a unit: its picture NAL units (types
// below 32) behind 4-byte start codes.
inline Bytes pictureBytes(const HevcAccessUnit& unit) {
    Bytes out;
    for (ByteView nal : splitNalUnits(unit.bytes)) {
        if (hevcNalType(nal) < HevcNalType::vps) {
            out.insert(out.end(), {0, 0, 0, 1});
            out.insert(out.end(), nal.begin(), nal.end());
        }
    }
    return out;
}

// The frame number of the unit whose picture bytes these are, or -1.
inline int unitOfPicture(const std::vector<HevcAccessUnit>& units, ByteView picture) {
    for (size_t i = 0; i < units.size(); ++i) {
        const Bytes expected = pictureBytes(units[i]);
        if (expected.size() == picture.size() && std::equal(expected.begin(), expected.end(), picture.begin())) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace hollowkit::testsupport
