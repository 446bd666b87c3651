#include "hollowkit/wireless/hevc_syntax.h"

#include <gtest/gtest.h>

#include "hollowkit/testing/hevc_test_stream.h"

namespace hollowkit {
namespace {

std::vector<Bytes> unitsOf(ByteView stream) {
    std::vector<Bytes> out;
    for (ByteView unit : splitNalUnits(stream)) {
        out.emplace_back(unit.begin(), unit.end());
    }
    return out;
}

TEST(HevcSyntax, SplitsAtThreeAndFourByteStartCodes) {
    struct Case {
        const char* stream;
        std::vector<const char*> units;
    };
    const Case cases[] = {
        {"", {}},
        {"0000", {}},
        {"000001", {}},                                   // a start code and nothing after it
        {"00000140010000000142", {"4001", "42"}},         // 3-byte then 4-byte: one code, not 00 + 3-byte
        {"ffee0000014001", {"4001"}},                     // bytes before the first code are ignored
        {"000001000001aa", {"aa"}},                       // empty unit skipped
        {"000001aa000000000001bb", {"aa0000", "bb"}},     // zeros before the next code stay
        {"0000000140010000014201", {"4001", "4201"}},
    };
    for (const Case& c : cases) {
        std::vector<Bytes> expected;
        for (const char* unit : c.units) {
            expected.push_back(bytesFromHex(unit));
        }
        EXPECT_EQ(unitsOf(bytesFromHex(c.stream)), expected) << c.stream;
    }
}

TEST(HevcSyntax, ReadsSizesOfEncodedStreams) {
    // 180 and 1080 are not multiples of the coding block: the coded size is
    // larger and the conformance window crops it back.
    for (auto [width, height] : {std::pair{320, 180}, std::pair{1920, 1080}, std::pair{64, 64}}) {
        HevcTestStreamOptions options;
        options.width = width;
        options.height = height;
        auto units = encodeHevcTestStream(options, 2);
        ASSERT_TRUE(units) << units.error();
        std::optional<HevcSpsInfo> sps;
        std::optional<HevcPpsInfo> pps;
        std::vector<std::optional<uint32_t>> counts;
        for (const HevcAccessUnit& unit : *units) {
            for (ByteView nal : splitNalUnits(unit.bytes)) {
                if (hevcNalType(nal) == HevcNalType::sps) {
                    sps = parseHevcSps(nal);
                } else if (hevcNalType(nal) == HevcNalType::pps) {
                    pps = parseHevcPps(nal);
                } else if (hevcNalType(nal) < HevcNalType::vps && sps && pps) {
                    counts.push_back(sliceOrderCountLsb(nal, *sps, *pps));
                }
            }
        }
        ASSERT_TRUE(sps && pps);
        EXPECT_EQ(sps->width, width);
        EXPECT_EQ(sps->height, height);
        EXPECT_EQ(sps->chromaFormat, 1);
        EXPECT_EQ(pps->spsId, sps->spsId);
        // IDR (order count 0), then the next picture.
        EXPECT_EQ(counts, (std::vector<std::optional<uint32_t>>{0u, 1u}));
    }
}

TEST(HevcSyntax, RejectsUnreadableParameterSets) {
    const char* cases[] = {
        "",
        "42",          // header byte only
        "4201",        // header, no payload
        "420101",      // cut inside profile_tier_level
        "4401c0",      // a PPS is not an SPS
        ("4201" "ffffffffffffffffffffffffffffffffffffffffffff"),  // sub-layer count 7 and garbage
    };
    for (const char* hex : cases) {
        const Bytes nal = bytesFromHex(hex);
        EXPECT_FALSE(parseHevcSps(nal)) << hex;
    }
    EXPECT_FALSE(parseHevcPps(bytesFromHex("4401")));
    EXPECT_FALSE(parseHevcPps(bytesFromHex("4201c0")));
    // ue(v) with more than 31 leading zeros.
    EXPECT_FALSE(parseHevcPps(bytesFromHex("440100000000000000")));
}

}  // namespace
}  // namespace hollowkit
