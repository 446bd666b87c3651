// The guard over one track's packet times: times that already fit pass
// unchanged, B-frame reordering included; nonsense decode times (missing,
// after the presentation, not rising, or far before the first picture) are
// replaced; durations stay within what a QuickTime sample holds.

#include "hollowkit/recording/packet_time_guard.h"

#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

constexpr int64_t kNone = PacketTimes::kNone;
constexpr int64_t kMin = std::numeric_limits<int64_t>::min() + 1;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

struct Step {
    PacketTimes given;
    int64_t earliestDts = kNone;
    PacketTimes expected;
};

TEST(PacketTimeGuardTest, MendsOnlyWhatDoesNotFit) {
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"reordered pictures, decode times before zero",
         {{{0, -6000, 3000}, -6000, {0, -6000, 3000}},
          {{9000, -3000, 3000}, -6000, {9000, -3000, 3000}},
          {{3000, 0, 3000}, -6000, {3000, 0, 3000}},
          {{6000, 3000, 3000}, -6000, {6000, 3000, 3000}}}},
        {"sound with the encoder's priming", {{{-1024, -1024, 1024}, kNone, {-1024, -1024, 1024}},
                                             {{0, 0, 1024}, kNone, {0, 0, 1024}}}},
        {"a first decode time from unset memory, far below",
         {{{0, kMin + 5, 3000}, -3000, {0, 0, 3000}}, {{3000, kMin + 3005, 3000}, -3000, {3000, 3000, 3000}}}},
        {"a first decode time from unset memory, far above",
         {{{0, 2418936867507928711, 3000}, 0, {0, 0, 3000}},
          {{3000, 2418936867507931711, 3000}, 0, {3000, 3000, 3000}}}},
        {"a first decode time before what the frames given allow",
         {{{0, -10225, 3770}, -3770, {0, 0, 3770}}}},
        {"no decode time", {{{0, 0, 3000}, kNone, {0, 0, 3000}}, {{3000, kNone, 3000}, kNone, {3000, 3000, 3000}}}},
        {"no presentation time", {{{kNone, 500, 3000}, kNone, {500, 500, 3000}}}},
        {"no time at all", {{{0, 0, 3000}, kNone, {0, 0, 3000}}, {{kNone, kNone, 3000}, kNone, {1, 1, 3000}}}},
        {"a decode time not after the one before",
         {{{0, 0, 3000}, kNone, {0, 0, 3000}}, {{6000, 0, 3000}, kNone, {6000, 6000, 3000}}}},
        {"a picture shown before the last decode time",
         {{{9000, 6000, 3000}, kNone, {9000, 6000, 3000}}, {{5000, 5000, 3000}, kNone, {6001, 6001, 3000}}}},
        {"durations out of range", {{{0, 0, -2}, kNone, {0, 0, 0}}, {{3000, 3000, kMax}, kNone,
                                                                     {3000, 3000, PacketTimeGuard::kMaxDuration}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PacketTimeGuard guard;
        int index = 0;
        for (const Step& step : c.steps) {
            SCOPED_TRACE("packet " + std::to_string(index++));
            PacketTimes times = step.given;
            EXPECT_EQ(guard.mend(times, step.earliestDts), step.given != step.expected);
            EXPECT_EQ(times.pts, step.expected.pts);
            EXPECT_EQ(times.dts, step.expected.dts);
            EXPECT_EQ(times.duration, step.expected.duration);
            EXPECT_EQ(guard.lastDts(), times.dts);
        }
    }
}

// The log tells a missing time as none, not as the number standing for it
// (an encoder's packet without a decode time read as a huge negative one).
TEST(PacketTimeGuardTest, MissingTimesReadAsNone) {
    const struct {
        PacketTimes times;
        const char* text;
    } cases[] = {
        {{0, kNone, 3000}, "pts 0 dts none duration 3000"},
        {{kNone, kNone, 0}, "pts none dts none duration 0"},
        {{kMin, -7, 1}, "pts -9223372036854775807 dts -7 duration 1"},
    };
    for (const auto& c : cases) EXPECT_EQ(toString(c.times), c.text);
}

}  // namespace
}  // namespace hollowkit
