#include "hollowkit/wireless/hevc_picture_order.h"

#include <gtest/gtest.h>

#include <map>

#include "hollowkit/wireless/hevc_stream_assembler.h"
#include "live_view_test_streams.h"

namespace hollowkit {
namespace {

using testsupport::bPictureStream;
using testsupport::smallStream;

// 300 frames after a single IDR: the counts' low bits (8 of them in these
// streams) wrap past 255.
const std::vector<HevcAccessUnit>& longStream() {
    static const std::vector<HevcAccessUnit> units = [] {
        HevcTestStreamOptions options;
        options.width = 160;
        options.height = 96;
        options.irapMode = HevcIrapMode::firstOnly;
        auto encoded = encodeHevcTestStream(options, 300);
        EXPECT_TRUE(encoded) << encoded.error();
        return encoded ? std::move(encoded).value() : std::vector<HevcAccessUnit>{};
    }();
    return units;
}

// Every picture's count is its place in display order since the last IDR:
// the frame number the encoder drew into it, less the IDR's.
TEST(HevcPictureOrder, CountsFollowDisplayOrderSinceTheLastIdr) {
    struct Case {
        const char* name;
        const std::vector<HevcAccessUnit>* units;
    };
    const Case cases[] = {
        {"predicted pictures, an IDR every 10", &smallStream()},
        {"B pictures, an IDR every 10", &bPictureStream()},
        {"one IDR, counts past the low bits' range", &longStream()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& units = *c.units;
        ASSERT_FALSE(units.empty());
        HevcStreamAssembler assembler;
        HevcPictureOrder order;
        std::vector<std::optional<int32_t>> counts;
        assembler.setOnSample([&](const HevcSample& sample) { counts.push_back(order.take(sample)); });
        std::vector<std::optional<int32_t>> expected;
        uint32_t idrIndex = 0;
        for (const HevcAccessUnit& unit : units) {
            for (const Bytes& d : splitIntoVideoDatagrams(unit.bytes, 1400)) {
                assembler.push(d);
            }
            if (unit.irap) {
                idrIndex = unit.index;
            }
            expected.push_back(static_cast<int32_t>(unit.index - idrIndex));
        }
        EXPECT_EQ(counts, expected);
    }
}

TEST(HevcPictureOrder, APictureOutsideTheSequenceIsRecognised) {
    struct Step {
        enum Kind { begin, sent, shown } kind;
        int64_t serial;
        int32_t count = 0;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        int32_t next;
        bool outside;
    };
    // `steps`, then `n` pictures from serial `first` sent with counts from 100.
    const auto thenSent = [](std::vector<Step> steps, int64_t first, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            steps.push_back({Step::sent, first + static_cast<int64_t>(i), 100 + static_cast<int32_t>(i)});
        }
        return steps;
    };
    constexpr size_t kHeld = HevcPictureOrder::kTracked;
    const Case cases[] = {
        {"a new count", {{Step::begin, 0}, {Step::sent, 0, 0}, {Step::sent, 1, 4}}, 2, false},
        {"a count sent before", {{Step::begin, 0}, {Step::sent, 0, 0}, {Step::sent, 1, 4}}, 4, true},
        {"before a shown picture",
         {{Step::begin, 0}, {Step::sent, 0, 0}, {Step::sent, 1, 8}, {Step::shown, 0}, {Step::sent, 2, 4},
          {Step::shown, 2}},
         3, true},
        {"after every shown picture, before a held one",
         {{Step::begin, 0}, {Step::sent, 0, 0}, {Step::sent, 1, 8}, {Step::shown, 0}},
         4, false},
        {"a new sequence forgets the old one",
         {{Step::begin, 0}, {Step::sent, 0, 0}, {Step::sent, 1, 4}, {Step::shown, 1}, {Step::begin, 2},
          {Step::sent, 2, 0}},
         4, false},
        {"an old sequence's picture shown late says nothing of the new one",
         {{Step::begin, 0}, {Step::sent, 0, 0}, {Step::sent, 1, 9}, {Step::begin, 2}, {Step::sent, 2, 0},
          {Step::shown, 1}},
         4, false},
        // A picture never shown and older than the decoder can hold is gone
        // from it, so a new one cannot clash with it.
        {"a count among the pictures a decoder can hold",
         thenSent({{Step::begin, 0}, {Step::sent, 0, 7}}, 1, kHeld - 1), 7, true},
        {"a count sent before what a decoder can hold",
         thenSent({{Step::begin, 0}, {Step::sent, 0, 7}}, 1, kHeld), 7, false},
        {"a long sequence still knows its newest picture",
         thenSent({{Step::begin, 0}}, 0, 1'000), 100 + 999, true},
    };
    for (const Case& c : cases) {
        HevcPictureOrder order;
        for (const Step& step : c.steps) {
            if (step.kind == Step::begin) {
                order.beginSequence(step.serial);
            } else if (step.kind == Step::sent) {
                order.sent(step.serial, step.count);
            } else {
                order.shown(step.serial);
            }
        }
        EXPECT_EQ(order.outOfSequence(c.next), c.outside) << c.name;
    }
}

}  // namespace
}  // namespace hollowkit
